#!/bin/sh
# Builds the release exes from scratch and writes them with their hashes:
#   dist/RestartPrompt.exe        the shipped 32-bit exe
#   dist/RestartPrompt-x64.exe    the 64-bit build of the same sources
#   dist/SHA256SUMS
#   dist/THIRD-PARTY-NOTICES.txt  what is linked into the exes, with licences
# The build is deterministic: the same sources give the same bytes in any
# directory, so allow-lists by hash stay valid across rebuilds.
#
# Given a key, it also signs both exes (Authenticode, SHA-256, the signer's
# chain embedded) into dist/signed/ under the same names, with their own
# dist/signed/SHA256SUMS; dist/ keeps the unsigned exes.
#
#   scripts/release.sh [KEY] [--timestamp URL] [--ca-file FILE] [--sign-only] [BUILD_DIR [DIST_DIR]]
# KEY is one of
#   --pkcs12 FILE --password-file FILE           key and chain in a PKCS#12 file
#   --pkcs11-module SO --pkcs11-key URI --cert FILE [--password-file FILE]
#                                                key on a PKCS#11 token (FILE: its PIN)
# --timestamp URL  RFC 3161 time-stamping authority
# --ca-file FILE   trusted roots for checking the new signatures (default: the system's)
# --sign-only      sign the exes listed in DIST_DIR/SHA256SUMS (checked against it)
#                  instead of building them, e.g. on the machine that holds the key
set -eu
caller=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

die() {
    echo "release: $*" >&2
    exit 1
}

usage() {
    sed -n '/^#   scripts\/release.sh/,/^set -eu/{/^set/d;s/^#//;p;}' "$0" >&2
    exit 2
}

pkcs12="" passFile="" module="" keyUri="" cert="" tsUrl="" caFile="" signOnly=0
build="" dist=""
while [ $# -gt 0 ]; do
    case $1 in
    --pkcs12 | --password-file | --pkcs11-module | --pkcs11-key | --cert | --timestamp | --ca-file)
        [ $# -ge 2 ] || die "$1 needs a value"
        case $1 in
        --pkcs12) pkcs12=$2 ;;
        --password-file) passFile=$2 ;;
        --pkcs11-module) module=$2 ;;
        --pkcs11-key) keyUri=$2 ;;
        --cert) cert=$2 ;;
        --timestamp) tsUrl=$2 ;;
        --ca-file) caFile=$2 ;;
        esac
        shift 2
        ;;
    --sign-only) signOnly=1; shift ;;
    -h | --help) usage ;;
    -*) echo "release: unknown option $1" >&2; usage ;;
    *)
        if [ -z "$build" ]; then build=$1
        elif [ -z "$dist" ]; then dist=$1
        else echo "release: too many arguments" >&2; usage
        fi
        shift
        ;;
    esac
done
# Paths are taken from where the command was given.
absolute() {
    case $1 in
    /* | "") printf '%s' "$1" ;;
    *) printf '%s/%s' "$caller" "$1" ;;
    esac
}
build=$(absolute "${build:-$root/build/release}")
dist=$(absolute "${dist:-$root/dist}")
pkcs12=$(absolute "$pkcs12")
passFile=$(absolute "$passFile")
cert=$(absolute "$cert")
caFile=$(absolute "$caFile")
case $module in */*) module=$(absolute "$module") ;; esac
cd "$root"

# Every key file is checked before anything is built, so a typo costs no build.
readable() { # readable WHAT FILE
    [ -f "$2" ] && [ -r "$2" ] || die "$1 '$2' is missing or unreadable"
}
sign=0
if [ -n "$pkcs12" ]; then
    [ -z "$module$keyUri$cert" ] || die "give --pkcs12, or --pkcs11-module with --pkcs11-key and --cert, not both"
    [ -n "$passFile" ] || die "--pkcs12 needs --password-file"
    readable "PKCS#12 file" "$pkcs12"
    sign=1
