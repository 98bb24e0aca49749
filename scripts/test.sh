#!/bin/sh
# Builds the three builds and runs every test:
#   host   native g++ with ASan/UBSan: the core tests and a short fuzz run
#   win32  the shipped i686 RestartPrompt.exe: static checks, and runs in a VM
#   win64  the same sources under wine64: core, Windows and end-to-end tests
# Extra arguments go to every ctest call, e.g. scripts/test.sh -R core
set -u
cd "$(dirname "$0")/.."
./scripts/setup.sh || exit 1

mkdir -p build
status=0
for preset in host win32 win64; do
    echo "== build $preset"
    if ! { cmake --preset "$preset" >"build/configure-$preset.log" 2>&1 \
            || { cat "build/configure-$preset.log"; false; }; } \
        || ! cmake --build --preset "$preset" -j2; then
        echo "== build $preset FAILED"
        exit 1
    fi
done

for preset in host win32 win64; do
    echo "== test $preset"
    ctest --preset "$preset" -j2 "$@" 2>&1 | tee "build/ctest-$preset.log"
    # tee hides ctest's status; its summary line tells.
    grep -q '^100% tests passed' "build/ctest-$preset.log" || status=1
done

echo "== summary"
for preset in host win32 win64; do
    printf '%-6s ' "$preset"
    grep -E '^[0-9]+% tests passed|^No tests were found' "build/ctest-$preset.log" || echo "no summary"
done
exit $status
