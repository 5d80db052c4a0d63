#!/usr/bin/env bash
# ntfs-volume.sh mount|unmount DIR [SIZE]
# A small NTFS image (DIR/volume.img) mounted with ntfs-3g at DIR/mnt, with
# Windows stream semantics, so that Wine sees true alternate data streams and
# Linux can read a stream as DIR/mnt/FILE:z. Exits 1, saying why and leaving
# no mount, where FUSE or ntfs-3g is missing or the mount fails: the tests
# that need the volume cannot run, and the run must not pass without them.
set -u
cmd=$1 dir=$2 size=${3:-${KESTRIN_NTFS_SIZE:-6G}}
img=$dir/volume.img mnt=$dir/mnt
case $cmd in
mount)
    mkdir -p "$mnt"
    if mountpoint -q "$mnt"; then
        fusermount -u -z "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
    fi
    rm -f "$img"
    if [ ! -e /dev/fuse ] || ! command -v ntfs-3g >/dev/null || ! command -v mkntfs >/dev/null; then
        echo "NTFS volume unavailable: no /dev/fuse or ntfs-3g (scripts/setup.sh installs ntfs-3g)"
        exit 1
    fi
    truncate -s "$size" "$img" && mkntfs -F -Q -q "$img" >/dev/null 2>&1 &&
        ntfs-3g -o streams_interface=windows "$img" "$mnt" 2>&1
    if mountpoint -q "$mnt"; then
        : > "$mnt/.kestrin-volume"
        echo "NTFS volume mounted at $mnt ($size)"
    else
        echo "NTFS volume unavailable: the mount failed"
        rm -f "$img"
        exit 1
    fi
    ;;
unmount)
    if mountpoint -q "$mnt"; then
        fusermount -u "$mnt" 2>/dev/null || fusermount -u -z "$mnt" 2>/dev/null || umount -l "$mnt"
    fi
    rm -f "$img"
    echo "NTFS volume unmounted"
    ;;
esac
exit 0
