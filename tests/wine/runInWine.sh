#!/bin/sh
# Runs a Windows program under the test run's Wine environment:
#   runInWine.sh STATE_DIR program.exe [arguments...]
# CTest uses it as the emulator of the 64-bit build.
state=$1
shift
[ -f "$state/env" ] || { echo "no Wine environment in $state: run the wine.start test first" >&2; exit 1; }
. "$state/env"
# Output goes to a file first: Wine's services may hold a pipe open long after
# the program has ended.
out=$(mktemp "$state/out.XXXXXX")
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
grep -v -e '^it looks like wine32 is missing' -e '^multiarch needs' -e '^execute "dpkg' \
    -e '^apt-get install wine32' "$out"
rm -f "$out"
exit $rc
