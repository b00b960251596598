#!/usr/bin/env bash
# Finds programs whose delay-imported functions would call address 0, and shipped programs that
# import a delay-imported library the ordinary way as well (then the loader resolves it before the
# program starts, from the program's own folder first):
#   check-delay-imports.sh <nm> <objdump> <build folder> <i386|x86_64>
# A delay-imported function is reached through its import slot, which points at the function's
# thunk (the code that loads the library) until the first call. A program that names the slot
# (__imp_X) but in which the thunk X was dropped by the linker (nm: an absolute symbol) would jump
# to address 0 on that call. Every .exe and .dll below the build folder is checked against the
# functions of every delay-import library of the build (delay-imports/*.def).
set -euo pipefail
nm=${1:?nm} objdump=${2:?objdump} build=${3:?build folder} machine=${4:?i386 or x86_64}
# The linker's names of C functions carry a leading underscore on i386.
prefix=
[ "$machine" != i386 ] || prefix=_

functions=$(mktemp)
trap 'rm -f "$functions"' EXIT
# The i386 names keep their stdcall decoration, as the .def files list them.
for def in "$build"/delay-imports/*.def; do
    [ -f "$def" ] || continue
    sed -n '3,$p' "$def"
done | sort -u >"$functions"
[ -s "$functions" ] || { echo "no delay-import libraries in $build/delay-imports"; exit 1; }

checked=0 broken=0
while IFS= read -r -d '' program; do
    symbols=$("$nm" "$program" 2>/dev/null) || continue
    # Functions whose slot the program has, then those whose thunk is an absolute symbol.
    lost=$(awk -v prefix="$prefix" '
        NR == FNR { wanted[prefix $0] = 1; next }
        $2 == "I" && substr($3, 1, 6) == "__imp_" { name = substr($3, 7); if (name in wanted) slot[name] = 1 }
        $2 == "A" { absolute[$3] = 1 }
        END { for (name in slot) if (name in absolute) print name }' "$functions" - <<<"$symbols" | sort)
    checked=$((checked + 1))
    if [ -n "$lost" ]; then
        broken=$((broken + 1))
        echo "${program#"$build"/}: the first call of $(echo $lost | tr ' ' ',') would jump to address 0 (the linker dropped its delay-load thunk)"
    fi
done < <(find "$build" -path "$build/delay-imports" -prune -o \( -name '*.exe' -o -name '*.dll' \) -type f -print0)
echo "$checked programs checked, $broken with a delay-imported function that would call address 0"

# The libraries themselves (the first line of each .def: LIBRARY <name>), lower-cased.
libraries=$(for def in "$build"/delay-imports/*.def; do sed -n '1s/^LIBRARY //p' "$def"; done |
    tr '[:upper:]' '[:lower:]' | tr -d '\r')
shipped=0 plain=0
while IFS= read -r -d '' program; do
    imported=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' |
        tr -d '\r')
    both=$(comm -12 <(sort -u <<<"$libraries") <(sort -u <<<"$imported"))
    shipped=$((shipped + 1))
    if [ -n "$both" ]; then
        plain=$((plain + 1))
        echo "${program#"$build"/}: imports $(echo $both | tr ' ' ',') the ordinary way as well as delayed"
    fi
done < <(find "$build/src" -path '*/CMakeFiles' -prune -o \( -name '*.exe' -o -name '*.dll' \) -type f -print0)
echo "$shipped shipped programs checked, $plain importing a delay-imported library the ordinary way"
[ "$broken" -eq 0 ] && [ "$checked" -gt 0 ] && [ "$plain" -eq 0 ] && [ "$shipped" -gt 0 ]
