#!/usr/bin/env bash
# Builds Kestrin (installing what is missing) and opens it under Wine.
# Arguments go to Kestrin's command line, e.g. scripts/run.sh "C:\photos".
# Without a display of your own it starts Xvfb and says where it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686
build=$root/build/i686
if [ -z "${DISPLAY:-}" ]; then
    "$root/scripts/xvfb.sh" start "$build"
    . "$build/test-env.sh"
    echo "No DISPLAY: Kestrin runs on the virtual display $DISPLAY (take a look with: DISPLAY=$DISPLAY import -window root shot.png)"
fi
"$root/scripts/wine-prefix.sh" "$build/wineprefix" >/dev/null
WINEPREFIX=$build/wineprefix exec "$root/scripts/wine-run.sh" "$build/app/Kestrin.exe" "$@"
