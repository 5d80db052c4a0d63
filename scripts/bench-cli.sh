#!/usr/bin/env bash
# bench-cli.sh [KESTRIN_CLI_EXE]
# kestrin-cli check beside rhash --whirlpool and OpenSSL, in one run, on
#   (a) one cached large file (1 GiB),
#   (b) 2,000 files of 1 MiB,
#   (c) 20,000 small files (0 to 4095 bytes),
# each on ext4 (a scratch folder) and on an NTFS volume (ntfs-3g, made by
# scripts/ntfs-volume.sh). Each round runs rhash, OpenSSL, check --jobs 1 and
# check --jobs 2 one after the other (A B C D A B C D ...), so that every
# ratio is taken between runs of the same round; medians of the times and of
# the per-round ratios are printed, with each run's peak working set
# (/usr/bin/time: "Maximum resident set size"). Then the peak working set of
# check --jobs 8 over (b) and (c) on the volume. The targets are printed beside the
# figures; the script fails only when a program misbehaves (an exit code
# other than 0), never on a speed.
#
# The data sets are made one at a time (the volume holds one set), the
# digests once per set with kestrin-cli create, and the files are read once
# before the rounds so that every run finds them in the page cache. A Wine
# server is kept running for the whole run (when none runs for the prefix
# yet), so that no run pays for starting it.
#
# Environment (defaults in brackets; KESTRIN_BENCH_QUICK=1 for a short trial
# run with smaller sets):
#   KESTRIN_BENCH_CLI          kestrin-cli.exe [argument 1, else the x86_64
#                              build, built first through scripts/build.sh]
#   KESTRIN_BENCH_ROUNDS       rounds per data set and file system [2; quick 3]
#   KESTRIN_BENCH_BIG_MIB      size of the one large file in MiB [1024; quick 64]
#   KESTRIN_BENCH_MID_FILES    number of 1 MiB files [2000; quick 100]
#   KESTRIN_BENCH_MID_KIB      their size in KiB [1024]
#   KESTRIN_BENCH_SMALL_FILES  number of small files [20000; quick 1000]
#   KESTRIN_BENCH_SETS         which sets, of "big mid small" [all]
#   KESTRIN_BENCH_FS           which file systems, of "ext4 ntfs" [both]
#   KESTRIN_BENCH_PEAK_JOBS    workers of the peak-working-set runs [8]
#   KESTRIN_BENCH_PEAK_FS      file systems they run on [ntfs]
#   KESTRIN_BENCH_JOBS_FLAG    the option that sets the workers [--jobs];
#                              "none" leaves it out (a build without it: the
#                              "jobs" runs are then all one worker)
#   KESTRIN_BENCH_SCRATCH      folder for the ext4 set and the volume [/tmp]
#   KESTRIN_BENCH_SEED         seed of the small files' sizes [random, printed]
#
# On ext4 Wine keeps a file's streams as sibling files ("NAME:z", "NAME:z.rec")
# and shows them as files: rhash and OpenSSL are given only the data files,
# but kestrin-cli walks the folder and meets three names per file (the
# siblings have no digest: exit 2), so its ext4 figures for many files count
# that extra work; on NTFS the streams are true streams.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"

quick=${KESTRIN_BENCH_QUICK:-0}
if [ "$quick" = 1 ]; then
    d_big=64 d_mid=100 d_small=1000 d_rounds=3
else
    d_big=1024 d_mid=2000 d_small=20000 d_rounds=2
fi
rounds=${KESTRIN_BENCH_ROUNDS:-$d_rounds}
big_mib=${KESTRIN_BENCH_BIG_MIB:-$d_big}
mid_files=${KESTRIN_BENCH_MID_FILES:-$d_mid}
mid_kib=${KESTRIN_BENCH_MID_KIB:-1024}
small_files=${KESTRIN_BENCH_SMALL_FILES:-$d_small}
sets=${KESTRIN_BENCH_SETS:-big mid small}
filesystems=${KESTRIN_BENCH_FS:-ext4 ntfs}
peak_jobs=${KESTRIN_BENCH_PEAK_JOBS:-8}
peak_fs=${KESTRIN_BENCH_PEAK_FS:-ntfs}
jobs_flag=${KESTRIN_BENCH_JOBS_FLAG:---jobs}
scratch=${KESTRIN_BENCH_SCRATCH:-/tmp}
seed=${KESTRIN_BENCH_SEED:-$(( (RANDOM << 15) | RANDOM ))}

