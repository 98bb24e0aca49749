#!/bin/bash
# Builds the Debian VM image in which the shipped 32-bit exe runs under Wine
# (this machine's kernel cannot run 32-bit code), or reuses the cached one.
# Prints the directory holding rootfs.img, vmlinuz and initrd.img.
# The cache key hashes this script and the VM's init, which define the image;
# VM_CACHE overrides the cache folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
SUITE=bookworm
# python3 and xdotool: the end-to-end runner and its clicks run inside the VM too.
PACKAGES="wine wine32:i386 wine64 xvfb xauth file python3 xdotool"

key=$(cat "$here/buildImage.sh" "$here/guestInit.sh" | sha256sum | cut -c1-16)
cacheRoot=${VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/restartprompt-vm}
final=$cacheRoot/$key
if [ -f "$final/rootfs.img" ]; then touch "$final"; echo "$final"; exit 0; fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
mkdir -p "$cacheRoot"
# One build at a time; a waiting caller then finds the image made by the other.
exec 9>"$cacheRoot/.lock"
flock 9
if [ -f "$final/rootfs.img" ]; then touch "$final"; echo "$final"; exit 0; fi

# Unmount anything a debootstrap may have left under DIR, then delete DIR
# without ever crossing into another file system (such as the host's /dev).
removeTree() {
    findmnt -rno TARGET | grep -F "$1/" | sort -r | xargs -r $SUDO umount -l || true
    $SUDO rm -rf --one-file-system "$1"
}
# Holding the lock, any build folder left is from a build that was killed.
for d in "$cacheRoot"/build.*; do [ -d "$d" ] && removeTree "$d"; done

# The Debian mirror this machine's apt already uses (no network otherwise).
findMirror() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v s="$SUITE" '$1 == "deb" { i = 2; if ($i ~ /^\[/) while ($(i++) !~ /\]$/) ;
            if ($(i + 1) == s) print $i }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v s="$SUITE" 'BEGIN { RS = ""; FS = "\n" }
        { uris = suites = types = ""; on = "yes"
          for (n = 1; n <= NF; n++) {
              if ($n ~ /^#/) continue
              k = tolower($n); sub(/:.*/, "", k); v = $n; sub(/^[^:]*:[ \t]*/, "", v)
              if (k == "uris") uris = v; else if (k == "suites") suites = v
              else if (k == "types") types = v; else if (k == "enabled") on = tolower(v)
          }
          if (on != "no" && (" " types " ") ~ / deb / && (" " suites " ") ~ (" " s " ")) {
              split(uris, u, /[ \t]+/); print u[1] } }' "$f"
    done
}
mirror=$(findMirror | head -n1)
[ -n "$mirror" ] || { echo "buildImage: no $SUITE mirror in apt's sources" >&2; exit 1; }

work=$(mktemp -d "$cacheRoot/build.XXXXXX")
root=$work/root
log=$work/build.log
step() { echo "buildImage: $* ($(date +%T))" | tee -a "$log" >&2; }
# On any failure keep the log, drop the half-made image: only a finished
# build is renamed into place, so an interrupted one is never reused.
cleanup() {
    local rc=$?
    [ -d "$root" ] && removeTree "$root"
    if [ $rc -ne 0 ] && [ -d "$work" ]; then
        cp "$log" "$cacheRoot/failed-build.log" 2>/dev/null || true
        tail -n 40 "$log" >&2
        echo "buildImage: failed; full log in $cacheRoot/failed-build.log" >&2
        $SUDO rm -rf "$work"
    fi
}
trap cleanup EXIT
inRoot() {
    $SUDO env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C DEBIAN_FRONTEND=noninteractive \
        chroot "$root" "$@" >>"$log" 2>&1
}

step "debootstrap $SUITE"
$SUDO debootstrap --variant=minbase --arch=amd64 \
    --include=linux-image-amd64,initramfs-tools,udev,kmod "$SUITE" "$root" "$mirror" >>"$log" 2>&1

step "installing Wine"
# Nothing may start services inside the chroot.
printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$root/usr/sbin/policy-rc.d" >/dev/null
$SUDO chmod 755 "$root/usr/sbin/policy-rc.d"
inRoot dpkg --add-architecture i386
inRoot apt-get update
inRoot apt-get install -y --no-install-recommends $PACKAGES
inRoot apt-get clean
$SUDO rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d"
$SUDO install -m 755 "$here/guestInit.sh" "$root/usr/local/sbin/vm-init"
$SUDO cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
$SUDO cp "$root"/boot/initrd.img-* "$work/initrd.img"

step "making the disk image"
# 8G: 4G fills up once Wine's prefix is made. Sparse, so it costs what it holds.
$SUDO mke2fs -q -t ext4 -L vmroot -d "$root" "$work/rootfs.img" 8G >>"$log" 2>&1
removeTree "$root"
[ -z "$SUDO" ] || $SUDO chown -R "$(id -u):$(id -g)" "$work"

# Wine cannot run on this host, so its prefix is made by booting the image once.
step "prepare boot (wineboot)"
. "$here/qemuBoot.sh"
bootVm "$work" "$work/prepare.log" 1800 vmmode=prepare \
    -drive "file=$work/rootfs.img,format=raw,if=virtio" || true
# The firmware's escape codes may share a line with the first message.
tr -d '\r' <"$work/prepare.log" | grep -o 'vm-init:.*' >&2 || true
if ! grep -q 'VMPREPARED 0' "$work/prepare.log"; then
    tail -n 40 "$work/prepare.log" >>"$log"
    exit 1
fi

step "image ready in $final"
mv "$work" "$final"
# Images of older recipes are 3-4 GB each; drop those unused for a day.
find "$cacheRoot" -mindepth 1 -maxdepth 1 -type d ! -name "$key" ! -name 'build.*' \
    -mtime +0 -exec rm -rf {} + || true
echo "$final"
