#!/bin/bash
# run-vm.sh [BUILD_DIR] - runs the hardware tests (BUILD_DIR/tests/hw_tests, default build-tests)
# inside a qemu VM that boots Debian's kernel with the test drivers vivid (a TV card), snd-dummy
# (a sound card's mixer) and snd-aloop (real sound data). The host's root is shared read-only, so
# the test program runs with the host's libraries. Exit status: the tests' status; 124 on time-out;
# 125 when the VM failed before the tests reported; 2 when something needed is missing.
# Needs (Debian): qemu-system-x86 linux-image-amd64 busybox-static cpio kmod alsa-utils.
# Environment: HW_VM_ACCEL=auto|kvm|tcg (auto: KVM when it boots, else TCG), HW_VM_TIMEOUT=600
# (seconds for the whole VM), HW_VM_MEM=1G, KVER (default: newest kernel with vivid.ko).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build-tests}" 2>/dev/null && pwd) || { echo "run-vm: no build folder ${1:-build-tests}" >&2; exit 2; }
bin=$build/tests/hw_tests
work=$build/hw-vm
log() { echo "run-vm: $*" >&2; }

[ -x "$bin" ] || { log "$bin missing: build the target hw_tests first"; exit 2; }
for tool in qemu-system-x86_64 busybox modprobe depmod cpio gzip; do
    command -v "$tool" >/dev/null || { log "'$tool' missing (apt-get install qemu-system-x86 busybox-static kmod cpio)"; exit 2; }
done
case "$src$bin" in *[[:space:]]*) log "paths with spaces cannot go on the kernel command line"; exit 2 ;; esac

