#!/usr/bin/env bash
# Takes the Windows installer silently through a user's life under Wine, in
# a prefix of its own: an earlier version (the same files plus retired.dll)
# installed; the program's files written; installer and uninstaller refused
# while the program runs; the upgrade drops retired.dll and keeps the
# user's files (and, with TAVORO_SIGN_ROOT, writes a signed uninstaller);
# the uninstaller removes the program, its menu and Apps entries, not them;
# by hand, answering Yes to its offer, it removes the program's own files.
#
#   check-installer-under-wine.sh INSTALLER CPACK_CONFIG WORK
#
# Uses a copy of TAVORO_WINE_TEMPLATE (an unused prefix) when set, else
# makes a prefix; needs an X display for the program's window.
set -u
installer="$1"
cpack_config="$2"
work="$3"

fail() { echo "FAIL: $*"; exit 1; }
[ -f "$installer" ] || fail "no installer $installer (run cpack first)"
version="$(basename "$installer" | sed -n 's/^tavoro-updater-\(.*\)-win64\.exe$/\1/p')"

rm -rf "$work" && mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
if [ -n "${TAVORO_WINE_TEMPLATE:-}" ]; then
    cp -a "$TAVORO_WINE_TEMPLATE" "$WINEPREFIX"
else
    wineboot -i >/dev/null 2>&1
fi
program_pid=""
trap '[ -n "$program_pid" ] && kill $program_pid 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT

profile="$WINEPREFIX/drive_c/users/$(id -un)"
program_dir="$profile/AppData/Local/Programs/Tavoro updater"
start_menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavoro updater"
program_files=(tavoroUpdater.exe tavoro-flash.exe qt.conf Qt5Core.dll platforms/qwindows.dll hidapi.dll
               libstdc++-6.dll Uninstall.exe)
# What the program writes beside itself, and files a user put there.
user_files=(2024-01-02_03_04_05.log 2024-01-02_03_04_05_log.enc updater.sb updater.sb.bkp
            SUPER_MEGA_UPDATE.sb notes.log)

