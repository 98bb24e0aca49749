#!/bin/sh
# Usage: runSmoke.sh [BUILD_DIR]
# Builds the smoke exe and runs smoke/cases.sh in the test VM: proves the
# chain (image, boot, payload in, WoW64 Wine, results out) works.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$(mktemp -d /tmp/vm-smoke.XXXXXX)}
mkdir -p "$build/payload"
i686-w64-mingw32-gcc-posix -static -mwindows -O2 -o "$build/payload/smoke.exe" "$here/smoke.c"
cp "$here/cases.sh" "$build/payload/"
exec "$here/../runInVm.sh" -o "$build/vm" "$build/payload"
