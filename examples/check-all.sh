#!/bin/sh
# Checks every document under examples/ with tarvo and prints each outcome.
# examples/GRAMMAR/*.xml are valid documents of that grammar; a file whose
# name starts with "invalid-" shows a typical mistake and is expected to fail.
# A directory holding GRAMMAR.grammar is read with that grammar file.
set -u
TARVO=${TARVO:-build/tarvo}
case $TARVO in /*) ;; *) TARVO="$(pwd)/$TARVO" ;; esac
cd "$(dirname "$0")"
unexpected=0
for dir in */; do
  grammar=${dir%/}
  set -- "$grammar"
  [ -f "$dir$grammar.grammar" ] && set -- --grammar-file "$dir$grammar.grammar"
  for doc in "$dir"*.xml; do
    [ -e "$doc" ] || continue
    case $(basename "$doc") in invalid-*) expect=invalid ;; *) expect=valid ;; esac
    out=$("$TARVO" check "$@" "$doc" 2>&1)
    case $? in 0) got=valid ;; 1) got=invalid ;; *) got=error ;; esac
    if [ "$got" = "$expect" ]; then mark="as expected"; else mark="UNEXPECTED"; unexpected=$((unexpected + 1)); fi
    printf '%-8s %-60s (%s)\n' "$got" "$doc" "$mark"
    [ -n "$out" ] && printf '%s\n' "$out" | sed 's/^/         | /'
  done
done
if [ "$unexpected" -ne 0 ]; then
  echo "$unexpected example(s) did not give their expected outcome"
  exit 1
fi
echo "every example gave its expected outcome"
