#!/usr/bin/env bash
# Runs the Windows installer silently under Wine, in a Wine prefix of its
# own, as the user of that prefix, and checks that it installed the program
# directory into the user's own programs folder with a Start-menu entry,
# that the program directory is writable, and that the uninstaller removes
# it all again.
#
#   check-installer-under-wine.sh INSTALLER WORK
#
# Uses a copy of TAVORO_WINE_TEMPLATE (an unused prefix) when set, else
# makes a prefix.
set -u
installer="$1"
work="$2"

fail() { echo "FAIL: $*"; exit 1; }
[ -f "$installer" ] || fail "no installer $installer (run cpack first)"

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
if [ -n "${TAVORO_WINE_TEMPLATE:-}" ]; then
    cp -a "$TAVORO_WINE_TEMPLATE" "$WINEPREFIX"
else
    wineboot -i >/dev/null 2>&1
fi
trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT

profile="$WINEPREFIX/drive_c/users/$(id -un)"
program_dir="$profile/AppData/Local/Programs/Tavoro updater"
start_menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavoro updater"

# /S: silent, with the default choices.
wine "$installer" /S >"$work/install.txt" 2>&1 || fail "the installer failed: $(cat "$work/install.txt")"
wineserver -w
for file in tavoroUpdater.exe Qt5Core.dll platforms/qwindows.dll hidapi.dll libstdc++-6.dll Uninstall.exe; do
    [ -f "$program_dir/$file" ] || fail "no $file in $program_dir"
done
echo "installed into the user's AppData/Local/Programs/Tavoro updater"
[ -f "$start_menu/Tavoro updater.lnk" ] || fail "no Start-menu entry in $start_menu: $(ls "$start_menu" 2>&1)"
echo "Start-menu entry: $(ls "$start_menu" | tr '\n' ' ')"

# What the program writes there, as its user: the uninstaller takes it too.
touch "$program_dir/2024-01-02_03_04_05.log" "$program_dir/updater.sb" || fail "the program directory is not writable"

wine "$program_dir/Uninstall.exe" /S >"$work/uninstall.txt" 2>&1 || fail "the uninstaller failed"
wineserver -w
# The uninstaller copies itself elsewhere and runs from there: wait for it.
for _ in $(seq 1 50); do
    [ -e "$program_dir" ] || break
    sleep 0.2
done
[ -e "$program_dir" ] && fail "left behind: $(ls -R "$program_dir")"
[ -e "$start_menu" ] && fail "the Start-menu entry is left behind"
echo "uninstalled: program directory and Start-menu entry removed"
