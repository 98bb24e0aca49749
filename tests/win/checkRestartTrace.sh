#!/bin/sh
# Runs the restart test with the advapi channel on and checks that exactly one
# restart was requested, with the program's fixed arguments.
#   checkRestartTrace.sh RUN_IN_WINE STATE_DIR TEST_EXE
out=$(mktemp)
trap 'rm -f "$out"' EXIT
WINEDEBUG=fixme+advapi "$1" "$2" "$3" --gtest_filter='RequestRestart.*' >"$out" 2>&1
rc=$?
cat "$out"
[ $rc -eq 0 ] || exit $rc
expected='InitiateSystemShutdownExW (null) L"The system is restarting to apply upates." 0 1 1 0x80020003'
count=$(grep -c 'InitiateSystemShutdownExW' "$out")
exact=$(grep -cF "$expected" "$out")
if [ "$count" -ne 1 ] || [ "$exact" -ne 1 ]; then
    echo "FAIL: expected exactly one request: $expected" >&2
    exit 1
fi
echo "PASS: one restart request with the fixed arguments"
