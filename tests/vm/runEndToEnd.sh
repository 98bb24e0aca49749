#!/bin/sh
# Runs the end-to-end scenarios and the load runs against the 32-bit build in
# one boot of the test VM:
#   runEndToEnd.sh OUT_DIR E2E_PY [E2E_OPTION...] [--load NAME PROGRAM [ARG...]]...
# E2E_OPTIONs are e2e.py's options as the host's tests give them (the VM adds
# --wine-state). Every scenario of `e2e.py --list` runs; each --load runs
# PROGRAM ARG... under Wine and passes when it exits 0. Any argument naming a
# file here travels in the payload and becomes its path in the VM.
# Leaves OUT_DIR/results/e2e.SCENARIO.log and OUT_DIR/results/NAME.log, each
# the test's output and then "exit STATUS" (vmResult.sh shows one), and the
# runner's files in OUT_DIR/vm/out/wine. Exits 0 when the VM ran every test,
# whatever their results; VM_TIMEOUT (seconds) bounds the boot.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: runEndToEnd.sh OUT_DIR E2E_PY [E2E_OPTION...] [--load NAME PROGRAM [ARG...]]..." >&2; exit 2; }
out=$1
shift
rm -rf "$out"
mkdir -p "$out/payload"
payload=$(cd "$out/payload" && pwd)

# Files keep their names in the payload and travel once; a different file
# of a name already taken gets a folder of its own.
copies=0
carry() {
    name=$(basename "$1")
    if [ -e "$payload/$name" ] && ! cmp -s "$1" "$payload/$name"; then
        copies=$((copies + 1))
        mkdir "$payload/$copies"
        name=$copies/$name
    fi
    cp "$1" "$payload/$name"
    mapped=./$name
}

carry "$1"
[ "$mapped" = ./e2e.py ] || { echo "runEndToEnd: the runner must be named e2e.py" >&2; exit 2; }
shift
# The arguments go on in order, files replaced by their payload paths.
count=$#
while [ "$count" -gt 0 ]; do
    mapped=$1
    [ -f "$1" ] && carry "$1"
    shift
    set -- "$@" "$mapped"
    count=$((count - 1))
done
cp "$here/endToEndCases.sh" "$payload/cases.sh"

rc=0
"$here/runInVm.sh" -o "$out/vm" -t "${VM_TIMEOUT:-2400}" "$payload" "$@" || rc=$?
mkdir -p "$out/results"
cp "$out/vm/out/results/"*.log "$out/results/" 2>/dev/null || true
# 0: all passed, 1: some failed; anything else: the VM did not finish.
[ $rc -le 1 ]
