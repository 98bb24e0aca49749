#!/bin/sh
# Shows one test's result from the VM run of runEndToEnd.sh and exits with
# the test's status:
#   vmResult.sh RESULT_FILE
[ -f "$1" ] || { echo "no result in $1: the VM run (vm.e2e.run) did not get to this test" >&2; exit 1; }
cat "$1"
status=$(sed -n 's/^exit \([0-9][0-9]*\)$/\1/p' "$1" | tail -n 1)
[ -n "$status" ] || { echo "the test did not finish in the VM" >&2; exit 1; }
exit "$status"
