#!/bin/sh
# The start-up benchmark of the shipped 32-bit exe, run inside the test VM by
# scripts/benchmark.sh (through tests/vm/runInVm.sh):
#   cases.sh PAIRS CONTROL_PAIRS
# The payload holds the 32-bit startupClock.exe, floorDialog.exe and
# RestartPrompt.exe. Writes to $VM_OUT: pairs.txt (prompt against floor),
# control.txt (floor against itself, when CONTROL_PAIRS > 0), vm.txt (what
# the VM is and how long each part took).
cd "$VM_PAYLOAD" || exit 1
pairs=${1:-30}
controlPairs=${2:-0}
out=$VM_OUT
export WINEDEBUG=-all
clock=./startupClock.exe
floor=$(winepath -w "$VM_PAYLOAD/floorDialog.exe" 2>/dev/null)
prompt=$(winepath -w "$VM_PAYLOAD/RestartPrompt.exe" 2>/dev/null)

note() { echo "$*" | tee -a "$out/vm.txt"; }
note "wine: $(wine --version 2>/dev/null)"
note "cpus: $(nproc)"
note "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"

# Output to files, not pipes: Wine's services keep inherited pipes open.
# The first window of the session pays for font caches and the like.
t0=$(date +%s)
wine $clock --once "$floor" >"$out/firstRun.txt" 2>&1 </dev/null
rc=$?
note "first run: status $rc in $(($(date +%s) - t0)) s: $(cat "$out/firstRun.txt")"

t0=$(date +%s)
wine $clock --warmup 3 "$pairs" "$floor" "$prompt" >"$out/pairs.txt" 2>"$out/pairs.err" </dev/null
rc=$?
note "pairs: status $rc, $pairs pairs after 3 warm-up pairs in $(($(date +%s) - t0)) s"
note "load after the pairs: $(cut -d' ' -f1-3 /proc/loadavg)"
grep -e '^pairs measured' -e '^median shown_ms' -e '^median peak' "$out/pairs.txt"
[ $rc -eq 0 ] || { echo "--- pairs.err"; cat "$out/pairs.err"; exit $rc; }

[ "$controlPairs" -gt 0 ] || exit 0
t0=$(date +%s)
wine $clock --warmup 1 "$controlPairs" "$floor" "$floor" >"$out/control.txt" 2>"$out/control.err" </dev/null
rc=$?
note "control: status $rc, $controlPairs pairs after 1 warm-up pair in $(($(date +%s) - t0)) s"
grep -e '^median shown_ms' "$out/control.txt"
[ $rc -eq 0 ] || { echo "--- control.err"; cat "$out/control.err"; }
exit $rc