elif [ -n "$module$keyUri$cert" ]; then
    [ -n "$module" ] && [ -n "$keyUri" ] && [ -n "$cert" ] ||
        die "a token key needs all of --pkcs11-module, --pkcs11-key and --cert"
    case $module in */*) readable "PKCS#11 module" "$module" ;; esac
    readable "certificate file" "$cert"
    sign=1
elif [ -n "$passFile" ]; then
    die "--password-file needs --pkcs12 or a PKCS#11 key"
fi
[ -z "$passFile" ] || readable "password file" "$passFile"
[ -z "$caFile" ] || readable "CA file" "$caFile"
[ $sign -eq 1 ] || [ -z "$tsUrl$caFile" ] || die "--timestamp and --ca-file need a key"
[ $sign -eq 1 ] || [ $signOnly -eq 0 ] || die "--sign-only needs a key"

./scripts/setup.sh

EXES="RestartPrompt.exe RestartPrompt-x64.exe"

if [ $signOnly -eq 0 ]; then
    for arch in i686 x86_64; do
        rm -rf "$build/$arch"
        mkdir -p "$build"
        # The link map tells which runtime files went into the exe, for the notices.
        cmake -S "$root" -B "$build/$arch" -DCMAKE_BUILD_TYPE=Release -DRESTART_PROMPT_TESTS=OFF \
            -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-Wl,-Map=$build/$arch/RestartPrompt.map" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >"$build/configure-$arch.log" 2>&1 \
            || { cat "$build/configure-$arch.log"; exit 1; }
        cmake --build "$build/$arch" --target RestartPrompt -j2 >"$build/build-$arch.log" 2>&1 \
            || { cat "$build/build-$arch.log"; exit 1; }
    done

    mkdir -p "$dist"
    # Signatures of earlier exes must not outlive them.
    rm -rf "$dist/signed"
    cp "$build/i686/bin/RestartPrompt.exe" "$dist/RestartPrompt.exe"
    cp "$build/x86_64/bin/RestartPrompt.exe" "$dist/RestartPrompt-x64.exe"
    (cd "$dist" && sha256sum $EXES >SHA256SUMS)
    /usr/bin/python3 "$root/scripts/thirdPartyNotices.py" \
        "RestartPrompt.exe=$build/i686/RestartPrompt.map" \
        "RestartPrompt-x64.exe=$build/x86_64/RestartPrompt.map" >"$dist/THIRD-PARTY-NOTICES.txt"
    cat "$dist/SHA256SUMS"
else
    [ -f "$dist/SHA256SUMS" ] || die "no $dist/SHA256SUMS to sign against"
    (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || die "the exes in $dist do not match its SHA256SUMS"
    EXES=$(sed 's/^[0-9a-f]* [ *]//' "$dist/SHA256SUMS")
fi
[ $sign -eq 1 ] || exit 0

# Signed under a temporary name inside dist/, checked, and only then moved
# into dist/signed/ as a whole: a failure leaves no half-signed file there.
command -v osslsigncode >/dev/null || die "osslsigncode is not installed"
work=$(mktemp -d "$dist/.signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/signed"

signOne() { # signOne IN OUT
    if [ -n "$pkcs12" ]; then
        set -- -pkcs12 "$pkcs12" -readpass "$passFile" -in "$1" -out "$2"
    else
        set -- -pkcs11module "$module" -key "$keyUri" -certs "$cert" -in "$1" -out "$2"
        [ -z "$passFile" ] || set -- -readpass "$passFile" "$@"
    fi
    [ -z "$tsUrl" ] || set -- -ts "$tsUrl" "$@"
    osslsigncode sign -h sha256 "$@"
}

for exe in $EXES; do
    signOne "$dist/$exe" "$work/signed/$exe" >"$work/sign.log" 2>&1 || {
        cat "$work/sign.log" >&2
        die "signing $exe failed (wrong password, unusable key or certificate, or no answer from the timestamp server?)"
    }
    # The system's roots unless told otherwise; osslsigncode 2.5 has no default.
    ca=${caFile:-/etc/ssl/certs/ca-certificates.crt}
    osslsigncode verify -in "$work/signed/$exe" -CAfile "$ca" -TSA-CAfile "$ca" >"$work/verify.log" 2>&1 || {
        cat "$work/verify.log" >&2
        die "the signature made on $exe does not verify against $ca"
    }
    if [ -n "$tsUrl" ] && ! grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log"; then
        cat "$work/verify.log" >&2
        die "the signature on $exe carries no verified timestamp"
    fi
    # A signature only appends: without it the bytes are the release exe's.
    osslsigncode remove-signature -in "$work/signed/$exe" -out "$work/unsigned" >"$work/remove.log" 2>&1 &&
        cmp -s "$work/unsigned" "$dist/$exe" || die "signed $exe is not $dist/$exe plus a signature"
    rm -f "$work/unsigned"
done
(cd "$work/signed" && sha256sum $EXES >SHA256SUMS)
rm -rf "$dist/signed"
mv "$work/signed" "$dist/signed"
echo "signed:"
cat "$dist/signed/SHA256SUMS"
