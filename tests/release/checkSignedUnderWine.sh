#!/bin/sh
# Signs this build's 64-bit exe through scripts/release.sh with the test PKI
# (nothing is rebuilt) and runs signedCases.sh on it under the test run's
# Wine environment:
#   checkSignedUnderWine.sh WINE_STATE RESTART_PROMPT_EXE PROMPT_TOOL_EXE TRUST_TOOL_EXE WORK_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
state=$1
work=$5
rm -rf "$work"
mkdir -p "$work/release"
cp "$2" "$work/release/RestartPrompt-x64.exe"
(cd "$work/release" && sha256sum RestartPrompt-x64.exe >SHA256SUMS)
"$here/signWithTestPki.sh" "$work/release" "$work/signing" >"$work/signing.log" 2>&1 ||
    { cat "$work/signing.log"; echo "FAIL: signing"; exit 1; }
run=$work/signing/run/RestartPrompt-x64
cp "$3" "$run/promptTool.exe"
cp "$4" "$run/trustTool.exe"
[ -f "$state/env" ] || { echo "no Wine environment in $state: run the wine.start test first"; exit 1; }
. "$state/env"
exec "$here/signedCases.sh" "$run" "$work/out"
