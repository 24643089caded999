#!/usr/bin/env bash
# Verifies the Authenticode signature of the installer and of every .exe
# and .dll in the program directory and in the zip against the root
# certificate $TAVORO_SIGN_ROOT (scripts/test-windows signs with a
# throwaway chain); without it the build is unsigned: skipped (77).
#
#   check-signatures.sh DIST ZIP INSTALLER WORK
set -u
[ -n "${TAVORO_SIGN_ROOT:-}" ] || { echo "TAVORO_SIGN_ROOT is not set: an unsigned build"; exit 77; }
rm -rf "$4" && mkdir -p "$4/zip" && (cd "$4/zip" && cmake -E tar xf "$2") || { echo "FAIL: cannot unpack $2"; exit 1; }
mapfile -d '' files < <(find "$1" "$4/zip" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
files+=("$3")
[ ${#files[@]} -gt 20 ] || { echo "FAIL: only ${#files[@]} files"; exit 1; }
status=0
for file in "${files[@]}"; do
    osslsigncode verify -CAfile "$TAVORO_SIGN_ROOT" -in "$file" >"$4/verify.txt" 2>&1
    grep -q '^Signature verification: ok' "$4/verify.txt" || { echo "FAIL: $file: $(tail -n 3 "$4/verify.txt")"; status=1; }
done
[ $status -eq 0 ] && echo "${#files[@]} files signed, each verified against $TAVORO_SIGN_ROOT"
exit $status
