#!/usr/bin/env bash
# Checks the Authenticode signature of every .exe and .dll in the program
# directory and in the zip, and of the installer, against the root
# certificate $TAVORO_SIGN_ROOT (scripts/test-windows signs the build with a
# throwaway chain it makes). Without TAVORO_SIGN_ROOT the build is not
# meant to be signed: skipped (exit code 77).
#
#   check-signatures.sh DIST ZIP INSTALLER WORK
set -u
dist="$1"
zip="$2"
installer="$3"
work="$4"

[ -n "${TAVORO_SIGN_ROOT:-}" ] || { echo "TAVORO_SIGN_ROOT is not set: an unsigned build"; exit 77; }
rm -rf "$work"
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }

files=("$installer")
while IFS= read -r -d '' file; do
    files+=("$file")
done < <(find "$dist" "$work/zip" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ ${#files[@]} -gt 20 ] || { echo "FAIL: only ${#files[@]} files to check"; exit 1; }

failed=0
for file in "${files[@]}"; do
    if ! osslsigncode verify -CAfile "$TAVORO_SIGN_ROOT" -in "$file" >"$work/verify.txt" 2>&1 \
        || ! grep -q '^Signature verification: ok' "$work/verify.txt"; then
        echo "FAIL: $file: $(tail -n 3 "$work/verify.txt" | tr '\n' ' ')"
        failed=1
    fi
done
[ $failed -eq 0 ] || exit 1
echo "${#files[@]} files signed, each verified against $TAVORO_SIGN_ROOT"
