#!/usr/bin/env bash
# setup-qemu.sh: called by setup.sh once the packages are in. Makes 32-bit
# programs start on a host that cannot execute 32-bit x86 code, and installs
# the emulator that the processor-model tests use on every host.
#
# - qemu-user comes from the backports suite of the mirror the machine already
#   uses, pinned so that nothing else is taken from there (version 8 or later:
#   bookworm's 7.2 takes about 50 s of processor time for each process start).
# - On a host that does not start the wine32 loader, binfmt_misc is mounted
#   where needed and qemu-i386 registered for i386 ELF images with the F flag
#   (the kernel opens the emulator once, so it works in any mount namespace),
#   and the loader is started again to prove it.
# - Where it cannot (not root, no binfmt_misc, no package), it says so in one
#   line and exits 0: the suite then runs on the 64-bit build, and what needs
#   32-bit execution is reported as skipped.
set -uo pipefail
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects, as qemu's own binfmt table has them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

qemu_ok() {  # qemu-i386 present, version 8 or later
    local v
    v=$(qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    [ -n "$v" ] && [ "$v" -ge 8 ]
}

# The mirror the machine uses for bookworm (deb822 or one-line sources).
debian_mirror() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '/^URIs:/ { u = $2 } /^Suites:/ && / bookworm( |$)/ && u { print u; exit }' "$f"
    done | head -1
    grep -h -E '^deb +(\[[^]]*\] +)?[a-z]+://[^ ]+ +bookworm +' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -E 's/^deb +(\[[^]]*\] +)?([^ ]+).*/\2/' | head -1
}

install_qemu() {
    qemu_ok && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: qemu-user 8 or later is missing and only root can install it"; return 1
    fi
    local mirror
    mirror=$(debian_mirror | head -1)
    [ -n "$mirror" ] || { echo "setup: no bookworm mirror found in the apt sources, so no bookworm-backports for qemu-user"; return 1; }
    cat > /etc/apt/sources.list.d/kestrin-backports.sources <<SRC
Types: deb
URIs: $mirror
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    # Nothing is taken from backports unless asked for by name.
    cat > /etc/apt/preferences.d/kestrin-backports <<PIN
Package: *
Pin: release n=bookworm-backports
Pin-Priority: 100
PIN
    local attempt
    for attempt in 1 2 3; do
        # Only the backports index: the others are setup.sh's business.
        apt-get -q -o Acquire::Retries=3 -o Dir::Etc::sourcelist=/etc/apt/sources.list.d/kestrin-backports.sources \
            -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0 update >/dev/null 2>&1 &&
            DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=3 install -y --no-install-recommends \
                qemu-user/bookworm-backports >/dev/null 2>&1 && break
        [ $attempt -lt 3 ] && sleep $((attempt * 10))
    done
    qemu_ok || { echo "setup: qemu-user could not be installed from bookworm-backports ($mirror)"; return 1; }
    echo "setup: qemu-user $(qemu-i386 --version | sed -n 's/^qemu-i386 version \([^ ]*\).*/\1/p') installed from bookworm-backports"
}

registered() { [ -f $binfmt/qemu-i386 ] && grep -q '^enabled' $binfmt/qemu-i386 && grep -q '^flags:.*F' $binfmt/qemu-i386; }

register_qemu() {
    if [ "$(id -u)" -ne 0 ]; then echo "setup: only root can register qemu-i386 with binfmt_misc"; return 1; fi
    if [ ! -f $binfmt/register ]; then
        mount -t binfmt_misc binfmt_misc $binfmt 2>/dev/null
        [ -f $binfmt/register ] || { echo "setup: this kernel has no binfmt_misc, so 32-bit programs cannot be emulated"; return 1; }
    fi
    # One registered without F (or elsewhere) would fail in other namespaces.
    [ -f $binfmt/qemu-i386 ] && ! registered && echo -1 > $binfmt/qemu-i386
    [ -f $binfmt/qemu-i386 ] || printf '%s' ":qemu-i386:M::$magic:$mask:$(command -v qemu-i386):F" > $binfmt/register
    registered || { echo "setup: registering qemu-i386 with binfmt_misc failed"; return 1; }
}

if "$wine32" --version >/dev/null 2>&1; then
    if registered; then
        echo "setup: 32-bit programs start, emulated (qemu-i386 registered with binfmt_misc)"
    else
        echo "setup: this host executes 32-bit code natively"
    fi
    # Native hosts use qemu only for the processor-model tests; without it
    # those report themselves skipped.
    install_qemu >/dev/null || echo "setup: no qemu-user 8 or later: the processor-model tests will be skipped"
    exit 0
fi
started=$(date +%s)
if install_qemu && register_qemu; then
    if "$wine32" --version >/dev/null 2>&1; then
        echo "setup: this host cannot execute 32-bit code; 32-bit programs now start under qemu-i386 (binfmt_misc, F flag; $(( $(date +%s) - started )) s)"
        exit 0
    fi
    echo "setup: qemu-i386 is registered but the wine32 loader still does not start"
fi
echo "setup: 32-bit programs cannot start on this host: the tests run on the 64-bit build, and what needs 32-bit execution is skipped"
exit 0
