#!/bin/sh
# /init of the hardware-test VM (busybox sh): loads the kernel's test drivers, mounts the host's
# root read-only and runs the hardware tests there (chroot), with this VM's /dev.
# Kernel command line: orv.bin=PATH (the test program, a host path), orv.src=PATH (source tree),
# orv.timeout=SECONDS.
export PATH=/usr/bin:/usr/sbin:/bin:/sbin
/bin/busybox mount -t devtmpfs devtmpfs /dev 2>/dev/null
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys

finish() { echo "@@HW@@ EXIT=$1"; sync; poweroff -f; sleep 5; }

bin= src= limit=400 filter=
for arg in $(cat /proc/cmdline); do
    case "$arg" in
        orv.bin=*) bin=${arg#orv.bin=} ;;
        orv.src=*) src=${arg#orv.src=} ;;
        orv.timeout=*) limit=${arg#orv.timeout=} ;;
        orv.filter=*) filter=${arg#orv.filter=} ;;
    esac
done
echo "@@HW@@ BOOTED kernel=$(uname -r) uptime=$(cut -d' ' -f1 /proc/uptime)"

for m in virtio_pci 9pnet_virtio 9p vivid snd-dummy snd-aloop; do
    modprobe "$m" || { echo "@@HW@@ modprobe $m failed"; finish 125; }
done

mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro hostroot /host || finish 125
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -o rbind /dev /host/dev
# The tests write below /tmp: fresh tmpfs there. A checkout that itself lies below one of these
# folders (a CI clone in /tmp) is kept visible by binding it back over the tmpfs.
keep=""
for d in tmp run var/tmp; do case "$src/" in "/$d/"*) keep=$d ;; esac; done
[ -n "$keep" ] && { mkdir -p /keep; mount -o bind "/host$src" /keep || finish 125; }
for d in tmp run var/tmp; do [ -d "/host/$d" ] && mount -t tmpfs tmpfs "/host/$d"; done
chmod 1777 /host/tmp
[ -n "$keep" ] && { mkdir -p "/host$src"; mount -o bind /keep "/host$src" || finish 125; }

# Device nodes appear asynchronously.
i=0
while [ $i -lt 50 ] && { [ ! -e /dev/video0 ] || [ ! -e /dev/snd/controlC0 ]; }; do sleep 0.1; i=$((i+1)); done

# run EXTRA_ENV GTEST_ARGS...
run() {
    extra=$1; shift
    # shellcheck disable=SC2086
    timeout -k 5 "$limit" chroot /host /usr/bin/env -i HOME=/tmp TERM=dumb LANG=ko_KR.UTF-8 \
        PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin QT_QPA_PLATFORM=offscreen \
        ORVANE_HW_VM=1 ORVANE_DEVICES=all ORVANE_MIXER=alsa \
        ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$src/tests/lsan.supp $extra "$bin" "$@"
}
echo "@@HW@@ TESTS-BEGIN uptime=$(cut -d' ' -f1 /proc/uptime)"
if [ -n "$filter" ]; then
    run "ORVANE_HW_PASS=1 ORVANE_HW_LONG=1" --gtest_filter="$filter"
    rc=$?
else
    run ORVANE_HW_PASS=1 --gtest_filter=-Unplug.*:Long.*
    rc=$?
    # Unplugging vivid is for good: it comes last, on its own.
    [ $rc -eq 0 ] && { run ORVANE_HW_UNPLUG=1 --gtest_filter=Unplug.*; rc=$?; }
fi
echo "@@HW@@ TESTS-END uptime=$(cut -d' ' -f1 /proc/uptime)"
umount /host/dev 2>/dev/null
finish $rc
