# Sourced by the scripts that start Wine. Sets WINE to the loader that can
# start this build's programs, and KESTRIN_HOST32 to yes or no: whether this
# host can execute 32-bit x86 code at all. Some hosts cannot (a kernel without
# 32-bit compatibility, such as a paravirtualised guest): there Debian's
# `wine` wrapper fails at once ("Exec format error") even for a 64-bit
# program, since it always starts the 32-bit loader first, so the 64-bit
# loader is called directly.
if [ -z "${KESTRIN_HOST32:-}" ]; then
    if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        KESTRIN_HOST32=yes
    else
        KESTRIN_HOST32=no
    fi
    export KESTRIN_HOST32
fi
# How: natively, or emulated by qemu-i386 through binfmt_misc (setup.sh
# registers it only where the host cannot execute 32-bit code itself).
if [ -z "${KESTRIN_HOST32_MODE:-}" ]; then
    if [ "$KESTRIN_HOST32" != yes ]; then
        KESTRIN_HOST32_MODE=none
    elif [ -f /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
        KESTRIN_HOST32_MODE=emulated
    else
        KESTRIN_HOST32_MODE=native
    fi
    export KESTRIN_HOST32_MODE
fi
if [ "$KESTRIN_HOST32" = yes ] || [ ! -x /usr/lib/wine/wine64 ]; then
    WINE=wine
else
    WINE=/usr/lib/wine/wine64
    export WINELOADER=/usr/lib/wine/wine64
fi
