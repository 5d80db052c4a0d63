#!/usr/bin/env bash
# package_test.sh [start]
# The release zip as a user gets it: scripts/package.sh builds it from HEAD
# (with KESTRIN_PACKAGE_CHECK=1, as `scripts/test.sh --full` runs it,
# `package.sh --check` builds it twice, in two folders at two times, and must
# get the same bytes); then the zip is opened and held against outside
# readers: Python's zipfile for the entries, sha256sum -c for SHA256SUMS,
# objdump for the PE headers and imports, res/version.h for the version.
# `start` starts both programs of the zip the first run left unpacked under
# Wine (the console program creates and checks digests on the NTFS volume,
# judged by OpenSSL and Linux's view of the streams): that needs a host that can execute 32-bit x86 code, and is reported
# as skipped where it cannot.
#
# Exit 0 all held; 1 something did not; 77 (skipped) when the tree builds no
# kestrin-cli target (after showing that package.sh then refuses clearly).
set -u
src=${KESTRIN_SOURCE_DIR:?} build=${KESTRIN_BUILD_DIR:?}
[ -n "${KESTRIN_TEST_ENV:-}" ] && [ -f "$KESTRIN_TEST_ENV" ] && . "$KESTRIN_TEST_ENV"
export TZ=UTC
out=$build/package-test
x=$out/unzipped
failed=0
ok() { echo "ok    $*"; }
bad() { echo "FAIL  $*"; failed=1; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

version=$(sed -n 's/^#define KESTRIN_VERSION_TEXT "\([^"]*\)"$/\1/p' "$src/res/version.h")
[ -n "$version" ] || { bad "no version in res/version.h"; exit 1; }
zip=$out/kestrin-$version-win32.zip

# Both programs of the unpacked zip start under Wine.
# The zip's kestrin-cli stores digests and checks them on the NTFS volume:
# each z stream, read by Linux, must hold OpenSSL's digest of its file; a
# check then finds all well, and a byte changed behind the file's back (its
# time put back) is reported corrupt with exit code 1.
cli_on_ntfs() {
    local ntfs=${KESTRIN_NTFS_DIR:-} d win f want got code out seed
    if [ -z "$ntfs" ] || ! mountpoint -q "$ntfs"; then
        bad "no NTFS volume mounted at '$ntfs' for the zip's kestrin-cli"
        return
    fi
    d=$ntfs/package-start
    rm -rf "$d" && mkdir -p "$d/sub" || { bad "cannot make $d"; return; }
    seed=${KESTRIN_SEED:-$(date +%s)}
    echo "      random contents from seed $seed"
    # Sizes around the transform's 64-byte blocks and the engine's 64 KiB reads.
    python3 -c '
import os, random, sys
d, rng = sys.argv[1], random.Random(int(sys.argv[2]))
for name, size in (("empty", 0), ("one", 1), ("block", 64), ("read", 65536 + 63), ("sub/large", 3 * 1048576 + 17)):
    with open(os.path.join(d, name), "wb") as f:
        f.write(rng.randbytes(size))
' "$d" "$seed"
    win="Z:${d//\//\\}"
    out=$(set -o pipefail; "$src/scripts/wine-run.sh" "$x/kestrin-cli.exe" create "$win" 2>&1 | tr -d '\r')
    code=$?
    check "the zip's kestrin-cli: create on the NTFS volume exits 0 (got $code: $out)" [ "$code" -eq 0 ]
    for f in empty one block read sub/large; do
        want=$(openssl dgst -provider legacy -provider default -whirlpool -r "$d/$f" | cut -d' ' -f1)
        got=$(od -An -v -tx1 "$d/$f:z" 2>/dev/null | tr -d ' \n')
        check "$f:z holds OpenSSL's Whirlpool digest of $f" [ "${#want}" -eq 128 -a "$got" = "$want" ]
    done
    out=$(set -o pipefail; "$src/scripts/wine-run.sh" "$x/kestrin-cli.exe" check "$win" 2>/dev/null | tr -d '\r')
    code=$?
    check "a check of the untouched files exits 0 and names none (got $code: '$out')" [ "$code" -eq 0 -a -z "$out" ]
    python3 -c '
import os, sys
st = os.stat(sys.argv[1])
with open(sys.argv[1], "r+b") as f:
    f.seek(2 * 1048576 + 5)
    b = f.read(1)[0]
    f.seek(2 * 1048576 + 5)
    f.write(bytes([b ^ 0x10]))
os.utime(sys.argv[1], ns=(st.st_atime_ns, st.st_mtime_ns))
' "$d/sub/large"
    out=$(set -o pipefail; "$src/scripts/wine-run.sh" "$x/kestrin-cli.exe" check "$win" 2>/dev/null | tr -d '\r')
    code=$?
    check "one bit flipped behind the file's time is reported corrupt, exit 1 (got $code: '$out')" \
        [ "$code" -eq 1 -a "$out" = "corrupt  $win\\sub\\large" ]
    rm -rf "$d"
}

start_programs() {
    cli_out=$(set -o pipefail; "$src/scripts/wine-run.sh" "$x/kestrin-cli.exe" --version 2>/dev/null | tr -d '\r')
    check "kestrin-cli --version prints 'kestrin-cli $version' (got '$cli_out')" [ "$cli_out" = "kestrin-cli $version" ]
    cli_on_ntfs
    if [ -z "${DISPLAY:-}" ]; then
        bad "no display to open the window on"
    else
        before=$(xdotool search --onlyvisible --name '^Kestrin$' 2>/dev/null | wc -l)
        "$src/scripts/wine-run.sh" "$x/Kestrin.exe" >/dev/null 2>&1 &
        wpid=$!
        opened=0
        for _ in $(seq 1 150); do
            n=$(xdotool search --onlyvisible --name '^Kestrin$' 2>/dev/null | wc -l)
            [ "$n" -gt "$before" ] && { opened=1; break; }
            sleep 0.2
        done
        check "Kestrin.exe from the zip opens its window" [ $opened -eq 1 ]
        if [ $opened -eq 1 ]; then
            w=$(xdotool search --onlyvisible --name '^Kestrin$' | tail -1)
            import -window root -crop "$(xdotool getwindowgeometry --shell "$w" | python3 -c "
import sys; g = dict(l.strip().split('=') for l in sys.stdin if '=' in l)
print('%sx%s+%s+%s' % (g['WIDTH'], g['HEIGHT'], g['X'], g['Y']))")" +repage "$out/package_window.png" 2>/dev/null &&
                echo "      picture: $out/package_window.png"
        fi
        kill "$wpid" 2>/dev/null
        wait "$wpid" 2>/dev/null
    fi
}

if [ "${1:-}" = start ]; then
    . "$src/scripts/wine-env.sh"
    if [ "$KESTRIN_HOST32" != yes ]; then
        echo "SKIPPED: this host cannot execute 32-bit x86 code, so the zip's 32-bit programs cannot be started here"
        exit 77
    fi
    [ -f "$x/Kestrin.exe" ] && [ -f "$x/kestrin-cli.exe" ] || { bad "no unpacked zip in $x (the package test did not run)"; exit 1; }
    start_programs
    [ $failed -eq 0 ] && echo "package start: all held" || echo "package start: FAILED"
    exit $failed
fi
rm -rf "$out"
mkdir -p "$out"

if ! git -C "$src" rev-parse -q --verify HEAD >/dev/null 2>&1; then
    echo "SKIPPED: $src is not a git checkout, and the release is built from a commit"
    exit 77
fi
# package.sh builds HEAD, so HEAD's CMake files tell whether it can.
if ! git -C "$src" grep -q -E 'add_executable\(kestrin-cli[ )]' HEAD -- '*CMakeLists.txt'; then
    # package.sh must refuse to make a release without the console program.
    "$src/scripts/package.sh" --out "$out" >"$out/package.log" 2>&1
    status=$?
    cat "$out/package.log"
    check "package.sh fails without the kestrin-cli target" [ $status -ne 0 ]
    check "and says so" grep -q "kestrin-cli target missing" "$out/package.log"
    check "and writes no zip" [ ! -e "$zip" ]
    [ $failed -eq 0 ] || exit 1
    echo "SKIPPED: this tree has no kestrin-cli target, so there is no package to check"
    exit 77
fi

start=$(date +%s)
if [ "${KESTRIN_PACKAGE_CHECK:-0}" = 1 ]; then
    "$src/scripts/package.sh" --check --out "$out" 2>&1 | tee "$out/package.log"
    status=${PIPESTATUS[0]}
    echo "package.sh --check took $(( $(date +%s) - start )) s"
    check "package.sh --check: two builds give the same programs and zip" [ "$status" -eq 0 ]
else
    "$src/scripts/package.sh" --out "$out" 2>&1 | tee "$out/package.log"
    status=${PIPESTATUS[0]}
    echo "package.sh took $(( $(date +%s) - start )) s (the second build that proves it reproducible: KESTRIN_PACKAGE_CHECK=1)"
    check "package.sh built the zip" [ "$status" -eq 0 ]
fi
[ -f "$zip" ] || { bad "no $zip"; exit 1; }
check "the zip's own SHA-256 beside it verifies" sh -c "cd '$out' && sha256sum -c '$(basename "$zip").sha256'"

# The entries: exactly these, ordinary files, all with one time (the commit's).
commit_time=$(git -C "$src" log -1 --format=%ct HEAD)
check "the zip holds exactly the five files, with fixed times and attributes" python3 - "$zip" "$commit_time" <<'EOF'
import sys, time, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = [i.filename for i in z.infolist()]
want = ['Kestrin.exe', 'kestrin-cli.exe', 'README.txt', 'LICENSE.txt', 'SHA256SUMS']
t = time.gmtime(int(sys.argv[2]))
stamp = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)
bad = []
if names != want:
    bad.append('entries %s, want %s' % (names, want))
