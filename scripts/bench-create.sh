#!/usr/bin/env bash
# bench-create.sh OLD_CLI NEW_CLI [FILES] [ROUNDS]
# (KESTRIN_NEW_OPTS: options for the new build only, e.g. "--jobs 2")
# Files per second of `kestrin-cli create` over FILES small files (default
# 2,000) on a scratch NTFS volume (ntfs-3g), for two builds taken in turns
# in one run, so that both figures see the same machine at the same time.
# Between runs Linux removes every stream. The rate comes from each run's
# own summary line (time from the first file to the last, Wine's start-up
# left out); the medians and their ratio are printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
old=$1 new=$2 files=${3:-2000} rounds=${4:-5}
work=$(mktemp -d /tmp/kestrin-bench-create.XXXXXX)
trap '"$root/scripts/ntfs-volume.sh" unmount "$work" >/dev/null; rm -rf "$work"' EXIT
KESTRIN_NTFS_SIZE=256M "$root/scripts/ntfs-volume.sh" mount "$work" >/dev/null
mountpoint -q "$work/mnt" || { echo "no NTFS volume here (FUSE, ntfs-3g)"; exit 77; }
python3 - "$work/mnt/tree" "$files" <<'PY'
import os, sys, random
root, n = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
for i in range(n):
    d = os.path.join(root, 'd%02d' % (i % 20))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'f%05d.bin' % i), 'wb') as fh:
        fh.write(rng.randbytes(rng.randrange(0, 4096)))
PY
tree_win="Z:$(echo "$work/mnt/tree" | tr / '\\')"
export KESTRIN_WINEPREFIX=${KESTRIN_WINEPREFIX:-$root/build/x86_64/wineprefix}
rate() {   # one create run of $1 with options $2; prints files/s
    python3 - "$work/mnt/tree" <<'PY'
import os, sys
for d, _, names in os.walk(sys.argv[1]):
    for n in names:
        for s in (':z', ':z.rec'):
            try: os.remove(os.path.join(d, n) + s)
            except FileNotFoundError: pass
PY
    local text
    text=$("$root/scripts/wine-run.sh" "$1" create ${2:-} "$tree_win" 2>&1)
    echo "$text" | sed -n 's/.* files, \([0-9]*\) written.* hashed in \([0-9.]*\) s.*/\1 \2/p' |
        awk -v want="$files" '$1 != want { print "not all written: " $0 > "/dev/stderr"; exit 1 } { printf "%.1f\n", $1 / $2 }'
}
declare -a a b
for ((i = 0; i < rounds; ++i)); do
    a+=("$(rate "$old")")
    b+=("$(rate "$new" "${KESTRIN_NEW_OPTS:-}")")
    echo "round $((i + 1)): old ${a[-1]} files/s, new ${b[-1]} files/s"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ma=$(median "${a[@]}") mb=$(median "${b[@]}")
echo "create over $files small files, median of $rounds: old $ma files/s, new $mb files/s, new/old $(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.2f", b / a }')"${KESTRIN_NEW_OPTS:+ (new with $KESTRIN_NEW_OPTS)}
