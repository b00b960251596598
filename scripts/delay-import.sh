#!/usr/bin/env bash
# Makes a delay-import library for one system DLL from MinGW's ordinary import library:
#   delay-import.sh <nm> <dlltool> <import library> <dll name> <machine> <output>
# The functions are those the import library names (its __imp_ symbols); 32-bit names keep their
# stdcall decoration for the linker and lose it in the DLL (dlltool --kill-at).
set -euo pipefail
nm=$1 dlltool=$2 import_lib=$3 dll=$4 machine=$5 out=$6
def="$out.def"
{
    echo "LIBRARY $dll"
    echo "EXPORTS"
    if [ "$machine" = i386 ]; then
        "$nm" -g "$import_lib" | awk '$2 == "I" && $3 ~ /^__imp__/ { sub(/^__imp__/, "", $3); print $3 }'
    else
        "$nm" -g "$import_lib" | awk '$2 == "I" && $3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }'
    fi | sort -u
} >"$def"
[ "$(wc -l <"$def")" -gt 2 ] || { echo "no functions found in $import_lib" >&2; exit 1; }
flags=()
[ "$machine" = i386 ] && flags=(--kill-at)
"$dlltool" -m "$machine" "${flags[@]}" -d "$def" -D "$dll" -y "$out"
