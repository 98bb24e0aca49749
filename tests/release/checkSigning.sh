#!/bin/sh
# Signs the release exes through scripts/release.sh with a throw-away PKI and
# a loopback RFC 3161 server, and checks what an administrator relies on:
# the signatures verify with their timestamps against the test root only,
# one changed byte anywhere breaks them, removing them gives the reproducible
# exe back, and a failed signing leaves nothing in dist/signed/.
#   checkSigning.sh RELEASE_DIST WORK_DIR
# RELEASE_DIST holds the release exes and SHA256SUMS; nothing is rebuilt.
# WORK_DIR/run/ is kept for the tests that run the signed exes
# (see signWithTestPki.sh).
set -u
release=$1
work=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/release
EXES="RestartPrompt.exe RestartPrompt-x64.exe"
passed=0
failed=0

check() { # check NAME COMMAND...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}

# The signing an engineer does, then the checks on its result.
"$here/signWithTestPki.sh" "$release" "$work" >"$work.log" 2>&1
rc=$?
[ $rc -eq 0 ] || cat "$work.log"
check "release.sh signs both exes with a timestamp" [ $rc -eq 0 ]
[ $rc -eq 0 ] || exit 1
pki=$work/pki
check "dist/signed/SHA256SUMS matches the signed exes" sh -c "cd '$work/dist/signed' && sha256sum --quiet -c SHA256SUMS"
check "dist/ keeps the unsigned exes and their hashes" \
    sh -c "cmp -s '$release/SHA256SUMS' '$work/dist/SHA256SUMS' && cd '$work/dist' && sha256sum --quiet -c SHA256SUMS"

# Failures are tried on a copy of the release: nothing may reach its signed/.
failing=$work/failing
mkdir -p "$failing/dist"
for f in $EXES SHA256SUMS; do cp "$release/$f" "$failing/dist/"; done
# A port nobody listens on any more.
deadUrl=http://127.0.0.1:$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

release() { # release ARGS...: output in $work/release.out
    "$root/scripts/release.sh" --sign-only "$@" "$failing/build" "$failing/dist" >"$work/release.out" 2>&1
}
printf 'not the password\n' >"$work/wrong.txt"

# A PKCS#11 token holding the code-signing key: SoftHSM, in the work dir.
token=$work/token
mkdir -p "$token/objects"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$token/objects" >"$token/softhsm2.conf"
export SOFTHSM2_CONF="$token/softhsm2.conf"
module=/usr/lib/softhsm/libsofthsm2.so
keyUri='pkcs11:token=Release%20Test;object=codesign;type=private'
printf '246810\n' >"$token/pin.txt"
cat "$pki/codesign.pem" "$pki/ca.pem" >"$token/chain.pem"
{ softhsm2-util --init-token --free --label "Release Test" --pin 246810 --so-pin 13579 &&
    openssl pkcs8 -topk8 -nocrypt -in "$pki/codesign.key" -out "$token/key.p8" &&
    softhsm2-util --import "$token/key.p8" --token "Release Test" --label codesign --id 01 --pin 246810
} >"$token/setup.log" 2>&1 || { cat "$token/setup.log"; echo "could not set up the test token"; exit 1; }

# --- Failures: a clear message, a non-zero status and no dist/signed/ -----
# name | message expected | arguments
while IFS='|' read -r name message args; do
    eval "set -- $args"
    release "$@"
    rc=$?
    ok=1
    [ $rc -ne 0 ] || { echo "  exit status 0"; ok=0; }
    grep -qF -- "$message" "$work/release.out" || { echo "  no message '$message'"; ok=0; }
    [ ! -e "$failing/dist/signed" ] || { echo "  dist/signed exists"; ok=0; }
    ls -d "$failing/dist"/.signing.* >/dev/null 2>&1 && { echo "  a temporary file is left"; ok=0; }
    [ $ok -eq 1 ] || sed 's/^/  | /' "$work/release.out"
    check "$name" [ $ok -eq 1 ]
done <<EOF
wrong password|signing RestartPrompt.exe failed|--pkcs12 "$pki/codesign.p12" --password-file "$work/wrong.txt"
missing PKCS#12 file|PKCS#12 file '$pki/none.p12' is missing|--pkcs12 "$pki/none.p12" --password-file "$pki/password.txt"
missing password file|password file '$pki/none.txt' is missing|--pkcs12 "$pki/codesign.p12" --password-file "$pki/none.txt"
PKCS#12 without a password file|--pkcs12 needs --password-file|--pkcs12 "$pki/codesign.p12"
no timestamp server|signing RestartPrompt.exe failed|--pkcs12 "$pki/codesign.p12" --password-file "$pki/password.txt" --timestamp "$deadUrl"
signature from a root not trusted|does not verify against|--pkcs12 "$pki/codesign.p12" --password-file "$pki/password.txt" --ca-file "$pki/other.pem"
token key without its certificate|needs all of --pkcs11-module, --pkcs11-key and --cert|--pkcs11-module /nonexistent.so --pkcs11-key "pkcs11:object=x"
wrong token PIN|signing RestartPrompt.exe failed|--pkcs11-module "$module" --pkcs11-key "$keyUri" --cert "$token/chain.pem" --password-file "$work/wrong.txt" --ca-file "$pki/ca.pem"
key missing on the token|signing RestartPrompt.exe failed|--pkcs11-module "$module" --pkcs11-key "pkcs11:token=Release%20Test;object=none;type=private" --cert "$token/chain.pem" --password-file "$token/pin.txt" --ca-file "$pki/ca.pem"
EOF

printf 'X' | dd of="$failing/dist/RestartPrompt.exe" bs=1 seek=100 conv=notrunc 2>/dev/null
release --pkcs12 "$pki/codesign.p12" --password-file "$pki/password.txt"
rc=$?
check "an exe that does not match SHA256SUMS is not signed" \
    sh -c "[ $rc -ne 0 ] && grep -qF 'do not match' '$work/release.out' && [ ! -e '$failing/dist/signed' ]"

# --- Signing with the key on the token ---------------------------------------
mkdir -p "$token/dist"
for f in $EXES SHA256SUMS; do cp "$release/$f" "$token/dist/"; done
"$root/scripts/release.sh" --sign-only --pkcs11-module "$module" --pkcs11-key "$keyUri" \
    --cert "$token/chain.pem" --password-file "$token/pin.txt" --ca-file "$pki/ca.pem" \
    "$token/build" "$token/dist" >"$work/release.out" 2>&1
rc=$?
[ $rc -eq 0 ] || sed 's/^/  | /' "$work/release.out"
check "release.sh signs both exes with the key on a PKCS#11 token" [ $rc -eq 0 ]
for exe in $EXES; do
    check "$exe: the token's signature verifies against the test root" \
        sh -c "osslsigncode verify -in '$token/dist/signed/$exe' -CAfile '$pki/ca.pem' 2>&1 | grep -q '^Signature verification: ok'"
done

# --- The signed exes ----------------------------------------------------------

verify() { # verify FILE CA: osslsigncode's report in $work/verify.out
    osslsigncode verify -in "$1" -CAfile "$2" -TSA-CAfile "$2" >"$work/verify.out" 2>&1
}
said() { grep -qF -- "$1" "$work/verify.out"; }
# osslsigncode 2.9 exits 0 when only the timestamp's signature fails: its
# report must say ok for both.
verifiedWithTimestamp() { # verifiedWithTimestamp FILE [CA]
    verify "$1" "${2:-$pki/ca.pem}" && said "Signature verification: ok" &&
        said "Timestamp Server Signature verification: ok" && said "Message digest algorithm  : SHA256"
}
verifiedShown() {
    verifiedWithTimestamp "$1" || { sed 's/^/  | /' "$work/verify.out"; false; }
}
# The chain travels in the signature: the signer and the root both.
chainEmbedded() {
    rm -f "$work/signature.pem"
    osslsigncode extract-signature -pem -in "$1" -out "$work/signature.pem" >/dev/null 2>&1 &&
        openssl pkcs7 -in "$work/signature.pem" -print_certs -noout >"$work/certs.txt" 2>&1 &&
        grep -qF "CN = Release Test Code Signing" "$work/certs.txt" &&
        grep -qF "CN = Release Test Root CA" "$work/certs.txt"
}
refused() { # refused FILE [CA]
    ! verifiedWithTimestamp "$@"
}
# offsetsOf FILE: name and offset of one byte in each part of the image.
offsetsOf() {
    /usr/bin/python3 - "$1" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
sections = {s.Name.rstrip(b"\0").decode(): s for s in pe.sections}
print("the COFF header's time stamp", pe.FILE_HEADER.get_file_offset() + 4)
print("the code", sections[".text"].PointerToRawData + 0x100)
print("the resources", sections[".rsrc"].PointerToRawData + sections[".rsrc"].SizeOfRawData // 2)
print("the signature", security.VirtualAddress + security.Size // 2)
print("the signature's last bytes", security.VirtualAddress + security.Size - 40)
PY
}
flipByte() { # flipByte FILE OFFSET
    /usr/bin/python3 -c 'import sys
path, at = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
data[at] ^= 0x01
open(path, "wb").write(data)' "$1" "$2"
}

for exe in $EXES; do
    signed=$work/dist/signed/$exe
    check "$exe: verifies against the test root, timestamp included" verifiedShown "$signed"
    check "$exe: the signer's chain is embedded" chainEmbedded "$signed"
    check "$exe: refused against another root" refused "$signed" "$pki/other.pem"
    offsetsOf "$signed" >"$work/offsets.txt"
    while IFS= read -r line; do
        offset=${line##* }
        what=${line% *}
        cp "$signed" "$work/altered.exe"
        flipByte "$work/altered.exe" "$offset"
        check "$exe: one byte changed in $what (offset $offset) fails verification" \
            refused "$work/altered.exe"
    done <"$work/offsets.txt"
    rm -f "$work/unsigned.exe"
    osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null 2>&1
    check "$exe: without its signature, the bytes of the reproducible exe" cmp "$work/unsigned.exe" "$release/$exe"
done

echo "signing: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