cli=${1:-${KESTRIN_BENCH_CLI:-}}
if [ -z "$cli" ]; then
    "$root/scripts/build.sh" x86_64 >/dev/null || { echo "bench-cli.sh: the build failed"; exit 1; }
    cli=$root/build/x86_64/cli/kestrin-cli.exe
fi
[ -f "$cli" ] || { echo "bench-cli.sh: no kestrin-cli at $cli"; exit 1; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
if [ "$KESTRIN_HOST32_MODE" = emulated ] && objdump -f "$cli" 2>/dev/null | grep -q 'i386'; then
    echo "bench-cli.sh: WARNING: $cli is 32-bit and runs emulated here: its times say nothing of the program; no ratios against rhash or OpenSSL are printed" >&2
    export KESTRIN_BENCH_NO_RATIOS=1
fi
for tool in rhash openssl /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "bench-cli.sh: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done

# The prefix wine-run.sh would pick for this program, fixed for every run.
if [ -z "${KESTRIN_WINEPREFIX:-}" ]; then
    d=$(dirname "$cli")
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ "$d" = / ] && d=$root/build/x86_64
    KESTRIN_WINEPREFIX=$d/wineprefix
fi
export KESTRIN_WINEPREFIX

work=$(mktemp -d "$scratch/kestrin-bench-cli.XXXXXX")
server_pid=
cleanup() {
    "$root/scripts/ntfs-volume.sh" unmount "$work/ntfs" >/dev/null 2>&1
    rm -rf "$work"
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wine_run=$root/scripts/wine-run.sh
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
jobs_args() {   # the option for N workers, or nothing without the option
    [ "$jobs_flag" = none ] || printf '%s\n%s\n' "$jobs_flag" "$1"
}

# Make the prefix if needed, let its first server end, then keep one running.
# A server someone keeps running (-p) never ends: it is used as it is.
"$wine_run" "$cli" --version >/dev/null 2>&1
server=$(dirname "$WINE")/wineserver64
[ -x "$server" ] || server=$(command -v wineserver)
WINEPREFIX=$KESTRIN_WINEPREFIX timeout 30 "$server" -w 2>/dev/null
WINEPREFIX=$KESTRIN_WINEPREFIX "$server" -f -p >/dev/null 2>&1 &
server_pid=$!
sleep 1
kill -0 "$server_pid" 2>/dev/null || server_pid=   # one runs already: use it
version=$("$wine_run" "$cli" --version 2>/dev/null | tr -d '\r')

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { [ -n "${KESTRIN_BENCH_NO_RATIOS:-}" ] && { echo "-"; return; }; awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }
atleast() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v + 0 >= t + 0) }'; }
met() { if atleast "$1" "$2"; then echo met; else echo "NOT met"; fi; }

