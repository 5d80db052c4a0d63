#!/usr/bin/env bash
# emulated.sh MODEL COMMAND...: runs COMMAND with every 32-bit x86 program it
# starts emulated by qemu-i386 as processor MODEL (core2duo: SSE2 and SSSE3
# but no SSE4.1; Penryn: SSE4.1), so that the engine's processor-dependent
# choices can be tested for real on any host.
#
# Where binfmt_misc already sends i386 programs to qemu (a host without
# 32-bit execution, set up by setup.sh), QEMU_CPU picks the model. Where the
# host executes 32-bit code natively, a private binfmt_misc in a user
# namespace (Linux 6.7 and later) sends this command's 32-bit programs to
# qemu and leaves every other program on the machine alone. Exits 77 (CTest's
# skip) with the reason when neither can be had.
set -u
model=$1
shift
export QEMU_CPU=$model
binfmt=/proc/sys/fs/binfmt_misc
qemu=$(command -v qemu-i386) || { echo "SKIPPED: no qemu-i386 (scripts/setup.sh installs it)"; exit 77; }
if [ -f $binfmt/qemu-i386 ] && grep -q '^enabled' $binfmt/qemu-i386; then
    exec "$@"
fi
if [ "${1:-}" = --inside ]; then
    shift
    mount -t binfmt_misc binfmt_misc $binfmt 2>/dev/null || { echo "SKIPPED: no private binfmt_misc in a user namespace (needs Linux 6.7)"; exit 77; }
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
        > $binfmt/register 2>/dev/null || { echo "SKIPPED: qemu-i386 could not be registered in the private binfmt_misc"; exit 77; }
    "$@"
    rc=$?
    # The namespace's own wineserver ends with its last program.
    [ -n "${KESTRIN_OWN_PREFIX:-}" ] && wineserver -w 2>/dev/null
    exit $rc
fi
# The namespace gets a prefix of its own, and so a wineserver of its own. A
# server first started in there cannot reach the memory of programs outside
# it; were it the shared prefix's, the programs started outside while it
# lived (the window tests, two at a time, keep one server alive from test to
# test) would be served by it, and the window tests' reads of the Kestrin
# process's memory would fail. Starting the shared server out here first is
# no cure: one that is just ending lets the namespace start the next.
# One copy per run (scripts/copy-prefix.sh), since two entries of one model
# may run at once.
prefix=${WINEPREFIX:-${KESTRIN_WINEPREFIX:-${KESTRIN_BUILD_DIR:+$KESTRIN_BUILD_DIR/wineprefix}}}
own=
if [ -n "$prefix" ] && [ -f "$prefix/system.reg" ]; then
    prefix=$(cd "$prefix" && pwd)
    own=$(mktemp -u "$prefix-$model.XXXXXX")
    "$(dirname "$0")/copy-prefix.sh" "$prefix" "$own" || { echo "emulated.sh: could not copy the wine prefix $prefix to $own"; rm -rf "$own"; exit 1; }
    export WINEPREFIX=$own KESTRIN_WINEPREFIX=$own KESTRIN_OWN_PREFIX=1
fi
unshare --user --map-root-user --mount --fork "$0" "$model" --inside "$@"
rc=$?
[ -n "$own" ] && rm -rf "$own"
exit $rc
