#!/usr/bin/env bash
# fixture_sharing_test.sh: two runs overlap in one build tree, as when the
# tests run while a window is open, or while another test run loads the
# machine. The run that ends first must leave the display, the NTFS volume
# and every Wine program of the prefix to the one still running; the last
# one takes them away. Two runs setting up at once make one display and one
# volume. A run that ended without tearing down holds nothing.
# Kestrin's window is the witness: it runs on the shared display, and a
# Wine console program runs beside it in the same prefix.
# Needs KESTRIN_BUILD_DIR (the build's Kestrin.exe and its Wine prefix).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${KESTRIN_BUILD_DIR:?}
# The folder stands for a build tree: the display fixture names its prefix
# after it. The prefix is a copy of the build's, so that the witnesses have a
# wineserver and a desktop of their own, apart from the tests beside them.
work=$(mktemp -d "$build/fixture-sharing.XXXXXX")
"$root/scripts/copy-prefix.sh" "$build/wineprefix" "$work/wineprefix" || { echo "FAILED: no copy of the prefix"; rm -rf "$work"; exit 1; }
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# A run: sets both fixtures up, waits for NAME.stop, tears them down, and
# then lives on (as CTest does after its cleanup) until the test ends.
run() {
    bash -c '
        "$1/scripts/xvfb.sh" start "$2" > "$2/$3.log" 2>&1
        "$1/scripts/ntfs-volume.sh" mount "$2/ntfs" 64M >> "$2/$3.log" 2>&1
        : > "$2/$3.up"
        while [ ! -e "$2/$3.stop" ]; do sleep 0.1; done
        "$1/scripts/ntfs-volume.sh" unmount "$2/ntfs" >> "$2/$3.log" 2>&1
        "$1/scripts/xvfb.sh" stop "$2" >> "$2/$3.log" 2>&1
        : > "$2/$3.down"
        exec sleep 600' _ "$root" "$work" "$1" > /dev/null 2>&1 &
    eval "pid_$1=$!"
}
wait_for() {  # FILE [tenths of a second]
    for _ in $(seq 1 "${2:-300}"); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}
xvfb_alive() { kill -0 "$(cat "$work/xvfb.pid" 2>/dev/null)" 2>/dev/null; }
volume_kept() { mountpoint -q "$work/ntfs/mnt" && [ -e "$work/ntfs/mnt/first-run-was-here" ]; }
cleanup() {
    kill "$witness" "$console" 2>/dev/null
    exec 7>&- 2>/dev/null
    kill ${pid_a:-} ${pid_b:-} ${pid_c:-} ${pid_d:-} 2>/dev/null
    "$root/scripts/ntfs-volume.sh" unmount "$work/ntfs" > /dev/null 2>&1
    mountpoint -q "$work/ntfs/mnt" && fusermount -u -z "$work/ntfs/mnt"
    [ -f "$work/xvfb.pid" ] && kill "$(cat "$work/xvfb.pid")" 2>/dev/null
    WINEPREFIX=$work/wineprefix wineserver -k 2>/dev/null
    WINEPREFIX=$work/wineprefix wineserver -w 2>/dev/null
    rm -rf "$work"
}
witness='' console=''
trap cleanup EXIT

run a
wait_for "$work/a.up" || { cat "$work/a.log"; fail "the first run set up no fixtures"; exit 1; }
mountpoint -q "$work/ntfs/mnt" && xvfb_alive || { cat "$work/a.log"; echo "FAILED: no display or volume"; exit 1; }
: > "$work/ntfs/mnt/first-run-was-here"
display=$(sed -n 's/^export DISPLAY=//p' "$work/test-env.sh")
DISPLAY=$display WINEPREFIX=$work/wineprefix "$root/scripts/wine-run.sh" "$build/app/Kestrin.exe" > "$work/kestrin.log" 2>&1 &
witness=$!
for _ in $(seq 1 600); do
    DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Kestrin"' && break
    kill -0 $witness 2>/dev/null || break
    sleep 0.1
done
DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Kestrin"' ||
    { cat "$work/kestrin.log"; kill -0 $witness 2>/dev/null || { wait $witness; echo "Kestrin ended, exit code $?"; }
      echo "FAILED: Kestrin's window did not open on the shared display"; exit 1; }
# Only now: the prefix's desktop takes the display of the first program that
# needs it, and keeps it.
mkfifo "$work/keys"
DISPLAY=$display WINEPREFIX=$work/wineprefix "$root/scripts/wine-run.sh" cmd /c pause < "$work/keys" > "$work/console.log" 2>&1 &
console=$!
exec 7> "$work/keys"   # no key comes while this stays open

run b
wait_for "$work/b.up" || fail "the second run set up no fixtures"
volume_kept || fail "the second run's mount made the volume the first one uses anew"
: > "$work/b.stop"
wait_for "$work/b.down" || fail "the second run did not tear down"
xvfb_alive || fail "the second run's stop ended the display the first still uses"
kill -0 $witness 2>/dev/null || fail "the second run's stop ended Kestrin's window, on the display the first still uses"
kill -0 $console 2>/dev/null || fail "the second run's stop ended a Wine program of the prefix"
volume_kept || fail "the second run's unmount took the volume from the first"

: > "$work/a.stop"
wait_for "$work/a.down" || fail "the first run did not tear down"
xvfb_alive && fail "the last run's stop left the display running"
mountpoint -q "$work/ntfs/mnt" && fail "the last run's unmount left the volume mounted"
for _ in $(seq 1 100); do kill -0 $witness 2>/dev/null || break; sleep 0.1; done
kill -0 $witness 2>/dev/null && fail "Kestrin's window outlived its display"
for _ in $(seq 1 100); do kill -0 $console 2>/dev/null || break; sleep 0.1; done
kill -0 $console 2>/dev/null && fail "the last run's stop left a Wine program of the prefix running"

# Two runs set up at once; one of them is killed before its cleanup, and the
# other's stop still ends display and volume.
run c
run d
wait_for "$work/c.up" && wait_for "$work/d.up" || fail "two runs at once set up no fixtures"
[ "$(cat "$work/c.log" "$work/d.log" | grep -c '^Xvfb on')" = 1 ] || fail "two runs at once started two displays"
[ "$(cat "$work/c.log" "$work/d.log" | grep -c '^NTFS volume mounted')" = 1 ] || fail "two runs at once mounted twice"
kill $pid_c; wait $pid_c 2>/dev/null
: > "$work/d.stop"
wait_for "$work/d.down" || fail "the fourth run did not tear down"
xvfb_alive && fail "a run that was killed kept the display running"
mountpoint -q "$work/ntfs/mnt" && fail "a run that was killed kept the volume mounted"

[ $failures -eq 0 ] || { for f in "$work"/?.log; do echo "--- $f"; cat "$f"; done; exit 1; }
echo "fixture sharing: 4 runs, the display, the volume and two Wine programs as expected"
