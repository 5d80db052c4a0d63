#!/usr/bin/env bash
# bench-engine.sh: builds bench_engine for i686 and x86_64, runs both under
# Wine and OpenSSL's Whirlpool natively on the same cached 256 MiB file, and
# prints every figure (MB/s, 1 MB = 10^6 bytes) with its ratio to OpenSSL.
# A host that cannot execute 32-bit code runs the x86_64 build alone.
#
# Then, on one cached 1 GiB file, whole runs paired round by round (A B A B,
# three rounds): rhash --whirlpool, OpenSSL, kestrin-cli check (x86_64) and
# a context with 1 MiB reads and read-ahead (bench_engine FILE 1048576 ahead),
# each as elapsed time and as speed relative to rhash in the same round. The
# Wine runs include Wine's start-up, shown on its own (kestrin-cli --help).
#
# Figures are taken over processor time (user + system), which other work on
# a shared machine disturbs far less than elapsed time; elapsed-time figures
# are printed beside them.
#
# Environment: KESTRIN_BENCH_BUILD=<prefix> builds into <prefix>-i686 and
# <prefix>-x86_64 (bench_engine only) instead of build/i686 and build/x86_64
# through scripts/build.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -n "${KESTRIN_BENCH_BUILD:-}" ]; then
    for arch in i686 x86_64; do
        dir=$KESTRIN_BENCH_BUILD-$arch
        if [ ! -f "$dir/build.ninja" ]; then
            cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
                -DCMAKE_BUILD_TYPE=Release >/dev/null
        fi
        cmake --build "$dir" --target bench_engine >/dev/null
    done
    dirs=("$KESTRIN_BENCH_BUILD-i686" "$KESTRIN_BENCH_BUILD-x86_64")
else
    "$root/scripts/build.sh" i686 x86_64 >/dev/null
    "$root/scripts/build.sh" x86_64 >/dev/null   # kestrin-cli for the paired runs
    dirs=("$root/build/i686" "$root/build/x86_64")
fi

file=${dirs[0]}/bench-engine-256MiB.bin
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 268435456 ]; then
    head -c 268435456 /dev/urandom > "$file"
fi
cat "$file" > /dev/null   # into the page cache
winfile="Z:$(echo "$file" | tr / '\\')"

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) logical processors"
echo "CPU flags: $(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -xE 'sse2|ssse3|sse4_1|sse4_2|avx|avx2|avx512f' | tr '\n' ' ')"
echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "OpenSSL: $(openssl version)"

# Best of three OpenSSL runs; returns "cpu_rate wall_rate".
openssl_rate() {
    local best_cpu=0 best_wall=0 line cpu wall
    for _ in 1 2 3; do
        line=$( { TIMEFORMAT='%R %U %S'; time openssl dgst -provider legacy -provider default -whirlpool "$file" >/dev/null; } 2>&1 )
        cpu=$(echo "$line" | awk '{ s = $2 + $3; printf "%.1f", (s > 0) ? 268.435456 / s : 0 }')
        wall=$(echo "$line" | awk '{ printf "%.1f", 268.435456 / $1 }')
        best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN { print (b > a) ? b : a }')
        best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN { print (b > a) ? b : a }')
    done
    echo "$best_cpu $best_wall"
}

ossl_digest=$(openssl dgst -provider legacy -provider default -whirlpool -r "$file" | cut -c1-128)
read -r ossl_cpu ossl_wall < <(openssl_rate)
outs=()
. "$root/scripts/wine-env.sh"
for dir in "${dirs[@]}"; do
    # Emulated 32-bit code says nothing of the program's speed.
    if [ "$KESTRIN_HOST32_MODE" = emulated ] && [ "$(basename "$dir")" != x86_64 ] && [ "${dir%-x86_64}" = "$dir" ]; then
        echo "$(basename "$dir"): WARNING: 32-bit code runs emulated here (qemu-i386): not measured, no ratios"
        continue
    fi
    # Wine's console output ends lines with CR LF.
    if out=$("$root/scripts/wine-run.sh" "$dir/bench/bench_engine.exe" "$winfile" 2>/dev/null | tr -d '\r') &&
        [ -n "$out" ]; then
        outs+=("$out")
    else
        echo "$(basename "$dir"): bench_engine cannot run on this host (not measured)"
    fi
