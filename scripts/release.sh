#!/bin/sh
# Builds the release exes from scratch and writes them with their hashes:
#   dist/RestartPrompt.exe        the shipped 32-bit exe
#   dist/RestartPrompt-x64.exe    the 64-bit build of the same sources
#   dist/SHA256SUMS
# The build is deterministic: the same sources give the same bytes in any
# directory, so allow-lists by hash stay valid across rebuilds.
#   scripts/release.sh [BUILD_DIR [DIST_DIR]]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/release}
dist=${2:-$root/dist}
./scripts/setup.sh

for arch in i686 x86_64; do
    rm -rf "$build/$arch"
    mkdir -p "$build"
    cmake -S "$root" -B "$build/$arch" -DCMAKE_BUILD_TYPE=Release -DRESTART_PROMPT_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >"$build/configure-$arch.log" 2>&1 \
        || { cat "$build/configure-$arch.log"; exit 1; }
    cmake --build "$build/$arch" --target RestartPrompt -j2 >"$build/build-$arch.log" 2>&1 \
        || { cat "$build/build-$arch.log"; exit 1; }
done

mkdir -p "$dist"
cp "$build/i686/bin/RestartPrompt.exe" "$dist/RestartPrompt.exe"
cp "$build/x86_64/bin/RestartPrompt.exe" "$dist/RestartPrompt-x64.exe"
(cd "$dist" && sha256sum RestartPrompt.exe RestartPrompt-x64.exe >SHA256SUMS)
cat "$dist/SHA256SUMS"
