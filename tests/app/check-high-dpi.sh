#!/usr/bin/env bash
# Starts the window program on X screens of several densities (an Xvfb
# each) and checks that its window, fixed in pixels, grows with the scale
# as its fonts do (without scaling it stays 488×440 and its texts are cut).
# Within a pixel: Xvfb keeps the screen size in whole millimetres. Keeps a
# screenshot of each in WORK/dpi-N.png.
#
#   check-high-dpi.sh PROGRAM WORK
set -u
program="$1"
work="$2"

if [ -z "${TAVORO_DPI:-}" ]; then
    status=0
    for row in "96 488 440" "144 732 660" "192 976 880"; do
        TAVORO_DPI="$row" xvfb-run -a -s "-screen 0 1800x1400x24 -dpi ${row%% *}" "$0" "$@" || status=1
    done
    exit $status
fi

read -r dpi width height <<<"$TAVORO_DPI"
dir="$work/$dpi"
rm -rf "$dir" && mkdir -p "$dir" && cp "$program" "$dir/"  # it writes its log beside itself
"$dir/$(basename "$program")" >"$dir/output.txt" 2>&1 &
trap "kill $! 2>/dev/null" EXIT
for _ in $(seq 1 100); do
    window="$(xdotool search --onlyvisible --name '^Tavoro updater v\. ' 2>/dev/null | head -n 1)"
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "FAIL at $dpi dpi: no window: $(cat "$dir/output.txt")"; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$work/dpi-$dpi.png" 2>/dev/null
echo "$dpi dpi: window ${WIDTH}x${HEIGHT}, expected ${width}x${height}"
[ $(( (WIDTH - width) ** 2 <= 1 && (HEIGHT - height) ** 2 <= 1 )) -eq 1 ] || { echo FAIL; exit 1; }
