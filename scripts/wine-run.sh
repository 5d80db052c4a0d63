#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's quiet settings and the
# prefix kept inside the build tree (KESTRIN_WINEPREFIX, else ./wineprefix
# beside the program's build folder).
set -u
if [ -z "${WINEPREFIX:-}" ]; then
    if [ -n "${KESTRIN_WINEPREFIX:-}" ]; then
        WINEPREFIX=$KESTRIN_WINEPREFIX
    else
        # Walk up from the program to the folder that holds CMakeCache.txt.
        d=$(cd "$(dirname "$1")" && pwd)
        while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
        [ "$d" = / ] && d=$(pwd)
        WINEPREFIX=$d/wineprefix
    fi
fi
export WINEPREFIX
# Fixtures (display, volume) publish their settings here.
if [ -n "${KESTRIN_TEST_ENV:-}" ] && [ -f "$KESTRIN_TEST_ENV" ]; then . "$KESTRIN_TEST_ENV"; fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX" >&2
fi
. "$(dirname "$0")/wine-env.sh"
exec "$WINE" "$@"
