#!/usr/bin/env bash
# Builds Kestrin (installing what is missing) and opens it under Wine.
# Arguments go to Kestrin's command line, e.g. scripts/run.sh "C:\photos".
# Without a display of your own it starts Xvfb and says where it is.
# scripts/run.sh --demo: opens Kestrin on a demo folder of a few files on a
# small NTFS volume (real alternate data streams), to try the whole cycle.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686
build=$root/build/i686
# Either way this run holds the build's display while the window is open, so
# that a test run ending meanwhile leaves the window and its prefix alone.
if [ -z "${DISPLAY:-}" ]; then
    "$root/scripts/xvfb.sh" start "$build"
    . "$build/test-env.sh"
    echo "No DISPLAY: Kestrin runs on the virtual display $DISPLAY (take a look with: DISPLAY=$DISPLAY import -window root shot.png)"
else
    "$root/scripts/xvfb.sh" hold "$build"
fi
"$root/scripts/wine-prefix.sh" "$build/wineprefix" >/dev/null
if [ "${1:-}" = "--demo" ]; then
    shift
    "$root/scripts/ntfs-volume.sh" mount "$build/demo" 256M
    demo=$build/demo/mnt/Demo
    [ -e "$build/demo/mnt/.kestrin-volume" ] || demo=$build/demo-files   # no FUSE: a plain folder
    mkdir -p "$demo/Photos 2026/raw" "$demo/notes"
    head -c 3000000 /dev/urandom > "$demo/Photos 2026/beach.jpg"
    head -c 800000 /dev/urandom > "$demo/Photos 2026/raw/beach.raw"
    echo "shopping: bread, milk" > "$demo/notes/list.txt"
    : > "$demo/notes/empty.txt"
    echo "Demo folder: $demo (change a file there to see Check find it)"
    set -- "Z:$(echo "$demo" | tr / '\\')" "$@"
fi
if [ -n "${demo:-}" ]; then
    WINEPREFIX=$build/wineprefix "$root/scripts/wine-run.sh" "$build/app/Kestrin.exe" "$@"
    WINEPREFIX=$build/wineprefix wineserver -w
    "$root/scripts/ntfs-volume.sh" unmount "$build/demo"
else
    WINEPREFIX=$build/wineprefix exec "$root/scripts/wine-run.sh" "$build/app/Kestrin.exe" "$@"
fi
