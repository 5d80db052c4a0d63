#!/usr/bin/env bash
# Installs everything Kestrin needs to build and test on Debian 12, as root.
# Safe to run again: it only installs what is missing.
#
# 32-bit programs (what ships) must start. Where the host cannot execute
# 32-bit x86 code (a kernel without its compatibility layer), qemu-user from
# bookworm-backports, registered with binfmt_misc for i386 ELF images, runs
# Debian's wine32 loader unchanged; bookworm's own qemu 7.2 costs about 50 s
# of processor time per process start, so only the backports one will do.
# qemu-user is installed on every host: the tests also run the engine on
# emulated processors with and without SSE4.1. Whether 32-bit code starts is
# found by starting one (the wine32 loader), never guessed.
#
# A package mirror that is briefly out of step must not stop it: an index that
# fails to download is retried, and then the lists apt already has are used.
# When the security suite's amd64 and i386 indexes disagree (one of them
# failed to download), wine32:i386 cannot be installed beside its amd64
# libraries; installing from the release's own versions (-t bookworm) can.
set -uo pipefail

pkgs_amd64=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64 cmake make ninja-build python3 wine wine64
    xvfb xauth x11-utils xdotool ntfs-3g fuse3 imagemagick openssl
    googletest procps rhash hyperfine time par2 util-linux)
pkgs_i386=(wine32:i386)

missing_packages() {
    local p
    for p in "${pkgs_amd64[@]}" "${pkgs_i386[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exec "$(dirname "$0")/setup-qemu.sh"
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root" >&2
    exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt_opts=(-q -o Acquire::Retries=3)

# apt-get update exits 100 when one index fails, after fetching the others.
updated=no
for attempt in 1 2 3; do
    if apt-get "${apt_opts[@]}" update; then updated=yes; break; fi
    echo "setup: apt-get update failed (attempt $attempt of 3)" >&2
    [ $attempt -lt 3 ] && sleep $((attempt * 10))
done
[ $updated = yes ] || echo "setup: some package indexes could not be fetched; going on with the lists apt has" >&2

install() { apt-get "${apt_opts[@]}" install -y --no-install-recommends "$@"; }
if ! install "${missing[@]}"; then
    echo "setup: install failed; trying again with the release's own versions (-t bookworm)" >&2
    if ! install -t bookworm "${missing[@]}"; then
        echo "setup: trying once more after a fresh index download" >&2
        sleep 20
        apt-get "${apt_opts[@]}" update || true
        install "${missing[@]}" || install -t bookworm "${missing[@]}" || true
    fi
fi

mapfile -t still < <(missing_packages)
if [ ${#still[@]} -gt 0 ]; then
    echo "setup: FAILED: these packages could not be installed: ${still[*]}" >&2
    echo "setup: the package mirror may be out of step; run scripts/setup.sh again later" >&2
    exit 1
fi
echo "setup: all packages present"
exec "$(dirname "$0")/setup-qemu.sh"
