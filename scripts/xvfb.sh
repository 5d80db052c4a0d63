#!/usr/bin/env bash
# xvfb.sh start|stop BUILD_DIR: a private X display for the tests under Wine.
# The display goes into BUILD_DIR/test-env.sh, which wine-run.sh reads.
set -u
cmd=$1 build=$2
env_file=$build/test-env.sh pid_file=$build/xvfb.pid
case $cmd in
start)
    if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
        echo "display already running"; exit 0
    fi
    command -v Xvfb >/dev/null || { echo "Xvfb missing: run scripts/setup.sh"; exit 1; }
    for n in $(seq 91 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        setsid Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        echo $! > "$pid_file"
        for _ in $(seq 1 50); do
            [ -e /tmp/.X11-unix/X$n ] && break
            sleep 0.1
        done
        if kill -0 "$(cat "$pid_file")" 2>/dev/null && [ -e /tmp/.X11-unix/X$n ]; then
            sed -i '/^export DISPLAY=/d' "$env_file" 2>/dev/null
            echo "export DISPLAY=:$n" >> "$env_file"
            echo "Xvfb on :$n"
            exit 0
        fi
    done
    echo "could not start Xvfb"; exit 1
    ;;
stop)
    if [ -f "$pid_file" ]; then
        WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null
        kill "$(cat "$pid_file")" 2>/dev/null
        rm -f "$pid_file"
        sed -i '/^export DISPLAY=/d' "$env_file" 2>/dev/null
    fi
    echo "display stopped"
    ;;
esac
