#!/usr/bin/env bash
# Runs a command inside a private X server (Xvfb) with a window manager
# (openbox), and stops both after.
# Usage: with-xserver.sh COMMAND [ARGS...]
# Xvfb picks a free display number itself (-displayfd) and locks it, so
# tests run in parallel never share a server. -noreset: without it the
# server resets whenever its last client leaves, and a window manager
# connecting at that moment fails.
set -u

workdir=$(mktemp -d "${TMPDIR:-/tmp}/with-xserver.XXXXXX")
cleanup() {
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$workdir/display" >"$workdir/xvfb.log" 2>&1 &
xvfb=$!
number=""
for _ in $(seq 1 200); do
    number=$(tr -dc '0-9' <"$workdir/display")
    [ -n "$number" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$number" ]; then
    echo "with-xserver: Xvfb did not start" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$number"

# Wait for the window manager to take over.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
for _ in $(seq 1 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' \
    || { echo "with-xserver: openbox did not start on $DISPLAY" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
"$@"
