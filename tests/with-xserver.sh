#!/usr/bin/env bash
# Runs a command inside a private X server (Xvfb) with a window manager
# (openbox), on the first free display from :90 on, and stops both after.
# Usage: with-xserver.sh COMMAND [ARGS...]
set -u

display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
        display=":${n}"
        break
    fi
done
[ -n "$display" ] || { echo "with-xserver: no free display" >&2; exit 1; }

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT INT TERM

export DISPLAY="$display"
# Wait for the server to answer, then for the window manager to take over.
for _ in $(seq 1 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
done
xdpyinfo >/dev/null 2>&1 || { echo "with-xserver: Xvfb did not start on $display" >&2; exit 1; }
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

export QT_QPA_PLATFORM=xcb
"$@"
