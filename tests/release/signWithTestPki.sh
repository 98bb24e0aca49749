#!/bin/sh
# Signs release exes the way an engineer would, with a throw-away PKI:
# scripts/release.sh --sign-only with a PKCS#12 file and an RFC 3161
# timestamp from a server on a loopback port.
#   signWithTestPki.sh RELEASE_DIST WORK_DIR
# RELEASE_DIST holds SHA256SUMS and the exes it lists; nothing is rebuilt.
# Leaves WORK_DIR/pki/ (makeTestPki.sh), WORK_DIR/dist/ with dist/signed/,
# and WORK_DIR/run/<exe name>/ for running each signed exe: RestartPrompt.exe
# (signed), RestartPrompt-altered.exe (one byte of the code changed),
# RestartPrompt-unsigned.exe and ca.der.
set -eu
release=$1
work=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/release

rm -rf "$work"
mkdir -p "$work/dist"
cp "$release/SHA256SUMS" "$work/dist/"
exes=$(sed 's/^[0-9a-f]* [ *]//' "$release/SHA256SUMS")
for exe in $exes; do
    cp "$release/$exe" "$work/dist/"
done
"$here/makeTestPki.sh" "$work/pki"
pki=$work/pki

/usr/bin/python3 "$here/timestampServer.py" "$pki/tsa.cnf" "$work/tsa.port" 300 >"$work/tsa.log" 2>&1 &
tsa=$!
trap 'kill $tsa 2>/dev/null' EXIT
i=0
while [ ! -s "$work/tsa.port" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$work/tsa.port" ] || { echo "the timestamp server did not start" >&2; cat "$work/tsa.log" >&2; exit 1; }

"$root/scripts/release.sh" --sign-only --pkcs12 "$pki/codesign.p12" --password-file "$pki/password.txt" \
    --timestamp "http://127.0.0.1:$(cat "$work/tsa.port")" --ca-file "$pki/ca.pem" \
    "$work/build" "$work/dist" >"$work/release.out" 2>&1 ||
    { cat "$work/release.out" >&2; exit 1; }

for exe in $exes; do
    run=$work/run/${exe%.exe}
    mkdir -p "$run"
    cp "$work/dist/signed/$exe" "$run/RestartPrompt.exe"
    cp "$work/dist/signed/$exe" "$run/RestartPrompt-altered.exe"
    cp "$release/$exe" "$run/RestartPrompt-unsigned.exe"
    cp "$pki/ca.der" "$run/"
    /usr/bin/python3 - "$run/RestartPrompt-altered.exe" <<'PY'
import sys, pefile
path = sys.argv[1]
pe = pefile.PE(path, fast_load=True)
at = [s for s in pe.sections if s.Name.startswith(b".text")][0].PointerToRawData + 0x100
pe.close()
data = bytearray(open(path, "rb").read())
data[at] ^= 0x01
open(path, "wb").write(data)
PY
done
