#!/usr/bin/env bash
# Runs one Windows executable under Wine in the tests' private prefix:
#   wine-run.sh <prefix> <program.exe> [arguments...]
# The loader follows the executable's machine type. A 32-bit program on a machine that cannot
# execute 32-bit code at all exits 77, which CTest reports as skipped, with the reason.
set -euo pipefail
prefix=${1:?prefix}
program=${2:?program}
shift

# shellcheck source=scripts/wine-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"
wine_environment "$prefix"

if [ "$(pe_machine "$program")" = i386 ]; then
    if ! can_run_32bit; then
        echo "SKIPPED: this machine cannot execute 32-bit code, so Wine cannot run $program"
        exit 77
    fi
    exec "$WINE32" "$@"
fi
exec "$WINE64" "$@"
