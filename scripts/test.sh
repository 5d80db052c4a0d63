#!/usr/bin/env bash
# test.sh [--full]: the test command. Installs what is missing, builds the
# 32-bit and the 64-bit programs side by side, and runs the tests under Wine
# through CTest, two programs at a time where they share no display.
#
# The whole suite runs on the 32-bit build, which is what ships, where the
# host can execute 32-bit x86 code; the 64-bit build then runs its engine
# tests. A host that cannot (a kernel without 32-bit compatibility) runs the
# whole suite on the 64-bit build of the same sources instead, and checks the
# 32-bit build without running it: its programs' headers, and the release
# zip built and opened; what needs 32-bit execution is counted as skipped.
#
# The default run keeps every kind of check at sizes that still catch faults
# (a 1,000-file tree, 10 fault trials, 15 Ctrl+C and 5 kills each, one
# packaging); --full runs the full sizes and counts (20,000 files and 1 GiB,
# 50 trials and interrupts, the package built twice and compared).
# Benchmarks are not tests: scripts/bench.sh.
#
# The last line counts the CTest entries: "tests: N passed, N failed, N
# skipped". Exit status 0 only when nothing failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
full=0
for a in "$@"; do
    case $a in
    --full) full=1 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown argument '$a' (usage: test.sh [--full])" >&2; exit 3 ;;
    esac
done
started=$(date +%s)
elapsed() { local s=$(( $(date +%s) - started )); printf '%d:%02d' $((s / 60)) $((s % 60)); }
finish() {  # finish PASSED FAILED SKIPPED
    echo "test.sh: took $(elapsed) (min:s) in all; the suite ran on: ${how:-nothing built}"
    echo "tests: $1 passed, $2 failed, $3 skipped"
    [ "$2" -eq 0 ]
    exit $?
}

"$root/scripts/setup.sh" || { echo "test.sh: setup failed"; finish 0 1 0; }
. "$root/scripts/wine-env.sh"
if [ "$KESTRIN_HOST32" = yes ]; then
    suite=i686 other=x86_64
    if [ "$KESTRIN_HOST32_MODE" = emulated ]; then
        how="i686 emulated"
        echo "test.sh: this host cannot execute 32-bit code itself; qemu-i386 runs it: the whole suite runs on the i686 build (what ships), emulated; the x86_64 build runs its engine tests and the kestrin-cli suite natively"
    else
        how="i686 native"
        echo "test.sh: this host executes 32-bit code: the whole suite runs on the i686 build (what ships); the x86_64 build runs its engine tests and the kestrin-cli suite"
    fi
else
    how="x86_64 only: no 32-bit execution"
    suite=x86_64 other=i686
    echo "test.sh: this host cannot execute 32-bit code: the whole suite runs on the x86_64 build of the same sources; the i686 build is built and checked without running it (headers, package), and what needs 32-bit execution is reported as skipped"
fi

if [ $full -eq 1 ]; then
    export KESTRIN_ACCEPT_FILES=20000 KESTRIN_ACCEPT_MIB=1024 KESTRIN_FAULT_RUNS=50 KESTRIN_VANISH_RUNS=5
    export KESTRIN_INTERRUPT_RUNS=50 KESTRIN_KILL_RUNS=10 KESTRIN_PACKAGE_CHECK=1
    echo "test.sh: full sizes and counts"
else
    echo "test.sh: default sizes (scripts/test.sh --full for the full ones)"
fi

# Both builds at once: each waits on its own links and configure steps.
# Where the 32-bit programs cannot run, their build is the two programs
# that ship (the test programs are the same sources, built and run as 64-bit).
mkdir -p "$root/build"
pids=()
for arch in i686 x86_64; do
    targets=
    [ "$arch" = "$other" ] && [ "$KESTRIN_HOST32" != yes ] && targets="Kestrin kestrin-cli"
    # Beside the 32-bit suite the 64-bit build runs only its engine and
    # kestrin-cli tests: it builds only those.
    [ "$arch" = "$other" ] && [ "$KESTRIN_HOST32" = yes ] &&
        targets="kestrin-cli engine_tests cli_tests cli_interrupt_tests send_ctrl_c"
    KESTRIN_BUILD_TARGETS=$targets "$root/scripts/build.sh" "$arch" > "$root/build/build-$arch.log" 2>&1 &
    pids+=($!)
done
built=1
for i in 0 1; do
    arch=$([ $i -eq 0 ] && echo i686 || echo x86_64)
    if wait "${pids[$i]}"; then
        echo "test.sh: built $arch ($(grep -c '^\[' "$root/build/build-$arch.log") steps; log build/build-$arch.log)"
    else
        echo "test.sh: building $arch FAILED:"
        tail -40 "$root/build/build-$arch.log"
        built=0
    fi
done
[ $built -eq 1 ] || finish 0 1 0
echo "test.sh: builds done at $(elapsed)"

# run_ctest ARCH ARGS...: CTest in build/ARCH, its output kept for the count.
run_ctest() {
    local arch=$1
    shift
    echo "=== tests: $arch: ctest $*"
    (cd "$root/build/$arch" && ctest --output-on-failure "$@") 2>&1 | tee "$root/build/ctest-$arch.log"
    echo "=== $arch done at $(elapsed)"
}
touch "$root/build/.tests-started"
if [ "$KESTRIN_HOST32" = yes ]; then
    run_ctest i686 -j2 -LE 'bench|host32_absent'
    run_ctest x86_64 -j2 -R '^(engine_tests|cli_tests|cli_interrupt_tests)$'
else
    # The 32-bit checks (mostly the package's own build, which keeps a core
    # busy while the tests mostly wait on Wine) beside the suite; their
    # output follows the suite's.
    run_ctest i686 -L static > "$root/build/ctest-i686.out" 2>&1 &
    static_pid=$!
    run_ctest x86_64 -j2 -LE bench
    wait $static_pid
    cat "$root/build/ctest-i686.out"
fi

# The count: every CTest entry but the fixtures, and a fixture only when it
# failed (its tests then did not run, and count as failed too).
read -r passed failed skipped < <(cat "$root/build/ctest-$suite.log" "$root/build/ctest-$other.log" | awk '
    match($0, /Test +#[0-9]+: [^ ]+ /) {
        name = $0; sub(/.*Test +#[0-9]+: /, "", name); sub(/ .*/, "", name)
        if ($0 ~ /\*\*\*Skipped/) s++
        else if ($0 ~ / Passed /) { if (name !~ /^fixture_/) p++ }
        else f++
    }
    END { print p + 0, f + 0, s + 0 }')
# GoogleTest's own counts of cases, from the programs' logs of this run.
cases=$(find "$root/build/$suite" "$root/build/$other" -name '*.log' -path '*/tests/*' ! -name '*.terminal.log' -newer "$root/build/.tests-started" 2>/dev/null |
    xargs -r cat | awk '
        /^\[  PASSED  \] [0-9]+ test/ { p += $4 }
        /^\[  FAILED  \] [0-9]+ test/ { f += $4 }
        /^\[  SKIPPED \] [0-9]+ test/ { s += $4 }
        END { print p + 0 " passed, " f + 0 " failed, " s + 0 " skipped" }')
echo "test.sh: GoogleTest cases in these programs: $cases"
finish "$passed" "$failed" "$skipped"
