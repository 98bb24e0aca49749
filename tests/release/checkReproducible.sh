#!/bin/sh
# Releases twice, from build directories at different depths, and compares
# the bytes: no time stamp and no build path may reach the exes.
#   checkReproducible.sh WORK_DIR
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
"$root/scripts/release.sh" "$work/first" "$work/dist-first" >"$work/first.log" 2>&1 \
    || { cat "$work/first.log"; exit 1; }
"$root/scripts/release.sh" "$work/second/at/another/depth" "$work/dist-second" >"$work/second.log" 2>&1 \
    || { cat "$work/second.log"; exit 1; }
cat "$work/dist-first/SHA256SUMS"
if cmp "$work/dist-first/RestartPrompt.exe" "$work/dist-second/RestartPrompt.exe" &&
    cmp "$work/dist-first/RestartPrompt-x64.exe" "$work/dist-second/RestartPrompt-x64.exe" &&
    cmp "$work/dist-first/SHA256SUMS" "$work/dist-second/SHA256SUMS"; then
    # The build directory's name must appear nowhere in the bytes.
    if grep -q -a -e "$work" -e "$root" "$work/dist-first/RestartPrompt.exe" "$work/dist-first/RestartPrompt-x64.exe"; then
        echo "FAIL: a build path is in the exes"
        exit 1
    fi
    echo "PASS: two builds in different directories gave identical bytes"
else
    echo "FAIL: the two builds differ"
    exit 1
fi