started=$(date +%s)
status=0
failed() { echo "  $1 FAILED: $2"; status=1; }
# measure NAME CMD...: runs CMD once; sets T (elapsed seconds), K (peak KiB),
# C (processor seconds, user and system) and fails unless it exits 0.
measure() {
    measure_any "$@"
    [ "$RC" = 0 ] || failed "$1" "exit $RC: $(head -c 300 "$work/err.txt" | tr -d '\r' | tr '\n' ' ')"
}
measure_any() {   # the same, any exit code (RC)
    local t0 t1
    shift
    t0=$(date +%s.%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>"$work/err.txt"
    RC=$?
    t1=$(date +%s.%N)
    T=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
    K=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
    C=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$work/time.txt")
}
# measure_check NAME FS FILES CMD...: a check must match every one of FILES.
# On ext4 it also meets each file's sibling stream files ("NAME:z",
# "NAME:z.rec"), finds no digest for them and exits 2.
measure_check() {
    local name=$1 fs=$2 files=$3 summary matched nodigest
    shift 3
    measure_any "$name" "$@"
    summary=$(tr -d '\r' < "$work/err.txt" | grep 'summary  check:' | tail -1)
    matched=$(echo "$summary" | sed -n 's/.* \([0-9][0-9]*\) matched.*/\1/p')
    nodigest=$(echo "$summary" | sed -n 's/.* \([0-9][0-9]*\) no-digest.*/\1/p')
    if [ "$matched" != "$files" ]; then
        failed "$name" "exit $RC, $files files expected to match: ${summary:-no summary}"
    elif [ "$RC" != 0 ] && ! { [ "$fs" = ext4 ] && [ "$RC" = 2 ] && [ "${nodigest:-0}" = $((2 * files)) ]; }; then
        failed "$name" "exit $RC: $summary"
    fi
}

# make_set SET DIR: writes the set's files into DIR (the same files every time
# for one seed).
make_set() {
    python3 - "$1" "$2" "$big_mib" "$mid_files" "$mid_kib" "$small_files" "$seed" <<'PY'
import os, sys, random
kind, root = sys.argv[1], sys.argv[2]
big_mib, mid_files, mid_kib, small_files, seed = map(int, sys.argv[3:])
rng = random.Random(seed)
os.makedirs(root, exist_ok=True)
# Every file is cut from one random pool at a random place: the digest's
# speed does not depend on the bytes, and the sets are written at the file
# system's own speed.
pool = rng.randbytes(32 << 20)
def write(path, size):
    with open(path, 'wb') as fh:
        while size > 0:
            n = min(size, len(pool) // 2)
            at = rng.randrange(0, len(pool) - n + 1)
            fh.write(pool[at:at + n])
            size -= n
if kind == 'big':
    write(os.path.join(root, 'big.bin'), big_mib << 20)
else:
    count = mid_files if kind == 'mid' else small_files
    for i in range(count):
        d = os.path.join(root, 'd%02d' % (i % 20))
        os.makedirs(d, exist_ok=True)
        size = mid_kib << 10 if kind == 'mid' else rng.randrange(0, 4096)
        write(os.path.join(d, 'f%05d.bin' % i), size)
PY
}

declare -A result   # result[SET,FS,KEY]: the figures the summary quotes

# bench_set SET FS DIR: digests, warm cache, the paired rounds, the peak runs.
bench_set() {
    local set=$1 fs=$2 dir=$3 target winroot r files rh_c
    case $set in
    big) target=$dir/big.bin files=1 ;;
    mid) target=$dir files=$mid_files ;;
    *) target=$dir files=$small_files ;;
    esac
    winroot=$(winpath "$target")
    mapfile -t j1 < <(jobs_args 1)
    mapfile -t j2 < <(jobs_args 2)
    measure "create" "$wine_run" "$cli" create "${j2[@]}" --quiet "$winroot"
    echo "  digests made by kestrin-cli create in $T s; load average $(cut -d' ' -f1-3 /proc/loadavg)"
    find "$dir" -type f -name '*.bin' -print0 | xargs -0 cat >/dev/null   # into the cache
    local -a rh os c1 c2 rh_k os_k c1_k c2_k q1 q2 q21 qo qc
    printf '  %-7s %18s %18s %18s %18s\n' round "rhash" "openssl" "check jobs 1" "check jobs 2"
    for ((r = 1; r <= rounds; ++r)); do
        if [ "$set" = big ]; then
            measure rhash rhash --whirlpool "$target"
        else
            measure rhash rhash --whirlpool -r --accept=.bin "$dir"
        fi
        rh+=("$T") rh_k+=("$K") rh_c=$C
        if [ "$set" = big ]; then
            measure openssl openssl dgst -provider legacy -provider default -whirlpool "$target"
        else
            measure openssl sh -c 'find "$1" -type f -name "*.bin" -print0 |
                xargs -0 openssl dgst -provider legacy -provider default -whirlpool' sh "$dir"
        fi
        os+=("$T") os_k+=("$K")
        measure_check "check jobs 1" "$fs" "$files" "$wine_run" "$cli" check "${j1[@]}" "$winroot"
        c1+=("$T") c1_k+=("$K")
        qc+=("$(ratio "$rh_c" "$C")")
        measure_check "check jobs 2" "$fs" "$files" "$wine_run" "$cli" check "${j2[@]}" "$winroot"
        c2+=("$T") c2_k+=("$K")
        q1+=("$(ratio "${rh[-1]}" "${c1[-1]}")") q2+=("$(ratio "${rh[-1]}" "${c2[-1]}")")
        q21+=("$(ratio "${c1[-1]}" "${c2[-1]}")") qo+=("$(ratio "${rh[-1]}" "${os[-1]}")")
        printf '  %-7s %8s s %5s MiB %8s s %5s MiB %8s s %5s MiB %8s s %5s MiB\n' "$r" \
            "${rh[-1]}" "$(mib "${rh_k[-1]}")" "${os[-1]}" "$(mib "${os_k[-1]}")" \
            "${c1[-1]}" "$(mib "${c1_k[-1]}")" "${c2[-1]}" "$(mib "${c2_k[-1]}")"
    done
    printf '  %-7s %8s s %9s %8s s %9s %8s s %9s %8s s\n' median "$(median "${rh[@]}")" "" \
        "$(median "${os[@]}")" "" "$(median "${c1[@]}")" "" "$(median "${c2[@]}")"
    echo "  speed ratios, pair by pair (time of the one / time of the other, per round -> median;"
    echo "  the last in processor time, user + system, which other work on the machine disturbs less):"
    printf '    %-28s %s  -> %s\n' "openssl / rhash" "${qo[*]}" "$(median "${qo[@]}")"
    printf '    %-28s %s  -> %s\n' "check jobs 1 / rhash" "${q1[*]}" "$(median "${q1[@]}")"
    printf '    %-28s %s  -> %s\n' "check jobs 2 / rhash" "${q2[*]}" "$(median "${q2[@]}")"
    printf '    %-28s %s  -> %s\n' "check jobs 2 / check jobs 1" "${q21[*]}" "$(median "${q21[@]}")"
    printf '    %-28s %s  -> %s\n' "check jobs 1 / rhash, CPU" "${qc[*]}" "$(median "${qc[@]}")"
    result[$set,$fs,j1_rhash]=$(median "${q1[@]}")
    result[$set,$fs,j2_rhash]=$(median "${q2[@]}")
    result[$set,$fs,j2_j1]=$(median "${q21[@]}")
    result[$set,$fs,cpu_rhash]=$(median "${qc[@]}")
    result[$set,$fs,j1_peak]=$(mib "$(printf '%s\n' "${c1_k[@]}" | sort -n | tail -1)")
    result[$set,$fs,j2_peak]=$(mib "$(printf '%s\n' "${c2_k[@]}" | sort -n | tail -1)")
    if [ "$set" != big ] && [[ " $peak_fs " == *" $fs "* ]]; then
        local -a jp
        mapfile -t jp < <(jobs_args "$peak_jobs")
        measure_check "check jobs $peak_jobs" "$fs" "$files" "$wine_run" "$cli" check "${jp[@]}" "$winroot"
        result[$set,$fs,jp_peak]=$(mib "$K")
        echo "  check jobs $peak_jobs: $T s, peak working set $(mib "$K") MiB"
    fi
    echo "  load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

