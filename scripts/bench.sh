#!/usr/bin/env bash
# bench.sh: the benchmarks, apart from the tests. They print figures; they
# fail only when the program misbehaves on the way, never on a speed.
#   bench_acceptance  the window's Check on 1 GiB of large files against
#                     digest_file alone and OpenSSL; List and Check files per
#                     second over 2,000 and 20,000 files against `find`; the
#                     peak working set of those Checks
#   cli_scale_tests   kestrin-cli's check on the same trees: MB/s against
#                     digest_file (either transform) and OpenSSL, files per
#                     second against the window's Check, peak working set
#   bench_list_paint  each job of the window over 2,000 small files
# On the 32-bit build where the host can execute 32-bit code, else on the
# 64-bit build. The tree's size: KESTRIN_ACCEPT_FILES (20000) and
# KESTRIN_ACCEPT_MIB (1024). `bench.sh -R NAME` runs one of them. The engine's
# own figures: scripts/bench-engine.sh. kestrin-cli check beside rhash and
# OpenSSL, one worker and two, on ext4 and NTFS: scripts/bench-cli.sh.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
arch=$([ "$KESTRIN_HOST32_MODE" = native ] && echo i686 || echo x86_64)
# Figures from emulated 32-bit code would say nothing of the program.
[ "$KESTRIN_HOST32_MODE" = emulated ] &&
    echo "bench.sh: WARNING: 32-bit code runs emulated on this host; the figures are the x86_64 build's"
echo "bench.sh: on the $arch build"
"$root/scripts/build.sh" "$arch" || exit 1
export KESTRIN_ACCEPT_FILES=${KESTRIN_ACCEPT_FILES:-20000} KESTRIN_ACCEPT_MIB=${KESTRIN_ACCEPT_MIB:-1024}
cd "$root/build/$arch" && ctest -L bench -V "$@"
