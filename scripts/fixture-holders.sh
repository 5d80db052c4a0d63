# shellcheck shell=bash
# fixture-holders.sh: sourced by xvfb.sh and ntfs-volume.sh. Runs that
# overlap in one build tree share its display and its NTFS volume: the window
# opened by run.sh while the tests run, or two test runs at once. Each run
# that sets a fixture up holds it, named by the process that asked (CTest,
# run.sh, a benchmark: the script's parent), its PID and start time, so that
# a run that ended without tearing down, or a PID used again, holds nothing.
# A run that tears a fixture down while another still holds it leaves it
# standing; before, the first run to end took the display (and every program
# of the prefix) from under the others.

# fixture_lock FILE: the rest of the calling script runs alone among the
# scripts of this fixture, so that two runs setting up at once make one
# display, one volume. The lock is descriptor 9: a daemon the script starts
# must be started with 9>&-, or it would hold the lock for its whole life.
fixture_lock() {
    exec 9> "$1" && flock 9
}

# The start time of process $1 (clock ticks since boot); fails when it is gone.
holder_start() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- $stat
    echo "${20}"
}

# fixture_hold HOLDERS: the caller's run holds the fixture.
fixture_hold() {
    mkdir -p "$1" && holder_start "$PPID" > "$1/$PPID"
}

# fixture_release HOLDERS: the caller's run holds it no longer.
fixture_release() {
    rm -f "$1/$PPID"
}

# fixture_held_by_others HOLDERS: true while a run other than the caller's,
# still alive, holds the fixture; the holds of ended runs are dropped.
fixture_held_by_others() {
    local f pid
    for f in "$1"/*; do
        [ -f "$f" ] || continue
        pid=${f##*/}
        [ "$pid" = "$PPID" ] && continue
        [ "$(holder_start "$pid")" = "$(cat "$f" 2>/dev/null)" ] && return 0
        rm -f "$f"
    done
    return 1
}
