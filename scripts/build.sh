#!/usr/bin/env bash
# build.sh [i686|x86_64 ...]: configures and builds into build/<arch>;
# KESTRIN_BUILD_TARGETS (say "Kestrin kestrin-cli") builds only those.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(i686 x86_64)
for arch in "${archs[@]}"; do
    if [ ! -f "$root/build/$arch/build.ninja" ]; then
        cmake -S "$root" -B "$root/build/$arch" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release
    fi
    # shellcheck disable=SC2086
    cmake --build "$root/build/$arch" ${KESTRIN_BUILD_TARGETS:+--target $KESTRIN_BUILD_TARGETS}
done
