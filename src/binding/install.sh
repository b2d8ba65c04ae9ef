#!/bin/sh
# Copies the tarvo module built for PYTHON (and its type stub) into that
# interpreter's site-packages, or into its per-user site with --user.
#
#   src/binding/install.sh [--user] PYTHON [BUILD_DIR]
#
# BUILD_DIR defaults to build/ at the repository root; the module must have
# been built there for PYTHON's version (cmake --workflow --preset test).
set -eu
usage="usage: $0 [--user] PYTHON [BUILD_DIR]"
user=0
if [ "${1:-}" = "--user" ]; then
  user=1
  shift
fi
[ $# -ge 1 ] || { echo "$usage" >&2; exit 2; }
py=$1
# Run again after the cd below, so a relative path must become absolute.
case $py in
  */*) py="$(cd "$(dirname "$py")" && pwd)/$(basename "$py")" ;;
esac
build=${2:-$(cd "$(dirname "$0")/../.." && pwd)/build}

version=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
dir="$build/python/$version"
module=
for f in "$dir"/tarvo*.so; do
  [ -e "$f" ] && module=$f
done
if [ -z "$module" ]; then
  echo "no tarvo module for Python $version in $dir; build it first (cmake --workflow --preset test)" >&2
  exit 1
fi

if [ $user = 1 ]; then
  dest=$("$py" -c 'import site; print(site.getusersitepackages())')
else
  dest=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
fi
mkdir -p "$dest"
cp "$module" "$dir/tarvo.pyi" "$dest/"
# Imported from elsewhere, so that the build tree cannot stand in for it.
cd /
"$py" -c 'import tarvo; print("installed " + tarvo.__file__)'