echo "kestrin-cli check beside rhash and OpenSSL ($(basename "$0"))"
echo "Date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), nproc $(nproc), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "Wine:    $("$WINE" --version) ($WINE). wineserver is single-threaded: every open, close"
echo "         and wait is a round trip to it, shared by all workers; it bounds small files."
if [ -n "$server_pid" ]; then
    echo "         The run keeps its own wineserver for the prefix $KESTRIN_WINEPREFIX."
else
    echo "         A wineserver for the prefix $KESTRIN_WINEPREFIX ran already: the run uses it (it may end between runs)."
fi
echo "Tools:   $(rhash --version), $(openssl version | cut -d' ' -f1-2)"
echo "Program: $cli ($version)"
if [ "$jobs_flag" = none ]; then
    echo "         run WITHOUT a workers option (KESTRIN_BENCH_JOBS_FLAG=none): every \"jobs\" run is the same one-worker check"
fi
echo "Sets:    (a) one file of $big_mib MiB; (b) $mid_files files of $mid_kib KiB; (c) $small_files files of 0-4095 bytes (seed $seed)"
echo "Rounds:  $rounds per set and file system, runs in the order rhash, openssl, check jobs 1, check jobs 2"
echo "Times are elapsed seconds of whole runs (Wine's start of a process included, its server kept running);"
echo "peaks are each run's maximum resident set size."
floor_line=$(measure "kestrin-cli --version" "$wine_run" "$cli" --version; echo "$T s, peak $(mib "$K") MiB")
echo "Wine's floor: kestrin-cli --version takes $floor_line"

