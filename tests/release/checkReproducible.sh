#!/bin/sh
# Builds the release twice with reprotest, the second time under every
# variation this machine can apply, and requires identical bytes in dist/:
# build path, time (faketime, a year and more ahead), time zone, locales,
# environment, HOME, umask, PATH, kernel name (setarch), ASLR, number of
# CPUs, directory order (disorderfs) and host and domain name (a UTS
# namespace). Left out: user_group, which needs other local accounts to
# build as. On a difference, diffoscope's report is printed.
#   checkReproducible.sh WORK_DIR
# Leaves the first build's dist/ in WORK_DIR/dist for the signing tests.
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"

# The sources only: not the build trees or an earlier dist/.
sources=$(cd "$root" && ls -A | grep -v -x -e build -e dist -e .git | tr '\n' ' ')

reprotest --verbosity 1 --vary=-user_group --source-pattern "$sources" --store-dir "$work/store" \
    -c "scripts/release.sh build/release dist" "$root" 'dist/*' >"$work/reprotest.log" 2>&1
rc=$?
# The hashes, and on a difference diffoscope's report.
grep -v -e '^INFO:' -e '^WARNING:' "$work/reprotest.log"
if [ $rc -ne 0 ]; then
    if ! ls "$work"/store/*.diffoscope.out >/dev/null 2>&1; then
        echo "--- the end of reprotest's log"
        tail -n 40 "$work/reprotest.log"
    fi
    echo "FAIL: the two release builds differ, or one failed (reprotest status $rc)"
    exit 1
fi
cp -r "$work/store/control/source-root/dist" "$work/dist"
echo "PASS: two release builds under reprotest's variations gave identical bytes"
