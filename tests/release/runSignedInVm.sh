#!/bin/sh
# Runs signedCases.sh in the test VM against the signed shipped 32-bit exe:
#   runSignedInVm.sh RUN_DIR PROMPT_TOOL_EXE TRUST_TOOL_EXE OUT_DIR
# RUN_DIR is the signed exe's directory from signWithTestPki.sh.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$4
rm -rf "$out"
mkdir -p "$out/payload"
cp "$1"/* "$out/payload/"
cp "$2" "$out/payload/promptTool.exe"
cp "$3" "$out/payload/trustTool.exe"
cp "$here/signedCases.sh" "$out/payload/cases.sh"
exec "$here/../vm/runInVm.sh" -o "$out/vm" "$out/payload"