for i in z.infolist():
    if i.date_time != stamp:
        bad.append('%s: time %s, want the commit time %s' % (i.filename, i.date_time, stamp))
    if i.external_attr != 0x20 or i.create_system != 0:
        bad.append('%s: attributes 0x%x made on %d' % (i.filename, i.external_attr, i.create_system))
if z.testzip() is not None:
    bad.append('a damaged entry')
for b in bad:
    print('   ', b)
sys.exit(1 if bad else 0)
EOF
mkdir -p "$x" && (cd "$x" && unzip -q "$zip")
check "SHA256SUMS verifies with sha256sum -c" sh -c "cd '$x' && sha256sum -c SHA256SUMS"
check "SHA256SUMS covers both programs" sh -c "cd '$x' && [ \"\$(cut -c67- SHA256SUMS | tr '\n' ' ')\" = 'Kestrin.exe kestrin-cli.exe ' ]"

for exe in Kestrin.exe kestrin-cli.exe; do
    # In a file: with its relocations the listing outgrows one argument.
    p=$out/$exe.objdump
    i686-w64-mingw32-objdump -p "$x/$exe" > "$p"
    check "$exe: a 32-bit PE (pei-i386, PE32)" sh -c "grep -q 'file format pei-i386' '$p' && grep -q '(PE32)' '$p'"
    check "$exe: no time in the PE header" grep -Eq '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970' "$p"
    dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$p" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
    echo "      $exe imports: $dlls"
    foreign=$(for d in $dlls; do case $d in
        kernel32.dll|user32.dll|gdi32.dll|shell32.dll|shlwapi.dll|comctl32.dll|ole32.dll|oleaut32.dll|advapi32.dll|msvcrt.dll|comdlg32.dll|version.dll|uxtheme.dll|ntdll.dll) ;;
        *) echo "$d" ;; esac; done)
    check "$exe: imports only Windows' own DLLs ${foreign:+(not: $foreign)}" [ -z "$foreign" ]
    check "$exe: no build folder in it" sh -c "! grep -aq -e '$src' -e '$build' -e 'kestrin-package.' '$x/$exe'"
    check "$exe: its version record says $version" python3 -c "
