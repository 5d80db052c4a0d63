#!/usr/bin/env bash
# copy-prefix.sh SRC DST: a Wine prefix of its own, and so a wineserver of its
# own, made in a second from SRC. It links Windows' program files (over a
# gigabyte, which Wine only reads) and copies the rest (the registry, .ini
# files: a few MB), which Wine writes.
set -u
src=$1 dst=$2
cp -al "$src" "$dst" || exit 1
cd "$dst" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
    -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.tlb' -o -iname '*.nls' -o -iname '*.ax' \
    -o -iname '*.ds' -o -iname '*.msstyles' -o -iname '*.mui' -o -iname '*.com' \) -print0 |
    while IFS= read -r -d '' f; do cp --remove-destination "$src/$f" "$f" || exit 1; done
