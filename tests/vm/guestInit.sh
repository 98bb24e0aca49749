#!/bin/sh
# PID 1 of the test VM (installed as /usr/local/sbin/vm-init).
# vmmode=prepare (kernel command line): make the Wine prefix once at image
# build time, so runs skip wineboot. vmmode=run: run the payload's cases.sh
# from the second disk. Either way the VM powers itself off, since qemu only
# exits then; a PID 1 that returned would panic the kernel instead.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
HOME=/root
WINEPREFIX=/opt/wineprefix
DISPLAY=:99
# No Mono or Gecko in the image; without this wineboot would wait on their installer.
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export PATH HOME WINEPREFIX DISPLAY WINEDLLOVERRIDES

powerOff() {
    cd /
    sync
    echo o > /proc/sysrq-trigger
    sleep 60
}

# The initramfs moves proc, sys and dev over; mount what is missing anyway.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/shm /dev/pts
mount -t tmpfs shm /dev/shm
mount -t devpts pts /dev/pts
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
dmesg -n 1    # keep kernel messages out of the results on the console
hostname vm
# Wine looks its host name up; there is no network, only this file.
echo "127.0.0.1 localhost vm" >/etc/hosts

# Wine needs an X display; Xvfb has no window manager, hence Managed=N below.
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
i=0
while [ ! -e /tmp/.X11-unix/X99 ] && [ $i -lt 120 ]; do sleep 1; i=$((i + 1)); done

# Under emulation on a busy host wineboot can outlast Wine's own 5 minute
# wait for it; a second pass completes the prefix then.
makePrefix() {
    t0=$(date +%s)
    for try in 1 2 3; do
        wineboot -i >>/tmp/wineboot.log 2>&1 && break
        echo "vm-init: wineboot try $try failed"
        wineserver -w
    done
    # Later sessions then skip running winemenubuilder, which is disabled.
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices' \
        /v winemenubuilder /f >>/tmp/wineboot.log 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>/tmp/wineboot.log 2>&1 &&
        # Proves the WoW64 side works: this cmd.exe is Wine's 32-bit one.
        wine C:/windows/syswow64/cmd.exe /c exit 0 >>/tmp/wineboot.log 2>&1
    prc=$?
    # Wait for the server to exit: it writes the registry to disk then.
    wineserver -w
    echo "vm-init: prefix made, status $prc, in $(( $(date +%s) - t0 )) s"
    [ $prc -eq 0 ] || cat /tmp/wineboot.log
    return $prc
}

case "$vmmode" in
prepare)
    makePrefix
    rc=$?
    mount -o remount,ro /    # a clean file system in the cached image
    echo "VMPREPARED $rc"
    ;;
run)
    mkdir -p /payload
    mount /dev/vdb /payload || { echo "VMRESULT 125"; powerOff; }
    # An image built without the prepare boot still works, only slower.
    [ -f "$WINEPREFIX/system.reg" ] || makePrefix
    set --
    while IFS= read -r a; do set -- "$@" "$a"; done </payload/args
    VM_PAYLOAD=/payload/in VM_OUT=/payload/out
    export VM_PAYLOAD VM_OUT
    wineserver -p
    # Start Wine's session (services, desktop, the 32-bit side) before the
    # cases: the first program otherwise takes half a minute longer, which
    # would skew any time limits the cases use.
    t0=$(date +%s)
    wine C:/windows/syswow64/cmd.exe /c exit 0 >/tmp/warmup.log 2>&1
    echo "vm-init: Wine session started in $(( $(date +%s) - t0 )) s"
    cd "$VM_PAYLOAD"
    echo "=====VMCASES BEGIN====="
    t0=$(date +%s)
    sh ./cases.sh "$@"
    rc=$?
    echo "=====VMCASES END====="
    echo "vm-init: cases took $(( $(date +%s) - t0 )) s"
    wineserver -k
    cd /
    umount /payload || mount -o remount,ro /payload
    echo "VMRESULT $rc"
    ;;
*)
    echo "vm-init: unknown vmmode '$vmmode'"
    ;;
esac
powerOff
