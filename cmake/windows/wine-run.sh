#!/usr/bin/env bash
# Runs a Windows Qt Test program under Wine: CTest's emulator in the MinGW
# cross build (see mingw-w64-x86_64.cmake).
#
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
#
# A console program's standard output does not reliably come back from
# Wine, so Qt Test writes its results into a file, which is printed here
# and kept beside the program as NAME-results.txt (read it after a time-out,
# when CTest has ended this script before it could print it).
# The exit status is the program's; a run that ends without Qt Test's
# totals line (a crash) fails. Needs an X display (Xvfb): Qt's Windows event
# loop makes a hidden window even offscreen.
#
# Environment:
#   WINEPREFIX              the Wine prefix to use (scripts/test-windows makes
#                           one per test run); without it this run makes and
#                           removes its own
#   TAVORO_WINE_TEMPLATE    an unused prefix to copy from, faster than making one
#   TAVORO_WINE_OWN_PREFIX  1: run in a copy of the template all the same, for
#                           a test that changes settings other tests read (the
#                           system proxy)
#   WINEPATH                directories where Wine looks for DLLs (the Qt DLLs)
set -u
program="$1"
shift

scratch="$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
own_prefix=false
if [ -z "${WINEPREFIX:-}" ] || [ "${TAVORO_WINE_OWN_PREFIX:-}" = 1 ]; then
    export WINEPREFIX="$scratch/prefix"
    own_prefix=true
    if [ -n "${TAVORO_WINE_TEMPLATE:-}" ]; then
        cp -a "$TAVORO_WINE_TEMPLATE" "$WINEPREFIX"
    fi
fi
cleanup() {
    if $own_prefix; then
        wineserver -k 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

export WINEDEBUG=-all
result="$(cd "$(dirname "$program")" && pwd)/$(basename "${program%.exe}")-results.txt"
rm -f "$result"
status=0
# Wine maps the host's root directory to drive Z:.
wine "$program" "$@" -o "Z:${result},txt" >"$scratch/console.txt" 2>&1 </dev/null || status=$?

if [ -s "$result" ]; then
    cat "$result"
else
    echo "no Qt Test results from $program; its console said:"
    cat "$scratch/console.txt"
fi
if [ "$status" -eq 0 ] && ! grep -q '^Totals: ' "$result" 2>/dev/null; then
    echo "the run ended without Qt Test's totals"
    status=1
fi
exit "$status"
