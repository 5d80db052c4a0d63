#!/usr/bin/env bash
# xvfb.sh start|stop|hold BUILD_DIR: a private X display for the tests under
# Wine. The display goes into BUILD_DIR/test-env.sh, which wine-run.sh reads.
# Runs that overlap share it (fixture-holders.sh); `hold` holds it without
# starting one (run.sh's window on a display of its own). The last run to
# stop ends the display and every program of the prefix (BUILD_DIR/wineprefix):
# the prefix's desktop keeps the display it was started on, so a prefix that
# outlived its display would open no window on the next.
set -u
cmd=$1 build=$2
env_file=$build/test-env.sh pid_file=$build/xvfb.pid holders=$build/xvfb.holders
. "$(dirname "$0")/fixture-holders.sh"
mkdir -p "$build"
fixture_lock "$build/xvfb.lock"
case $cmd in
hold)
    fixture_hold "$holders"
    ;;
start)
    if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
        fixture_hold "$holders"
        echo "display already running"; exit 0
    fi
    command -v Xvfb >/dev/null || { echo "Xvfb missing: run scripts/setup.sh"; exit 1; }
    for n in $(seq 91 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        setsid Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 9>&- &
        echo $! > "$pid_file"
        for _ in $(seq 1 50); do
            [ -e /tmp/.X11-unix/X$n ] && break
            sleep 0.1
        done
        if kill -0 "$(cat "$pid_file")" 2>/dev/null && [ -e /tmp/.X11-unix/X$n ]; then
            sed -i '/^export DISPLAY=/d' "$env_file" 2>/dev/null
            echo "export DISPLAY=:$n" >> "$env_file"
            fixture_hold "$holders"
            echo "Xvfb on :$n"
            exit 0
        fi
    done
    echo "could not start Xvfb"; exit 1
    ;;
stop)
    fixture_release "$holders"
    if fixture_held_by_others "$holders"; then
        echo "display left running: another run in this build uses it"; exit 0
    fi
    WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null
    if [ -f "$pid_file" ]; then
        # Until Xvfb has gone its socket stays, and a display started next
        # could take that number and be judged up by the old socket.
        pid=$(cat "$pid_file")
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$pid_file"
        sed -i '/^export DISPLAY=/d' "$env_file" 2>/dev/null
    fi
    echo "display stopped"
    ;;
esac
