#!/usr/bin/env bash
# Creates a quiet Wine prefix for tests: no Mono/Gecko prompts, no
# window-manager handling (which makes Wine stall whenever a window hides),
# and no debugger on a crash. Wine starts winedbg for an unhandled exception;
# under a test it then sits (with its crash dialog) until CTest's time-out,
# and when it ends the crashed program's exit status is 0. With an empty
# debugger command the program ends at once, non-zero, after Wine's one line
# "Unhandled page fault ... at address ...". An older prefix gets the settings
# it lacks.
set -eu
prefix=$1
. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
settings=$prefix/.kestrin-settings-2
mkdir -p "$prefix"
if [ -f "$prefix/system.reg" ] && [ -f "$settings" ]; then echo "wine prefix ready: $prefix"; exit 0; fi
[ -f "$prefix/system.reg" ] || "$WINE" wineboot -i >/dev/null 2>&1 || true
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
"$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 || true
"$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "no wine prefix made at $prefix: is wine installed (scripts/setup.sh)?"; exit 1; }
grep -q '"Debugger"=""' "$prefix/system.reg" || { echo "wine prefix at $prefix: the debugger could not be switched off"; exit 1; }
: > "$settings"
echo "wine prefix ready: $prefix"
