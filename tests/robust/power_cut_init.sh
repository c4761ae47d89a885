#!/bin/busybox sh
# The first process of the power-cut harness's virtual machine: loads the drivers, mounts this
# machine's root read-only from the host, and runs the harness's script for this boot there, in a
# chroot. The script mounts the disk images itself and unmounts them at its end, as a clean
# shutdown would; a cut stops the machine wherever it is.
/bin/busybox --install -s /bin
mkdir -p /proc /dev /host
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for module in /modules/*.ko; do
    insmod "$module" 2>/dev/null # the generic crc32c stays when the CPU's own cannot load
done
if mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose host /host; then
    mount -t proc proc /host/proc
    mount -t devtmpfs dev /host/dev
    mount -t tmpfs -o mode=0700 tmpfs /host/run
    echo "PC-BOOTED"
    chroot /host /bin/sh "$pcscript"
else
    echo "PC-PROBLEM the host's root does not mount over 9p"
fi
echo "PC-HALT"
poweroff -f
