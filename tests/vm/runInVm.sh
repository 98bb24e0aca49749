#!/bin/bash
# Usage: runInVm.sh [-o OUTDIR] [-t SECONDS] PAYLOAD_DIR [ARG...]
# Runs PAYLOAD_DIR/cases.sh ARG... inside the test VM, where 32-bit Windows
# programs run under Wine (this machine's kernel cannot run them), prints its
# output and exits with its status.
# In the VM cases.sh starts in a copy of PAYLOAD_DIR ($VM_PAYLOAD) with
# WINEPREFIX, DISPLAY and a running `wineserver -p`; it sets WINEDEBUG itself.
# Files it writes to $VM_OUT come back to OUTDIR/out. OUTDIR (default
# ./vm-run) also gets console.log, the VM's whole console.
# The cached image is never written: the root disk is a throwaway snapshot.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$PWD/vm-run
secs=${VM_TIMEOUT:-1200}
while getopts o:t: opt; do
    case $opt in
    o) out=$OPTARG ;;
    t) secs=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] && [ -f "$1/cases.sh" ] || {
    echo "usage: runInVm.sh [-o OUTDIR] [-t SECONDS] PAYLOAD_DIR [ARG...]  (PAYLOAD_DIR/cases.sh must exist)" >&2
    exit 2
}
payload=$1
shift

image=$("$here/buildImage.sh")
mkdir -p "$out"
out=$(cd "$out" && pwd)
log=$out/console.log

# The payload travels on a second small disk made without mounting anything;
# cases.sh's results are read back from it after the VM is off.
stage=$(mktemp -d "$out/stage.XXXXXX")
trap 'rm -rf "$stage" "$out/payload.img"' EXIT
cp -a "$payload" "$stage/in"
mkdir "$stage/out"
[ $# -eq 0 ] || printf '%s\n' "$@" >"$stage/args"
touch "$stage/args"
kb=$(du -sk "$stage" | cut -f1)
rm -f "$out/payload.img"
mke2fs -q -t ext4 -d "$stage" "$out/payload.img" "$((kb * 2 + 262144))k" >/dev/null

. "$here/qemuBoot.sh"
start=$(date +%s)
qrc=0
# snapshot=on keeps the root's writes in a temporary file qemu deletes.
bootVm "$image" "$log" "$secs" vmmode=run \
    -drive "file=$image/rootfs.img,format=raw,if=virtio,snapshot=on" \
    -drive "file=$out/payload.img,format=raw,if=virtio" || qrc=$?
echo "runInVm: VM ran $(( $(date +%s) - start )) s" >&2

rm -rf "$out/out"
debugfs -R "rdump /out $out" "$out/payload.img" >/dev/null 2>&1 || true

# Serial lines end in CR LF; firmware escapes may precede the first line.
tr -d '\r' <"$log" |
    sed -n '/=====VMCASES BEGIN=====/,/^=====VMCASES END=====$/{/=====VMCASES /d;p;}'
rc=$(tr -d '\r' <"$log" | sed -n 's/^VMRESULT \([0-9][0-9]*\)$/\1/p' | tail -n1)
if [ -z "$rc" ]; then
    [ $qrc -eq 124 ] && echo "runInVm: timed out after $secs s" >&2
    echo "runInVm: no result from the VM (qemu status $qrc); end of $log:" >&2
    tr -d '\r' <"$log" | tail -n 30 >&2
    [ $qrc -eq 124 ] && exit 124
    exit 125
fi
exit "$rc"