import sys; sys.exit(0 if '$version'.encode('utf-16-le') in open('$x/$exe','rb').read() else 1)"
done

check "README.txt: Windows line ends only" python3 -c "
import sys; d = open('$x/README.txt','rb').read(); sys.exit(0 if d and d.count(b'\n') == d.count(b'\r\n') and b'\r\n' in d else 1)"
check "README.txt: plain ASCII" python3 -c "
import sys; d = open('$x/README.txt','rb').read(); sys.exit(0 if all(9 <= c < 127 or c in (10, 13) for c in d) else 1)"
check "README.txt: the user guide, without Markdown marks" sh -c "
    tr -d '\r' < '$x/README.txt' | grep -qx 'Kestrin user guide' &&
    tr -d '\r' < '$x/README.txt' | grep -q 'schtasks /Create' && ! grep -q '\`\`\`' '$x/README.txt'"
check "LICENSE.txt: the project's MIT licence, with CRLF" python3 -c "
import sys
d = open('$x/LICENSE.txt', 'rb').read()
src = open('$src/LICENSE', 'rb').read()
sys.exit(0 if d == src.replace(b'\\n', b'\\r\\n') and d.startswith(b'MIT License\\r\\n')
         and b'Copyright (c) 2026 The Kestrin developers' in d else 1)"

[ $failed -eq 0 ] && echo "package: all held" || echo "package: FAILED"
exit $failed
