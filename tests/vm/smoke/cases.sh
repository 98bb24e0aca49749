#!/bin/sh
# Example payload case script, run inside the test VM by runInVm.sh:
# the exe must be 32-bit, run under WoW64 and reach the shutdown call.
passed=0 failed=0
check() {    # check NAME COMMAND...
    name=$1
    shift
    if "$@"; then passed=$((passed + 1)); echo "PASS $name"
    else failed=$((failed + 1)); echo "FAIL $name"; fi
}

check "smoke.exe is PE32, not PE32+" sh -c 'file smoke.exe | grep -q "PE32 executable"'

# Output to a file: Wine's services keep inherited pipes open.
WINEDEBUG=fixme+advapi wine ./smoke.exe >"$VM_OUT/smoke.log" 2>&1
check "smoke.exe exits 0" [ $? -eq 0 ]
check "shutdown call traced" \
    grep -qF 'InitiateSystemShutdownExW (null) L"x" 0 1 1 0x80020003' "$VM_OUT/smoke.log"
[ $failed -eq 0 ] || { echo "--- smoke.log"; cat "$VM_OUT/smoke.log"; }

echo "smoke: $passed passed, $failed failed"
[ $failed -eq 0 ]
