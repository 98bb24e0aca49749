#!/bin/sh
# Renders the real prompt under Wine to the PNG files under docs/ that the
# README shows: English, French, German, and with the postpone button disabled.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target RestartPrompt promptTool -j2 >/dev/null
state=$root/build/pictures
trap 'tests/wine/wineFixture.sh stop "$state" >/dev/null' EXIT
tests/wine/wineFixture.sh start "$state"
/usr/bin/python3 tests/e2e/e2e.py --pictures "$root/docs" \
    --prompt build/win64/bin/RestartPrompt.exe --tool build/win64/tests/e2e/promptTool.exe \
    --wine-state "$state"
