#!/usr/bin/env bash
# run_test.sh LOG COMMAND...: runs one test program for CTest and tells a
# skip from a pass. GoogleTest ends a program whose cases passed or skipped
# with 0, so a program that skipped a case would count as passed; here a run
# that ended 0 and skipped any case ends 77 (CTest's "skipped") after naming
# the skipped cases. A failure stays a failure, whatever else was skipped.
# The output goes to LOG (a file, so that a child left running cannot hold a
# pipe open) and is shown when the program ends.
set -u
log=$1
shift
"$@" > "$log" 2>&1
rc=$?
cat "$log"
# A program whose standard output was lost part-way (a handle closed under
# it) can still end 0: without GoogleTest's closing count the run is a failure.
if [ $rc -eq 0 ] && ! grep -q '^\[==========\] [0-9][0-9]* tests\{0,1\} from .* ran\.' "$log"; then
    echo "FAILED: the program ended 0 without its closing count of tests; its output was cut short"
    exit 1
fi
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$log" | tail -1)
if [ $rc -eq 0 ] && [ -n "$skipped" ]; then
    echo "SKIPPED: $skipped case(s) skipped, listed above with the reason"
    exit 77
fi
exit $rc