# Runs a Windows program silently and waits for it and whatever it started
# (an uninstaller copies itself elsewhere and returns at once).
run() { wine "$@" >>"$work/wine.txt" 2>&1; local status=$?; wineserver -w; return $status; }
# The Apps entry's value $1 as Wine keeps it in user.reg ("0.14", dword:...);
# empty without one. The registry is written out when the server ends.
apps_value() {
    awk -v name="\"$1\"" '
        /^\[/ { inside = index($0, "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Tavoro updater]") == 1 }
        inside && index($0, name "=") == 1 { sub(/^[^=]*=/, ""); gsub(/"/, ""); print }
    ' "$WINEPREFIX/user.reg"
}
expect_files() {
    for file in "${@:2}"; do [ -f "$program_dir/$file" ] || fail "$1: no $file: $(ls "$program_dir" 2>&1)"; done
}

# An earlier version: the same program directory and one more file.
mkdir -p "$work/earlier" && echo "retired" >"$work/earlier/retired.dll"
dist="$(dirname "$installer")/dist"
cpack --config "$cpack_config" -G NSIS -B "$work/earlier-package" -D CPACK_PACKAGE_VERSION=0.13 \
    -D CPACK_PACKAGE_FILE_NAME=earlier -D CPACK_NSIS_COMPRESSOR=zlib \
    -D "CPACK_INSTALLED_DIRECTORIES=$dist;.;$work/earlier;." >"$work/cpack.txt" 2>&1 \
    || fail "cannot make the earlier version's installer: $(cat "$work/cpack.txt")"

run "$work/earlier-package/earlier.exe" /S || fail "the earlier version's installer failed"
expect_files "installed" "${program_files[@]}" retired.dll
[ -f "$start_menu/Tavoro updater.lnk" ] || fail "no Start-menu entry in $start_menu: $(ls "$start_menu" 2>&1)"
[ "$(apps_value DisplayVersion)" = 0.13 ] || fail "Apps entry version '$(apps_value DisplayVersion)', expected 0.13"
echo "installed version 0.13 into the user's AppData/Local/Programs/Tavoro updater with a Start-menu entry"

for file in "${user_files[@]}"; do
    echo "$file" >"$program_dir/$file" || fail "the program directory is not writable"
done

# While the program runs, both refuse and change nothing.
wine "$program_dir/tavoroUpdater.exe" >"$work/program.txt" 2>&1 &
program_pid=$!
for _ in $(seq 1 150); do
    grep -qs ' : program started$' "$program_dir"/20*[0-9].log && break
    sleep 0.2
done
grep -qs ' : program started$' "$program_dir"/20*[0-9].log || fail "the program did not start: $(cat "$work/program.txt")"
status=0
wine "$installer" /S >>"$work/wine.txt" 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "the installer ran while the program ran (exit code $status)"
# The uninstaller's exit code is its launcher's (it copies itself elsewhere
# and runs that copy): what counts is that the copy removed nothing.
wine "$program_dir/Uninstall.exe" /S >>"$work/wine.txt" 2>&1
sleep 3
kill $program_pid && wait $program_pid 2>/dev/null
program_pid="" && wineserver -w
expect_files "after refusing" "${program_files[@]}" retired.dll
[ "$(apps_value DisplayVersion)" = 0.13 ] || fail "upgraded while the program ran"
echo "installer and uninstaller refused while the program ran"

run "$installer" /S || fail "the upgrade failed"
expect_files "upgraded" "${program_files[@]}" "${user_files[@]}"
[ -e "$program_dir/retired.dll" ] && fail "the upgrade left the earlier version's retired.dll behind"
[ "$(apps_value DisplayVersion)" = "$version" ] || fail "Apps entry version '$(apps_value DisplayVersion)' after the upgrade"
size="$(apps_value EstimatedSize)"
[[ "$size" =~ ^dword:0*[1-9a-f][0-9a-f]*$ ]] || fail "Apps entry EstimatedSize '$size'"
if [ -n "${TAVORO_SIGN_ROOT:-}" ]; then
    osslsigncode verify -CAfile "$TAVORO_SIGN_ROOT" -in "$program_dir/Uninstall.exe" 2>&1 \
        | grep -q '^Signature verification: ok' || fail "the uninstaller it wrote is not signed"
    echo "the uninstaller it wrote is signed"
fi
echo "upgraded to $version: retired.dll removed, the user's files kept, EstimatedSize $((16#${size#dword:})) KiB"

run "$program_dir/Uninstall.exe" /S || fail "the uninstaller failed"
# The uninstaller copies itself elsewhere and runs from there: wait for it.
for _ in $(seq 1 50); do [ -e "$program_dir/tavoroUpdater.exe" ] && sleep 0.2; done
for file in "${program_files[@]}" platforms; do
    [ -e "$program_dir/$file" ] && fail "the uninstaller left $file behind"
done
expect_files "uninstalled" "${user_files[@]}"
[ -e "$start_menu" ] && fail "the Start-menu entry is left behind"
[ -n "$(apps_value DisplayName)" ] && fail "the Apps entry is left behind"
echo "uninstalled: program, Start-menu entry and Apps entry removed; kept $(ls "$program_dir" | tr '\n' ' ')"

# Run by hand and answering Yes to its offer, it removes the program's own
# files only: not a log of another name, nor the hand-placed firmware file.
run "$installer" /S || fail "installing again failed"
wine "$program_dir/Uninstall.exe" >>"$work/wine.txt" 2>&1 &
windows() { xdotool search --onlyvisible --name '^Tavoro updater Uninstall' 2>/dev/null; }
# Until $1 of its windows are shown, presses key $2 in its first or last
# ($3: head, tail) window every 3 s: under load a key pressed too early
# gets lost.
press_until() {
    for _ in $(seq 1 10); do
        for _ in $(seq 1 15); do [ "$(windows | wc -l)" -eq "$1" ] && return; sleep 0.2; done
        [ -n "$(windows)" ] && xdotool windowfocus --sync "$(windows | "$3" -n 1)" key "$2"
    done
    fail "$4"
}
press_until 1 - head "no uninstaller window"
press_until 2 Return head "no offer to remove the files"
press_until 1 y tail "the offer stays"
for _ in $(seq 1 50); do [ -e "$program_dir/Uninstall.exe" ] && sleep 0.2; done
press_until 0 Return head "it does not close"
wineserver -w
[ "$(ls "$program_dir" | tr '\n' ' ')" = "SUPER_MEGA_UPDATE.sb notes.log " ] || fail "left: $(ls "$program_dir")"
echo "uninstalled by hand, removing the program's files: kept SUPER_MEGA_UPDATE.sb notes.log"
