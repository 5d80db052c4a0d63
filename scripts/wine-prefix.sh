#!/usr/bin/env bash
# Creates a quiet Wine prefix for tests: no Mono/Gecko prompts, and no
# window-manager handling, which makes Wine stall whenever a window hides.
set -eu
prefix=$1
. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
if [ -f "$prefix/system.reg" ]; then echo "wine prefix ready: $prefix"; exit 0; fi
"$WINE" wineboot -i >/dev/null 2>&1 || true
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "no wine prefix made at $prefix: is wine installed (scripts/setup.sh)?"; exit 1; }
echo "wine prefix ready: $prefix"
