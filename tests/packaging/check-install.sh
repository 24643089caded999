#!/usr/bin/env bash
# Installs the build into a staging directory, checks the files a user's
# system receives and starts the installed launcher once.
set -euo pipefail
build="$1"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null

for file in usr/bin/tavoro-updater usr/bin/tavoro-flash \
            usr/libexec/tavoro-updater/tavoro-updater usr/libexec/tavoro-updater/tavoro-flash \
            usr/share/applications/tavoro-updater.desktop \
            usr/share/icons/hicolor/256x256/apps/tavoro-updater.png \
            usr/share/man/man1/tavoro-updater.1.gz usr/share/man/man1/tavoro-flash.1.gz \
            usr/lib/udev/rules.d/70-tavoro-updater.rules; do
    [ -e "$stage/root/$file" ] || { echo "missing after install: $file"; exit 1; }
done
[ -x "$stage/root/usr/bin/tavoro-updater" ] || { echo "launcher is not executable"; exit 1; }

# The closed transfer library's stand-in belongs to the demo and the tests:
# an installed program must never pretend to update a MOSS controller.
for program in tavoro-updater tavoro-flash; do
    if strings -el "$stage/root/usr/libexec/tavoro-updater/$program" | grep -q 'stand-in only'; then
        echo "the installed $program carries the transfer library's stand-in"
        exit 1
    fi
done
desktop-file-validate "$stage/root/usr/share/applications/tavoro-updater.desktop"

# The launcher runs a per-user copy, whose directory takes the program log.
launcher="$stage/root/usr/bin/tavoro-updater"
HOME="$stage/home" XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen "$launcher" >/dev/null 2>&1 &
pid=$!
copy="$stage/home/.local/share/tavoro-updater"
for _ in $(seq 1 100); do
    grep -qs ' : program started$' "$copy"/*.log && break
    sleep 0.1
done
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
grep -qs ' : program started$' "$copy"/*.log || { echo "the launched copy wrote no program log"; exit 1; }

# The flasher's launcher runs its copy in the same directory, with the
# arguments it was given.
help="$(HOME="$stage/home" XDG_DATA_HOME= "$stage/root/usr/bin/tavoro-flash" --help)"
grep -q '^Usage: tavoro-flash' <<<"$help" || { echo "the flasher's launcher did not pass --help on"; exit 1; }
[ -x "$copy/tavoro-flash" ] || { echo "the flasher's launcher left no copy in $copy"; exit 1; }

echo "install and launchers checked"
