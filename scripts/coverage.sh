#!/bin/sh
# Which lines and branches of src/ the tests execute:
#   scripts/coverage.sh [ctest arguments for the win64 run, e.g. -R 'win\.|e2e\.']
# Builds two instrumented variants in build trees of their own (the normal
# presets stay uninstrumented):
#   build/coverage-host   native g++: the core tests
#   build/coverage-win64  x86_64 mingw: every test under wine64 but the checks
#                         of the shipped binary's bytes
# runs their tests, merges gcov's counts with gcovr and writes
#   build/coverage/index.html   the sources line by line, with their branches
#   docs/TESTING.md             the summary table of its Coverage section
# A program writes its counts only when it ends by itself (returns from its
# entry or calls exit): a process ended from outside adds nothing.
# WINE_LOCK=FILE makes the wine part hold flock(1) on FILE, for machines
# where runs of wine must take turns.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh || exit 1
began=$(date +%s)

host=build/coverage-host
win=build/coverage-win64
out=build/coverage
mkdir -p build
status=0

build() {
    dir=$1
    shift
    echo "== build $dir"
    if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DRESTART_PROMPT_COVERAGE=ON "$@" \
                >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; false; }; } \
        || ! nice -n 10 cmake --build "$dir" -j2; then
        echo "== build $dir FAILED"
        exit 1
    fi
}
build "$host" -DCMAKE_CXX_COMPILER=g++
build "$win" --toolchain "$root/cmake/mingw-x86_64.cmake"
echo "== built in $(($(date +%s) - began)) s"

# Counts add up from run to run: start from none.
find "$host" "$win" -name '*.gcda' -delete
rm -rf "$out"
mkdir -p "$out"

# One process at a time: two processes that end together would both merge
# into the same data files. The fuzzer is clang's and counts nothing here.
echo "== test $host"
ctest --test-dir "$host" -E '^(fuzz|lint)\.' --output-on-failure >"$out/ctest-host.log" 2>&1
tail -n 3 "$out/ctest-host.log"
grep -q '^100% tests passed' "$out/ctest-host.log" || status=1

echo "== test $win"
lock=""
[ -n "${WINE_LOCK:-}" ] && lock="flock $WINE_LOCK"
# The checks of the binary's bytes describe the shipped exe, not this one.
$lock ctest --test-dir "$win" -E '^(binary|lint)\.' --output-on-failure "$@" >"$out/ctest-win64.log" 2>&1
tail -n 3 "$out/ctest-win64.log"
echo "== $(($(date +%s) - began)) s so far"
grep -q '^100% tests passed' "$out/ctest-win64.log" || status=1

# The program throws nothing: the edges gcc adds to every call for an
# exception passing through are no branches of ours.
echo "== gcovr"
# The build without a dialog template is a test tool: its copy of the entry
# would add branches of its own that it never reaches.
count() {
    gcovr --root "$root" --filter 'src/' --exclude-throw-branches \
        --exclude-directories '.*RestartPromptNoDialog\.dir.*' \
        --gcov-executable "$1" --json "$2" "$3" >"$2.log" 2>&1 || { cat "$2.log"; exit 1; }
}
count gcov "$out/host.json" "$host"
count x86_64-w64-mingw32-gcov "$out/win64.json" "$win"
gcovr --root "$root" --add-tracefile "$out/host.json" --add-tracefile "$out/win64.json" \
    --json "$out/coverage.json" --json-summary "$out/summary.json" \
    --html-details "$out/index.html" --html-title "RestartPrompt: coverage of src/" \
    --txt "$out/coverage.txt" --print-summary || exit 1

/usr/bin/python3 scripts/coverageTable.py "$out/coverage.json" "$out/summary.json" docs/TESTING.md \
    || exit 1
echo "== report: $out/index.html; table: docs/TESTING.md ($(($(date +%s) - began)) s)"
[ $status -eq 0 ] || echo "== some tests FAILED: see $out/ctest-*.log"
exit $status
