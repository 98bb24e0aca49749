#!/bin/sh
# The payload script of runEndToEnd.sh, run in the test VM as cases.sh with
# its arguments: E2E_OPTION... [--load NAME PROGRAM [ARG...]]...
# Runs every scenario of e2e.py as the host's tests do, one call each, then
# the load runs; writes $VM_OUT/results/TEST.log (the output, then "exit
# STATUS") and prints one line per test. Exit 0 when every test passed.
cd "$VM_PAYLOAD" || exit 125
results=$VM_OUT/results
state=$VM_OUT/wine
mkdir -p "$results" "$state"

# e2e.py's Wine environment, as the host's wine.start fixture writes it.
cat >"$state/env" <<ENV
export WINEPREFIX='$WINEPREFIX'
export DISPLAY='$DISPLAY'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
: "\${WINEDEBUG:=-all}"
export WINEDEBUG
ENV

# Payload paths (./NAME) made absolute; the load runs go to a file, one a line.
: >load.runs
count=$#
inLoad=0
while [ "$count" -gt 0 ]; do
    a=$1
    shift
    count=$((count - 1))
    case $a in ./*) a=$VM_PAYLOAD/${a#./} ;; esac
    if [ "$a" = --load ]; then
        [ $inLoad = 0 ] || echo >>load.runs
        inLoad=1
    elif [ $inLoad = 1 ]; then
        printf '%s ' "$a" >>load.runs
    else
        set -- "$@" "$a"
    fi
done
[ $inLoad = 0 ] || echo >>load.runs

# Wine ends its session (services, desktop) with its last program and takes
# ~10 s under emulation to start it again: a program that waits on its input
# keeps it up from one test to the next.
mkfifo /tmp/keepalive
WINEDEBUG=-all wine C:/windows/syswow64/cmd.exe </tmp/keepalive >"$VM_OUT/keepalive.log" 2>&1 &
exec 3>/tmp/keepalive

passed=0
failed=0
# record NAME STATUS SECONDS: the result line of one test.
record() {
    echo "exit $2" >>"$results/$1.log"
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        echo "PASS $1 ($3 s)"
    else
        failed=$((failed + 1))
        echo "FAIL $1 ($3 s)"
    fi
}

for scenario in $(python3 ./e2e.py --list); do
    t0=$(date +%s)
    python3 ./e2e.py "$@" --wine-state "$state" "$scenario" >"$results/e2e.$scenario.log" 2>&1 </dev/null
    record "e2e.$scenario" $? $(( $(date +%s) - t0 ))
done

# Output to files: Wine's services keep inherited pipes open.
set -f
while read -r name program args; do
    t0=$(date +%s)
    # shellcheck disable=SC2086 # the arguments are words without blanks
    WINEDEBUG=-all wine "$program" $args >"$results/$name.log" 2>&1 </dev/null
    record "$name" $? $(( $(date +%s) - t0 ))
done <load.runs

exec 3>&-    # the end of its input ends cmd
echo "end-to-end in the VM: $passed passed, $failed failed"
[ $failed -eq 0 ]
