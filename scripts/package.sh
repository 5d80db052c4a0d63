#!/usr/bin/env bash
# package.sh [--check] [--out DIR]
#
# Builds the release from the committed tree (git archive HEAD, so nothing
# uncommitted and nothing left in build/ can slip in) and writes
#   DIR/kestrin-VERSION-win32.zip          Kestrin.exe, kestrin-cli.exe,
#                                          README.txt, LICENSE.txt, SHA256SUMS
#   DIR/kestrin-VERSION-win32.zip.sha256   the zip's own SHA-256
# DIR is dist/ unless --out says otherwise. VERSION is read from
# res/version.h, the one place it lives.
#
# --check builds a second time, later and in another folder, and fails unless
# both programs and the zip come out byte for byte the same.
#
# Exit status: 0 done; 1 build or check failed; 3 bad usage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=0
out=$root/dist
while [ $# -gt 0 ]; do
    case $1 in
    --check) check=1 ;;
    --out) [ $# -ge 2 ] || { echo "package.sh: --out needs a folder" >&2; exit 3; }; out=$2; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument '$1' (usage: package.sh [--check] [--out DIR])" >&2; exit 3 ;;
    esac
    shift
done

fail() { echo "package.sh: $*" >&2; exit 1; }

cd "$root"
git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout with a commit"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "package.sh: warning: uncommitted changes are not in the package (it is built from HEAD)" >&2
fi
commit=$(git rev-parse HEAD)
# Every file in the zip carries the commit's time: fixed for a commit, and
# the day the release was made.
stamp=$(git log -1 --format=%ct HEAD)

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrin-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# build_release FOLDER: the programs and the zip from HEAD, built in FOLDER;
# the zip is left at FOLDER/kestrin-VERSION-win32.zip.
build_release() {
    local dir=$1 src=$1/src bld=$1/src/build/i686 stage=$1/stage
    mkdir -p "$src" "$stage"
    git -C "$root" archive --format=tar "$commit" | tar -x -C "$src"
    version=$(sed -n 's/^#define KESTRIN_VERSION_TEXT "\([^"]*\)"$/\1/p' "$src/res/version.h")
    [ -n "$version" ] || fail "no KESTRIN_VERSION_TEXT in res/version.h"
    echo "package.sh: building Kestrin $version ($commit) in $dir"
    # Only the two programs; no compiler cache, so that every object is made
    # here, in this folder.
    CCACHE_DISABLE=1 cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=OFF -DKESTRIN_STRIP=ON >"$dir/configure.log" 2>&1 ||
        { cat "$dir/configure.log" >&2; fail "configuring failed"; }
    # grep reads the whole list: with -q it would stop early, and ninja's
    # broken pipe would fail the pipeline.
    ninja -C "$bld" -t targets all | grep '^kestrin-cli:' >/dev/null ||
        fail "kestrin-cli target missing: the package carries both programs, and this tree does not build kestrin-cli.exe"
    CCACHE_DISABLE=1 cmake --build "$bld" --target Kestrin kestrin-cli >"$dir/build.log" 2>&1 ||
        { tail -40 "$dir/build.log" >&2; fail "building failed"; }
    cp "$bld/app/Kestrin.exe" "$bld/cli/kestrin-cli.exe" "$stage/" || fail "a program was not built"
    local exe
    for exe in Kestrin.exe kestrin-cli.exe; do
        python3 "$src/scripts/pe_check.py" "$stage/$exe" || fail "$exe is not fit to ship"
    done
    python3 "$src/scripts/guide_text.py" "$src/docs/guide.md" "$stage/README.txt" || fail "README.txt could not be made"
    python3 "$src/scripts/crlf.py" "$src/LICENSE" "$stage/LICENSE.txt" || fail "LICENSE.txt could not be made"
    (cd "$stage" && sha256sum Kestrin.exe kestrin-cli.exe >SHA256SUMS)
    zip_name=kestrin-$version-win32.zip
    python3 "$src/scripts/make_zip.py" "$dir/$zip_name" "$stamp" "$stage" \
        Kestrin.exe kestrin-cli.exe README.txt LICENSE.txt SHA256SUMS || fail "the zip could not be written"
}

build_release "$work/one"
if [ $check -eq 1 ]; then
    # Later, and in a folder whose path differs in name and length.
    sleep 2
    build_release "$work/second-build"
    same=1
    for f in stage/Kestrin.exe stage/kestrin-cli.exe "$zip_name"; do
        if cmp -s "$work/one/$f" "$work/second-build/$f"; then
            echo "package.sh: identical in both builds: $(basename "$f")"
        else
            echo "package.sh: DIFFERENT between the builds: $(basename "$f")" >&2
            cmp -l "$work/one/$f" "$work/second-build/$f" 2>/dev/null | head -5 >&2 || true
            same=0
        fi
    done
    [ $same -eq 1 ] || fail "the build is not reproducible"
fi

mkdir -p "$out"
cp "$work/one/$zip_name" "$out/$zip_name"
(cd "$out" && sha256sum "$zip_name" >"$zip_name.sha256")
echo "package.sh: wrote $out/$zip_name"
cat "$out/$zip_name.sha256"
