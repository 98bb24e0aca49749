# Sourced by buildImage.sh and runInVm.sh: one way to boot the test VM.
# bootVm IMAGE_DIR LOG SECONDS KERNEL_ARGS QEMU_ARGS...
# No KVM here, so qemu emulates (TCG). pku and smap must stay off: with them
# the emulation faults Wine's return to user mode and kills every Wine process.
# Returns qemu's status, or 124 when it ran out of time and was killed.
bootVm() {
    local dir=$1 log=$2 secs=$3 kargs=$4
    shift 4
    timeout -k 10 "$secs" qemu-system-x86_64 \
        -accel tcg,thread=multi -cpu max,pku=off,smap=off -smp 2 -m 4096 \
        -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
        -append "root=/dev/vda rw init=/usr/local/sbin/vm-init console=ttyS0 quiet $kargs" \
        -nographic -no-reboot -nic none "$@" </dev/null >"$log" 2>&1
}