set_title() {
    case $1 in
    big) echo "(a) one cached file of $big_mib MiB" ;;
    mid) echo "(b) $mid_files files of $mid_kib KiB" ;;
    small) echo "(c) $small_files small files" ;;
    esac
}
mounted=no
for set in $sets; do
    for fs in $filesystems; do
        echo
        case $fs in
        ext4)
            dir=$work/ext4/$set
            echo "== $(set_title "$set"), ext4 ($dir)"
            ;;
        ntfs)
            if [ "$mounted" = no ]; then
                # Room for the largest set, with NTFS's own records beside it.
                size=$(( (big_mib > mid_files * mid_kib / 1024 ? big_mib : mid_files * mid_kib / 1024) * 11 / 10 + small_files * 12 / 1024 + 256 ))
                if ! "$root/scripts/ntfs-volume.sh" mount "$work/ntfs" "${size}M" >/dev/null; then
                    echo "== no NTFS volume here (FUSE, ntfs-3g): the NTFS figures are left out"
                    filesystems=${filesystems//ntfs/}
                    continue
                fi
                mounted=yes
            fi
            dir=$work/ntfs/mnt/$set
            echo "== $(set_title "$set"), NTFS volume, ntfs-3g ($dir)"
            ;;
        *) echo "unknown file system: $fs"; exit 1 ;;
        esac
        t0=$(date +%s)
        make_set "$set" "$dir"
        echo "  files written in $(( $(date +%s) - t0 )) s"
        bench_set "$set" "$fs" "$dir"
        rm -rf "$dir"
    done
done

echo
echo "== Targets (medians of the per-round ratios; peaks are the highest of the runs)"
for fs in $filesystems; do
    for set in $sets; do
        case $set in
        big)
            v=${result[big,$fs,j1_rhash]}
            echo "  $fs (a) check jobs 1 >= 1.0 x rhash: $v x, $(met "$v" 1.0) (jobs 2: ${result[big,$fs,j2_rhash]} x; in processor time ${result[big,$fs,cpu_rhash]} x); peak ${result[big,$fs,j1_peak]} MiB"
            ;;
        mid)
            v=${result[mid,$fs,j2_j1]} w=${result[mid,$fs,j2_rhash]}
            echo "  $fs (b) check jobs 2 >= 1.7 x jobs 1: $v x, $(met "$v" 1.7); >= 1.5 x rhash: $w x, $(met "$w" 1.5); peaks ${result[mid,$fs,j1_peak]} / ${result[mid,$fs,j2_peak]} MiB"
            ;;
        small)
            v=${result[small,$fs,j2_j1]}
            echo "  $fs (c) check jobs 2 no slower than jobs 1: $v x, $(met "$v" 1.0); x rhash: jobs 1 ${result[small,$fs,j1_rhash]}, jobs 2 ${result[small,$fs,j2_rhash]}; peaks ${result[small,$fs,j1_peak]} / ${result[small,$fs,j2_peak]} MiB"
            ;;
        esac
    done
    if [ -n "${result[mid,$fs,jp_peak]:-}" ] && [ -n "${result[small,$fs,jp_peak]:-}" ]; then
        a=${result[mid,$fs,jp_peak]} b=${result[small,$fs,jp_peak]}
        flat=$(awk -v a="$a" -v b="$b" 'BEGIN { d = a - b; if (d < 0) d = -d; print (a <= 32 && b <= 32 && d <= 1) ? "met" : "NOT met" }')
        echo "  $fs peak working set at jobs $peak_jobs <= 32 MiB, flat: $mid_files files $a MiB, $small_files files $b MiB, $flat"
    fi
done
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); the whole run took $(( $(date +%s) - started )) s"
[ "$status" = 0 ] || echo "SOME RUNS FAILED (see above): their figures do not count"
exit $status
