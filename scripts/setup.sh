#!/usr/bin/env bash
# Installs everything Kestrin needs to build and test on Debian 12, as root.
# Safe to run again: it only installs what is missing.
set -euo pipefail

pkgs_amd64=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64 cmake make ninja-build python3 wine wine64
    xvfb xauth x11-utils xdotool ntfs-3g fuse3 imagemagick openssl
    googletest procps rhash)
pkgs_i386=(wine32:i386)

missing=()
for p in "${pkgs_amd64[@]}" "${pkgs_i386[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages (${missing[*]}); run as root" >&2
        exit 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