if [ -z "${KVER:-}" ]; then
    for d in $(ls -1d /lib/modules/*/ 2>/dev/null | sort -V); do
        [ -n "$(find "$d" -name 'vivid.ko*' -print -quit)" ] && KVER=$(basename "$d")
    done
fi
[ -n "${KVER:-}" ] && [ -r "/boot/vmlinuz-$KVER" ] || { log "no kernel with vivid (apt-get install linux-image-amd64)"; exit 2; }
mkdir -p "$work"

# --- initramfs: static busybox, the modules with their dependencies, our /init ---------------------
initrd=$work/initramfs-$KVER.cpio.gz
if [ ! -s "$initrd" ] || [ "$here/vm-init.sh" -nt "$initrd" ] || [ "$0" -nt "$initrd" ]; then
    bb=$(command -v busybox)
    if ldd "$bb" >/dev/null 2>&1; then log "$bb is dynamically linked: install busybox-static"; exit 2; fi
    stage=$(mktemp -d /tmp/hw-initramfs.XXXXXX)
    mkdir -p "$stage"/usr/bin "$stage"/usr/lib/modules/"$KVER" "$stage"/proc "$stage"/sys "$stage"/dev "$stage"/tmp
    ln -s usr/bin "$stage/bin"; ln -s usr/bin "$stage/sbin"; ln -s usr/lib "$stage/lib"
    cp "$bb" "$stage/usr/bin/busybox"
    for applet in $("$bb" --list); do [ -e "$stage/usr/bin/$applet" ] || ln -s busybox "$stage/usr/bin/$applet"; done
    for m in virtio_pci 9pnet_virtio 9p vivid snd-dummy snd-aloop; do
        deps=$(modprobe -S "$KVER" --show-depends "$m") || { log "module $m not found for $KVER"; rm -rf "$stage"; exit 2; }
        while read -r kind path _; do
            [ "$kind" = insmod ] || continue
            rel=${path#/lib/modules/$KVER/}; rel=${rel#/usr/lib/modules/$KVER/}
            mkdir -p "$stage/usr/lib/modules/$KVER/$(dirname "$rel")"
            cp -n "/lib/modules/$KVER/$rel" "$stage/usr/lib/modules/$KVER/$rel"
        done <<< "$deps"
    done
    for f in modules.order modules.builtin modules.builtin.modinfo; do
        [ -f "/lib/modules/$KVER/$f" ] && cp "/lib/modules/$KVER/$f" "$stage/usr/lib/modules/$KVER/"
    done
    depmod -b "$stage" "$KVER"
    install -m 0755 "$here/vm-init.sh" "$stage/init"
    (cd "$stage" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc --owner=0:0 --quiet) | gzip -6 > "$initrd.tmp"
    mv "$initrd.tmp" "$initrd"
    rm -rf "$stage"
fi

# --- kernel: the uncompressed image boots through its PVH entry, skipping a slow decompression ------
kernel=/boot/vmlinuz-$KVER
if grep -qs '^CONFIG_PVH=y' "/boot/config-$KVER"; then
    vmlinux=$work/vmlinux-$KVER
    if [ ! -s "$vmlinux" ] || [ "$kernel" -nt "$vmlinux" ]; then
        for off in $(LC_ALL=C grep -abo $'\xfd7zXZ' "$kernel" 2>/dev/null | head -3 | cut -d: -f1); do
            tail -c +$((off + 1)) "$kernel" | xz -dc > "$vmlinux.tmp" 2>/dev/null
            if [ "$(head -c 4 "$vmlinux.tmp" | od -An -tx1 | tr -d ' ')" = 7f454c46 ]; then mv "$vmlinux.tmp" "$vmlinux"; break; fi
        done
        rm -f "$vmlinux.tmp"
    fi
    [ -s "$vmlinux" ] && kernel=$vmlinux
fi

mem=${HW_VM_MEM:-1G}
limit=${HW_VM_TIMEOUT:-600}
base=(-machine pc -m "$mem" -smp 1 -nodefaults -no-user-config -display none -monitor none -serial stdio
      -no-reboot -kernel "$kernel" -initrd "$initrd")
share=(-fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap"
       -device "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot")
append="console=ttyS0 quiet loglevel=3 panic=-1 orv.bin=$bin orv.src=$src orv.timeout=$((limit - 40))"
# HW_VM_FILTER runs those tests alone (the long ones, Long.*, are left out otherwise).
[ -n "${HW_VM_FILTER:-}" ] && append="$append orv.filter=$HW_VM_FILTER"

# --- accelerator: KVM where it really boots this kernel, else TCG ----------------------------------
accel=${HW_VM_ACCEL:-auto}
cache=$work/accel.$(uname -r).$KVER
[ "$accel" = auto ] && [ -s "$cache" ] && accel=$(cat "$cache")
if [ "$accel" = auto ]; then
    accel=tcg
    if [ -r /dev/kvm ] && [ -w /dev/kvm ] && log "probing KVM (once)" && timeout 30 qemu-system-x86_64 "${base[@]}" -accel kvm \
        -cpu host -append "console=ttyS0 quiet panic=-1 orv.bin=/none" </dev/null 2>&1 | grep -q '@@HW@@ BOOTED'; then accel=kvm; fi
    echo "$accel" > "$cache"
fi
case "$accel" in
    kvm) acc=(-accel kvm -cpu host) ;; tcg) acc=(-accel tcg -cpu max) ;;
    *) log "HW_VM_ACCEL must be auto, kvm or tcg"; exit 2 ;;
esac

log "kernel $KVER, $accel, $mem, time limit ${limit}s: $bin"
console=$work/console.log
t0=$(date +%s)
timeout "$limit" qemu-system-x86_64 "${base[@]}" "${acc[@]}" "${share[@]}" -append "$append" </dev/null 2>&1 \
    | tr -d '\r' | tee "$console"
qrc=${PIPESTATUS[0]}
rc=$(sed -n 's/^@@HW@@ EXIT=\([0-9]*\).*/\1/p' "$console" | tail -1)
[ -z "$rc" ] && { [ "$qrc" = 124 ] && { log "the VM ran out of time (${limit}s)"; rc=124; } || { log "the VM ended without a result (qemu $qrc)"; rc=125; }; }
log "exit $rc after $(( $(date +%s) - t0 ))s; console in $console"
exit "$rc"