done
# OpenSSL once more after the Wine runs; the better of the two is the reference.
read -r c2 w2 < <(openssl_rate)
ossl_cpu=$(awk -v a="$ossl_cpu" -v b="$c2" 'BEGIN { print (b > a) ? b : a }')
ossl_wall=$(awk -v a="$ossl_wall" -v b="$w2" 'BEGIN { print (b > a) ? b : a }')

echo
printf '%-34s %10s %8s %12s\n' "figure" "MB/s" "xOpenSSL" "wall MB/s"
printf '%-34s %10s %8s %12s\n' "openssl dgst -whirlpool (native)" "$ossl_cpu" "1.00" "$ossl_wall"
status=0
for out in "${outs[@]}"; do
    arch=$(echo "$out" | awk '$1 == "arch" { print $2 }')
    echo "$out" | awk -v arch="$arch" -v ref="$ossl_cpu" '
        $1 == "figure" { fig[$2] = $3; order[n++] = $2 }
        $1 == "wall"   { wall[$2] = $3 }
        END { for (i = 0; i < n; i++) printf "%-34s %10.1f %8.2f %12.1f\n", arch " " order[i], fig[order[i]], fig[order[i]] / ref, wall[order[i]] }'
    echo "$out" | awk -v arch="$arch" '$1 == "ratio" { printf "  %s %s = %s\n", arch, $2, $3 }'
    echo "  $arch: SSE4.1 $(echo "$out" | awk '$1 == "sse41" { print $2 }'), start-up chose $(echo "$out" | awk '$1 == "chosen" { print $2 }')"
    d=$(echo "$out" | awk '$1 == "digest" { print $2 }')
    if [ "$d" != "$ossl_digest" ]; then
        echo "  $arch: DIGEST DIFFERS from OpenSSL's: $d"
        status=1
    fi
done

# Paired whole runs on one cached 1 GiB file.
x64=${dirs[1]}
big=$x64/bench-engine-1GiB.bin
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" != 1073741824 ]; then
    head -c 1073741824 /dev/urandom > "$big"
    rm -f "$big:z"
fi
cat "$big" > /dev/null
winbig="Z:$(echo "$big" | tr / '\\')"
cli=$x64/cli/kestrin-cli.exe
wine_run() { "$root/scripts/wine-run.sh" "$@"; }
[ -f "$big:z" ] || wine_run "$cli" create --quiet "$winbig" >/dev/null 2>&1 || true
# Elapsed seconds of one run; "fail" when it did not exit 0.
elapsed() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo fail; return; }
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}
echo
echo "One cached 1 GiB file: elapsed seconds, and in brackets the speed relative to rhash in the same round"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }
printf '%-5s %7s %15s %19s %19s %11s\n' round rhash openssl "kestrin-cli check" "context 1M ahead" "wine start"
for round in 1 2 3; do
    r=$(elapsed rhash --whirlpool "$big")
    o=$(elapsed openssl dgst -provider legacy -provider default -whirlpool "$big")
    c=$(elapsed wine_run "$cli" check --quiet "$winbig")
    x=$(elapsed wine_run "$x64/bench/bench_engine.exe" "$winbig" 1048576 ahead)
    w=$(elapsed wine_run "$cli" --help)
    printf '%-5s %7s %15s %19s %19s %11s\n' "$round" "$r" "$o ($(ratio "$r" "$o"))" "$c ($(ratio "$r" "$c"))" \
        "$x ($(ratio "$r" "$x"))" "$w"
done
exit $status
