#!/usr/bin/env bash
# ntfs-volume.sh mount|unmount DIR [SIZE]
# A small NTFS image (DIR/volume.img) mounted with ntfs-3g at DIR/mnt, with
# Windows stream semantics, so that Wine sees true alternate data streams and
# Linux can read a stream as DIR/mnt/FILE:z. Exits 1, saying why and leaving
# no mount, where FUSE or ntfs-3g is missing or the mount fails: the tests
# that need the volume cannot run, and the run must not pass without them.
# Runs that overlap share it (fixture-holders.sh): a mount while another run
# holds the volume keeps it as it is, and the last unmount takes it away.
set -u
cmd=$1 dir=$2 size=${3:-${KESTRIN_NTFS_SIZE:-6G}}
img=$dir/volume.img mnt=$dir/mnt holders=$dir/holders
. "$(dirname "$0")/fixture-holders.sh"
# A mount whose ntfs-3g has died ("Transport endpoint is not connected") is
# no mountpoint to mountpoint(1), but it is still in the mount table and
# blocks the folder until it is taken away.
mounted() { mountpoint -q "$1" 2>/dev/null || findmnt -rn --mountpoint "$1" >/dev/null 2>&1; }
mkdir -p "$dir"
fixture_lock "$dir/lock"
case $cmd in
mount)
    if mounted "$mnt" && [ -e "$mnt/.kestrin-volume" ] && fixture_held_by_others "$holders"; then
        fixture_hold "$holders"
        echo "NTFS volume at $mnt shared with another run in this build"
        exit 0
    fi
    if mounted "$mnt"; then
        fusermount -u -z "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null
    fi
    mkdir -p "$mnt"
    rm -f "$img"
    if [ ! -e /dev/fuse ] || ! command -v ntfs-3g >/dev/null || ! command -v mkntfs >/dev/null; then
        echo "NTFS volume unavailable: no /dev/fuse or ntfs-3g (scripts/setup.sh installs ntfs-3g)"
        exit 1
    fi
    truncate -s "$size" "$img" && mkntfs -F -Q -q "$img" >/dev/null 2>&1 &&
        ntfs-3g -o streams_interface=windows "$img" "$mnt" 2>&1 9>&-
    if mountpoint -q "$mnt"; then
        : > "$mnt/.kestrin-volume"
        fixture_hold "$holders"
        echo "NTFS volume mounted at $mnt ($size)"
    else
        echo "NTFS volume unavailable: the mount failed"
        rm -f "$img"
        exit 1
    fi
    ;;
unmount)
    fixture_release "$holders"
    if fixture_held_by_others "$holders"; then
        echo "NTFS volume left mounted: another run in this build uses it"; exit 0
    fi
    if mounted "$mnt"; then
        fusermount -u "$mnt" 2>/dev/null || fusermount -u -z "$mnt" 2>/dev/null || umount -l "$mnt"
    fi
    rm -f "$img"
    echo "NTFS volume unmounted"
    ;;
esac
exit 0
