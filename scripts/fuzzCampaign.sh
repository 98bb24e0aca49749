#!/bin/sh
# A longer fuzzing campaign of the command line, outside the test command:
#   scripts/fuzzCampaign.sh [SECONDS]     (default 600)
# New inputs that add coverage are merged into tests/fuzz/corpus, which the
# tests replay; a crash leaves its input in build/fuzz-campaign/ to be fixed
# and kept as a case.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
./scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target launchOptionsFuzzer >/dev/null
fuzzer=build/host/tests/fuzz/launchOptionsFuzzer
work=build/fuzz-campaign
rm -rf "$work"
mkdir -p "$work/corpus" "$work/merged"
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/corpus" tests/fuzz/corpus >"$work/log.txt" 2>&1 || { tail -40 "$work/log.txt"; exit 1; }
grep -E '^(Done|stat::)' "$work/log.txt"
# Keep only what adds coverage to the committed corpus.
"$fuzzer" -merge=1 tests/fuzz/corpus "$work/corpus" >"$work/merge.log" 2>&1
grep 'MERGE-OUTER: .* new files' "$work/merge.log"
