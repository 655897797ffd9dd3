#!/usr/bin/env bash
# End to end on a real X server (Xvfb) with a real system tray host (trayer):
#   with a tray:    "/hide" starts with no visible window and the icon embedded in the tray;
#                   a second start shows the window and exits 0; the tray menu's Exit ends
#                   the monitor and removes the icon;
#   without a tray: "/hide" leaves the window reachable, and a second start brings it back.
# Usage: desktop_e2e.sh <Sentorix executable>
set -euo pipefail
sentorix=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

exec {fd}<> <(:)
# -noreset: without it the server resets whenever its last client leaves (here after trayer is
# killed and each xdotool probe), and a program connecting during the reset is refused.
Xvfb -displayfd "$fd" -screen 0 1024x700x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 -u "$fd" display || fail "Xvfb did not start"
export DISPLAY=":$display"
export XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
title="Sentorix - Tarnwick Lab"

visible_window() { xdotool search --onlyvisible --name "^$title\$"; }
any_window() { xdotool search --name "^$title\$"; }
# The tray icon: a window of Sentorix's class reparented into trayer's panel.
panel() { xdotool search --class trayer | while read -r w; do
    xwininfo -id "$w" -tree | grep -q '"Sentorix"' && echo "$w"; done | head -1; }
icon_in_tray() { [ -n "$(panel)" ]; }
no_icon_in_tray() { ! icon_in_tray; }

# --- with a tray ---
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 100 xdotool search --class trayer || fail "trayer did not start"

"$sentorix" /hide >"$work/first.log" 2>&1 &
first=$!
pids+=($first)
wait_for 100 icon_in_tray || fail "the tray icon was not embedded"
wait_for 20 any_window || fail "no main window at all"
sleep 0.5
visible_window && fail "/hide started with a visible window"

timeout 10 "$sentorix" >"$work/second.log" 2>&1 || fail "the second start did not exit 0"
kill -0 "$first" || fail "the first monitor ended"
wait_for 50 visible_window || fail "the second start did not show the window"

# Exit from the tray menu: the menu's last item, reached by the keyboard.
icon=$(xwininfo -id "$(panel)" -tree | grep '"Sentorix"' | awk '{print $1}' | head -1)
shown() { xdotool search --onlyvisible --class Sentorix 2>/dev/null | wc -l; }
before=$(shown)
popup_open() { [ "$(shown)" -gt "$before" ]; }
# On a loaded machine the menu may take a while: the keys go to it once it is mapped, and a
# menu that did not open (or took the keys too early) is closed and opened again.
for _ in 1 2 3; do
    xdotool mousemove --window "$icon" 5 5 click 3
    if wait_for 50 popup_open; then
        sleep 0.3
        xdotool key Up Return
        for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$first" 2>/dev/null || break
    fi
    xdotool key Escape
    for _ in $(seq 20); do popup_open || break; sleep 0.1; done
done
kill -0 "$first" 2>/dev/null && fail "Exit from the tray menu did not end the monitor"
wait "$first" || fail "the monitor did not exit 0"
wait_for 50 no_icon_in_tray || fail "the tray icon stayed after Exit"

# --- without a tray ---
kill "${pids[1]}"
wait_for 50 bash -c '! xdotool search --class trayer' || fail "trayer did not end"
"$sentorix" /hide >"$work/notray.log" 2>&1 &
lone=$!
pids+=($lone)
wait_for 100 any_window || fail "no main window without a tray"
timeout 10 "$sentorix" >"$work/second2.log" 2>&1 || fail "the second start did not exit 0"
wait_for 50 visible_window || fail "without a tray the window is not reachable"
kill "$lone"
echo "desktop end-to-end: all passed"
