#!/bin/sh
# Installs tarvo from a copy of its source tree into a fresh virtual
# environment the way a user would, offline, uses it from outside the source
# tree and uninstalls it again; then makes the sdist, builds a wheel from it
# and checks that wheel (check_wheel.py), and that a wheel built in the tree
# is the same.
#
#   tests/python_package/run.sh PYTHON SOURCE WORK [VENV_OPTION]
#
# VENV_OPTION such as --system-site-packages goes to `python -m venv`: with
# Debian's python3-wheel visible the standard bdist_wheel makes the wheels,
# without it setup.py's offline stand-in does.
#
# Exits 77 (skipped) when PYTHON's virtual environments bring no setuptools:
# without network there is then nothing to build with.
set -eu
py=$1 src=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
"$py" -m venv ${4:-} "$work/venv"
venv="$work/venv/bin/python"
version=$("$venv" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if ! "$venv" -c 'import setuptools' 2>/dev/null; then
  echo "skipped: a Python $version virtual environment has no setuptools, and getting it needs the network"
  exit 77
fi
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1
# Unoptimised (added after the interpreter's own flags, so this wins): the
# test is about packaging, and the sources' optimised build is tested
# elsewhere. The interpreter's -g stays, for setup.py to drop.
export CFLAGS="${CFLAGS:-} -O0"

# The tree without build directories, which are no part of the project.
mkdir "$work/src"
tar -C "$src" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -C "$work/src" -xf -
src=$work/src
"$venv" -m pip install --no-build-isolation "$src"
# Used from elsewhere, so that the source tree cannot stand in for it.
cd "$work"
"$venv" - "$src" <<'PY'
import os, sys
import tarvo
src = sys.argv[1]
with open(os.path.join(src, "VERSION")) as f:
    assert tarvo.__version__ == f.read().strip(), tarvo.__version__
assert tarvo.__file__.startswith(sys.prefix), tarvo.__file__
ends = []
assert tarvo.parse(path=os.path.join(src, "examples/heatmap/order_handling_durations.xml"), grammar="heatmap",
                   callbacks={"Element": [None, None, ends.append]}) == ""
assert len(ends) == 5, ends
assert tarvo.parse.__doc__ and tarvo.__doc__
site = os.path.dirname(tarvo.__file__)
for stub in ("tarvo.pyi", "tarvo-stubs/__init__.pyi", "tarvo-stubs/py.typed"):
    assert os.path.exists(os.path.join(site, stub)), stub
print("tarvo %s from %s" % (tarvo.__version__, tarvo.__file__))
PY
# A type checker finds the installed stubs (mypy inspects environments of
# Python 3.7 and later).
if /usr/bin/python3 -m mypy --version >/dev/null 2>&1 &&
   "$venv" -c 'import sys; sys.exit(sys.version_info < (3, 7))'; then
  /usr/bin/python3 -m mypy --no-incremental --python-executable "$venv" "$src/examples/python_example.py"
fi

"$venv" -m pip uninstall -y tarvo
if "$venv" -c 'import tarvo' 2>/dev/null; then
  echo "tarvo is still importable after pip uninstall" >&2
  exit 1
fi
left=$(cd "$work/venv" && find . -name 'tarvo*' | grep -v '^./wheels' || true)
if [ -n "$left" ]; then
  echo "pip uninstall left: $left" >&2
  exit 1
fi
# The sdist, and a wheel built from it in a directory of its own.
(cd "$src" && "$venv" setup.py -q sdist -d "$work/sdist")
mkdir "$work/unpacked"
tar -C "$work/unpacked" -xzf "$work"/sdist/tarvo-*.tar.gz
(cd "$work"/unpacked/tarvo-* && "$venv" setup.py -q bdist_wheel -d "$work/from-sdist")
wheels=$(echo "$work"/from-sdist/*.whl)
# pip 21.3 and later build in the source tree, so this wheel reuses what the
# install compiled; older ones would compile everything again.
if "$venv" -c 'import sys, pip; sys.exit(tuple(map(int, pip.__version__.split(".")[:2])) < (21, 3))'; then
  "$venv" -m pip wheel --no-build-isolation --no-deps -w "$work/from-tree" "$src"
  wheels="$wheels $(echo "$work"/from-tree/*.whl)"
fi
"$venv" "$here/check_wheel.py" "$src" $wheels
echo "Python $version: installed, used, uninstalled; wheel checked"
