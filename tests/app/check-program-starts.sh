#!/usr/bin/env bash
# Starts the real program (linked with the system hidapi) without a display
# and waits for "program started" in its log, then stops it.
set -u
program="$1"
dir="$(dirname "$program")"
# Only this run's log may count.
rm -f "$dir"/*.log

QT_QPA_PLATFORM=offscreen "$program" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT

for _ in $(seq 1 100); do
    if grep -qs ' : program started$' $(ls -t "$dir"/*.log 2>/dev/null | head -n 1) 2>/dev/null; then
        kill -0 $pid 2>/dev/null || { echo "program exited early"; exit 1; }
        echo "program started and logged it"
        exit 0
    fi
    sleep 0.1
done
echo "no 'program started' line in a log of $dir"
exit 1
