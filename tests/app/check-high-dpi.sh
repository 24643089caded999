#!/usr/bin/env bash
# Starts the window program on X screens of several pixel densities (each
# its own Xvfb) and checks that its window, whose geometry is fixed in
# pixels, grows with the screen's scale as its fonts do: 488×440 at 96 dpi,
# 1.5 times that at 144 dpi (150 %), twice at 192 dpi (200 %). Without
# scaling it stays 488×440 and its texts are cut off. Keeps a screenshot of
# each in WORK/dpi-N.png.
#
#   check-high-dpi.sh PROGRAM WORK
set -u
program="$1"
work="$2"

# dpi, then the window's expected size in pixels.
rows=("96 488x440" "144 732x660" "192 976x880")

if [ -n "${TAVORO_DPI_ROW:-}" ]; then
    # One row, on its own X display.
    read -r dpi expected <<<"$TAVORO_DPI_ROW"
    dir="$work/$dpi"
    rm -rf "$dir"
    mkdir -p "$dir"
    # The program writes its log beside itself.
    cp "$program" "$dir/"
    "$dir/$(basename "$program")" >"$dir/output.txt" 2>&1 &
    pid=$!
    trap 'kill $pid 2>/dev/null' EXIT
    window=""
    for _ in $(seq 1 100); do
        window="$(xdotool search --onlyvisible --name '^Tavoro updater v\. ' 2>/dev/null | head -n 1)"
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "FAIL at $dpi dpi: no window: $(cat "$dir/output.txt")"; exit 1; }
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$work/dpi-$dpi.png" 2>/dev/null
    # Xvfb keeps the screen's size in whole millimetres: its dpi, and so
    # the scale, can be a hair off.
    width=${expected%x*}
    height=${expected#*x}
    if [ $((WIDTH - width)) -lt -1 ] || [ $((WIDTH - width)) -gt 1 ] \
        || [ $((HEIGHT - height)) -lt -1 ] || [ $((HEIGHT - height)) -gt 1 ]; then
        echo "FAIL at $dpi dpi: window ${WIDTH}x${HEIGHT}, expected $expected"
        exit 1
    fi
    echo "$dpi dpi: window ${WIDTH}x${HEIGHT}"
    exit 0
fi

status=0
for row in "${rows[@]}"; do
    TAVORO_DPI_ROW="$row" xvfb-run -a -s "-screen 0 1800x1400x24 -dpi ${row%% *}" "$0" "$program" "$work" || status=1
done
exit $status
