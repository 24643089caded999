#!/usr/bin/env bash
# Starts the Windows program from the program directory the package holds
# (dist/) under Wine on the X display, as a user would, and checks: the
# window's title, the program log it starts beside itself, that "Connect"
# ends in "Device is not found." (Wine has no HID controllers), and that it
# loaded no plugin from the directories another Qt program may leave in
# QT_PLUGIN_PATH and QT_QPA_PLATFORM_PLUGIN_PATH (here holding a copy of its
# own platform plugin; Wine's loader names every DLL it loads). Keeps a
# screenshot of the answer in WORK/connect.png.
#
#   check-program-under-wine.sh DIST WORK
#
# Uses the Wine prefix in WINEPREFIX, an X display (DISPLAY), xdotool,
# xclip and ImageMagick's import.
set -u
dist="$1"
work="$2"
title="Tavoro updater v. 14"

fail() { echo "FAIL: $*"; [ -n "${program_dir:-}" ] && ls -l "$program_dir"; exit 1; }

[ -f "$dist/tavoroUpdater.exe" ] || fail "no $dist/tavoroUpdater.exe (build the windows-dist target first)"

# The program writes beside itself: it runs from a fresh copy.
rm -rf "$work"
program_dir="$work/program"
mkdir -p "$program_dir"
cp -r "$dist"/. "$program_dir"/

mkdir -p "$work/other-qt/plugins/platforms" "$work/other-qt/platforms"
cp "$dist/platforms/qwindows.dll" "$work/other-qt/plugins/platforms/"
cp "$dist/platforms/qwindows.dll" "$work/other-qt/platforms/"

export WINEDEBUG=-all
# Wine keeps the host's QT_ variables from Windows programs: they are set
# in the Windows environment, by cmd, which then starts the program and
# waits for it.
command="set QT_PLUGIN_PATH=$(winepath -w "$work/other-qt/plugins")"
command+="&& set QT_QPA_PLATFORM_PLUGIN_PATH=$(winepath -w "$work/other-qt/platforms")"
command+="&& start /wait $(winepath -w "$program_dir/tavoroUpdater.exe")"
WINEDEBUG=-all,+loaddll wine cmd /c "$command" >"$work/wine.txt" 2>&1 &
pid=$!
trap 'wine taskkill /f /im tavoroUpdater.exe >/dev/null 2>&1; kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT

# Polls a command for up to $1 seconds.
wait_for() {
    local seconds="$1"
    shift
    for _ in $(seq 1 $((seconds * 5))); do
        "$@" && return 0
        kill -0 $pid 2>/dev/null || fail "the program ended early: $(cat "$work/wine.txt")"
        sleep 0.2
    done
    return 1
}
find_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(find_window "$1")" ]; }

wait_for 60 window_shown "$title" || fail "no window titled '$title'"
window="$(find_window "$title")"
echo "window '$title' shown"

log_started() { grep -qs ' : program started$' "$program_dir"/*.log; }
wait_for 10 log_started || fail "no 'program started' in a log beside the program"
logs=("$program_dir"/*.log)
[ ${#logs[@]} -eq 1 ] || fail "${#logs[@]} program logs, expected one"
name="$(basename "${logs[0]}")"
[[ "$name" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}_[0-9]{2}_[0-9]{2}\.log$ ]] || fail "log named $name"
first="$(head -n 1 "${logs[0]}")"
[[ "$first" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}:[0-9]{2}:[0-9]{2}\ :\ program\ started$ ]] \
    || fail "the log begins with '$first'"
echo "program log $name begins with '$first'"

# Connect is the left button of the row at the window's foot.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 125 $((HEIGHT - 15)) click 1
wait_for 30 window_shown Error || fail "no box titled 'Error' after Connect"
box="$(find_window Error)"
sleep 1
import -window root "$work/connect.png"

# A Windows message box copies its title and text with Ctrl+C; Wine hands
# the clipboard to X, which can take a while when the machine is busy: the
# copy is tried again until it arrives.
for _ in $(seq 1 10); do
    xdotool windowfocus --sync "$box" key ctrl+c && sleep 1
    text="$(xclip -o -selection clipboard 2>/dev/null)" && [ -n "$text" ] && break
done
echo "the box says: $text"
[[ "$text" == *"Device is not found."* ]] || fail "the box does not say 'Device is not found.'"

xdotool windowfocus --sync "$box" key Return
sleep 1
kill -0 $pid 2>/dev/null || fail "the program ended after the box"
grep -q 'Loaded .*qwindows\.dll' "$work/wine.txt" || fail "Wine named no platform plugin it loaded"
loaded="$(grep 'Loaded .*other-qt' "$work/wine.txt")"
[ -n "$loaded" ] && fail "it loaded another Qt's plugin: $loaded"
echo "no plugin loaded from QT_PLUGIN_PATH or QT_QPA_PLATFORM_PLUGIN_PATH"
echo "screenshot: $work/connect.png"
