#!/bin/sh
# Runs promptCases.sh in the test VM against the shipped 32-bit exe:
#   runPromptCases.sh RESTART_PROMPT_EXE PROMPT_TOOL_EXE OUT_DIR
# The VM image is built on first use (about 5 minutes) and kept outside the
# checkout for later runs.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$3
rm -rf "$out"
mkdir -p "$out/payload"
cp "$1" "$out/payload/RestartPrompt.exe"
cp "$2" "$out/payload/promptTool.exe"
cp "$here/promptCases.sh" "$out/payload/cases.sh"
exec "$here/runInVm.sh" -o "$out/vm" "$out/payload"
