#!/usr/bin/env bash
# The test command: installs what is missing, builds both programs, and runs
# every test under Wine (the 32-bit program fully, the 64-bit build's engine).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" || exit 1
"$root/scripts/build.sh" i686 x86_64 || exit 1
status=0
for arch in i686 x86_64; do
    echo "=== tests: $arch"
    (cd "$root/build/$arch" && ctest --output-on-failure --timeout 1800) || status=1
done
exit $status
