#!/usr/bin/env bash
# bench-par2.sh [CLI] [MB] [ROUNDS]
# kestrin-cli protect and repair against Debian's par2 (par2cmdline) on a
# scratch NTFS volume (ntfs-3g), in runs paired in one call so that both see
# the same machine at the same time: MB megabytes (default 1,000) of random
# data in files of 100 MB, carrying digests (protect checks each against
# its "z" first, as it always does), in 2,000 slices at 5 % and 10 %; par2
# is given the slice size Kestrin chose. After each pair the recovery data
# of both sets is compared exponent by exponent (identical, or the script
# fails). Then 5 % of the slices are damaged (bytes flipped, times kept) and
# repaired by each, from Kestrin's set, the damage made again between them.
# Times are wall-clock seconds of the whole program (Wine's start-up
# included for kestrin-cli). CLI defaults to the x86_64 build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${1:-$root/build/x86_64/cli/kestrin-cli.exe}") mb=${2:-1000} rounds=${3:-2}
command -v par2 >/dev/null || { echo "par2 is not installed"; exit 77; }
work=$(mktemp -d /tmp/kestrin-bench-par2.XXXXXX)
trap '"$root/scripts/ntfs-volume.sh" unmount "$work" >/dev/null; rm -rf "$work"' EXIT
KESTRIN_NTFS_SIZE=$((mb * 3 + 600))M "$root/scripts/ntfs-volume.sh" mount "$work" >/dev/null
mountpoint -q "$work/mnt" || { echo "no NTFS volume here (FUSE, ntfs-3g)"; exit 77; }
data=$work/mnt/data sets=$work/mnt/sets
mkdir -p "$data" "$sets"
python3 - "$data" "$mb" <<'PY'
import os, sys, random
root, mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(26)
left, i = mb * 1000000, 0
while left > 0:
    n = min(left, 100000000)
    with open(os.path.join(root, 'part%02d.bin' % i), 'wb') as fh:
        for _ in range(n // 1000000):
            fh.write(rng.randbytes(1000000))
        fh.write(rng.randbytes(n % 1000000))
    left -= n
    i += 1
PY
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
export KESTRIN_WINEPREFIX=${KESTRIN_WINEPREFIX:-$(dirname "$(dirname "$cli")")/wineprefix}
kcli() { "$root/scripts/wine-run.sh" "$cli" "$@"; }
kcli create "$(win "$data")" >/dev/null 2>&1
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >"$work/last.log" 2>&1 || { cat "$work/last.log"; return 1; }; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
# The recovery data of a set, one "exponent sha256" line per slice.
recovery_sums() {
    python3 - "$@" <<'PY'
import struct, sys, hashlib
seen = {}
for fn in sys.argv[1:]:
    d = open(fn, 'rb').read(); p = 0
    while True:
        p = d.find(b'PAR2\0PKT', p)
        if p < 0: break
        n = struct.unpack('<Q', d[p+8:p+16])[0]
        if d[p+48:p+64] == b'PAR 2.0\0RecvSlic':
            e = struct.unpack('<I', d[p+64:p+68])[0]
            seen.setdefault(e, hashlib.sha256(d[p+68:p+n]).hexdigest())
        p += n
for e in sorted(seen): print(e, seen[e])
PY
}
echo "machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "data: $mb MB in $(ls "$data" | wc -l) files on ntfs-3g; par2 $(par2 -V | head -1); kestrin-cli $cli"
for pct in 5 10; do
    for ((i = 1; i <= rounds; ++i)); do
        rm -f "$sets"/*
        tk=$(seconds kcli protect --redundancy "$pct" "$(win "$sets/k.par2")" "$(win "$data")")
        slice=$(sed -n 's/.* slices of \([0-9]*\) bytes.*/\1/p' "$work/last.log")
        kernel=$(sed -n 's/.* bytes, \([a-z0-9]*\) kernel.*/\1/p' "$work/last.log")
        tp=$(cd "$data" && seconds par2 c -q -q -s"$slice" -r"$pct" -B "$data" "$sets/p.par2" ./*.bin)
        same=no
        if [ "$(recovery_sums "$sets"/k.*par2)" = "$(recovery_sums "$sets"/p.*par2)" ]; then same=yes; fi
        [ $same = yes ] || { echo "recovery data differ at $pct %"; exit 1; }
        printf 'protect %2d %%, round %d: kestrin %6.1f s, par2 c %6.1f s, ratio %.2f; slice %s bytes, %s kernel, recovery data identical: %s\n' \
            "$pct" "$i" "$tk" "$tp" "$(echo "$tp / $tk" | bc -l)" "$slice" "$kernel" "$same"
    done
done
# Repair: about 5 % of the slices, spread over every file, flipped under
# kept times, from Kestrin's 10 % set (left from the last round). par2
# writes new files, so their digests are stored again after it (untimed).
damage() {
    python3 - "$data" "$slice" <<'PY'
import os, sys, random
root, slice = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
for name in sorted(os.listdir(root)):
    if ':' in name or not name.endswith('.bin'): continue
    p = os.path.join(root, name); st = os.stat(p); n = st.st_size // slice
    with open(p, 'r+b') as fh:
        for s in rng.sample(range(n), max(1, n // 20)):
            fh.seek(s * slice + 100); b = fh.read(16); fh.seek(s * slice + 100); fh.write(bytes(x ^ 0xFF for x in b))
    os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))
PY
}
before=$(cd "$data" && sha256sum ./*.bin)
for ((i = 1; i <= rounds; ++i)); do
    damage
    tp=$(seconds par2 r -q -q -B "$data" "$sets/k.par2")
    rm -f "$data"/*.bin.1
    [ "$(cd "$data" && sha256sum ./*.bin)" = "$before" ] || { echo "par2 r did not restore the data"; exit 1; }
    kcli create "$(win "$data")" >/dev/null 2>&1   # par2's new files carry no digest: given theirs again
    damage
    tk=$(seconds kcli repair "$(win "$sets/k.par2")" "$(win "$data")")
    [ "$(cd "$data" && sha256sum ./*.bin)" = "$before" ] || { echo "kestrin-cli repair did not restore the data"; exit 1; }
    printf 'repair 5 %% damage, round %d: kestrin %6.1f s, par2 r %6.1f s, ratio %.2f\n' "$i" "$tk" "$tp" "$(echo "$tp / $tk" | bc -l)"
done
