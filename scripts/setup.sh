#!/bin/sh
# Installs from Debian's packages what the builds and tests need, skipping
# what is already there. Safe to run any number of times.
# Never installs wine32: the 32-bit exe is run inside the test VM instead.
set -eu

PACKAGES="
cmake ninja-build g++ clang libclang-rt-14-dev googletest
clang-tidy cppcheck
g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
wine wine64 xvfb xauth xdotool x11-utils x11-apps imagemagick
python3 python3-pefile python3-pil
osslsigncode openssl reprotest diffoscope-minimal faketime disorderfs
softhsm2 libengine-pkcs11-openssl
hyperfine time
gcovr
qemu-system-x86 debootstrap e2fsprogs
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

# Some images put another python3 first on PATH; python3-pefile lives in Debian's.
/usr/bin/python3 -c 'import pefile' 2>/dev/null || { echo "setup: pefile missing for /usr/bin/python3" >&2; exit 1; }

if dpkg-query -W -f='${Status}\n' wine32:i386 2>/dev/null | grep -q 'installed'; then
    echo "setup: wine32 is installed; it cannot run here and must not be" >&2
fi
exit 0
