#!/usr/bin/env bash
# Runs one Windows executable under Wine in the tests' private prefix:
#   wine-run.sh <prefix> <program.exe> [arguments...]
# The loader follows the executable's machine type. A 32-bit program on a machine that cannot
# execute 32-bit code at all exits 77, which CTest reports as skipped, with the reason.
#
# Wine reports a process that fails to start (a DLL that does not load or whose initialisation
# fails, an image it refuses, an exception before main) only on its error channel. So the program
# runs with that channel open: what it prints reaches standard error, which CTest shows only for a
# failed test, and a failure that does not come again still says why. A failed run then says how
# it ended and the program is run once more, which tells a steady failure from a passing one; that
# second run is a diagnosis only: the first run's status is the result, whatever the second does.
# A process that faults counts as failed (status 70) even when Wine's debugger ends it with 0.
# A WINEDEBUG set by the caller is kept.
set -uo pipefail
prefix=${1:?prefix}
program=${2:?program}
shift
WINE_RUN_FAULT_STATUS=70

# shellcheck source=scripts/wine-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"
needs_32bit_namespace && exec_with_32bit_side bash "${BASH_SOURCE[0]}" "$prefix" "$@"
export WINEDEBUG=${WINEDEBUG:-$WINE_ERRORS_ONLY}
wine_environment "$prefix"

loader=$WINE64
if [ "$(pe_machine "$program")" = i386 ]; then
    if ! can_run_32bit; then
        echo "SKIPPED: this machine cannot execute 32-bit code, natively or through qemu-i386 (run scripts/setup.sh), so Wine cannot run $program"
        exit 77
    fi
    loader=$WINE32
fi

# A process that faults is handed to Wine's debugger, which prints a report and ends it with
# status 0: the report on the error channel is the only sign, so that channel is kept and read.
how=""
errors=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$errors"' EXIT
{
    "$loader" "$@" 2>&1 1>&3 3>&- | tee "$errors" >&2
    status=${PIPESTATUS[0]}
} 3>&1
if [ "$status" -eq 0 ] && grep -qE '^(wine: Unhandled |Unhandled exception: )' "$errors"; then
    echo "wine-run: ${program##*/} faulted (Wine's debugger ended it with status 0); counted as a failure" >&2
    status=$WINE_RUN_FAULT_STATUS
    how="a fault"
fi
case $status in
0 | 77) exit "$status" ;;
esac

{
    echo "wine-run: ${program##*/} ended with status $status (${how:-$(describe_wine_status "$status")})"
    echo "wine-run: running it once more, for the diagnosis only:"
    diagnosis=0
    timeout 300 "$loader" "$@" </dev/null >"$prefix.diagnosis.$$" 2>&1 ||
        diagnosis=$?
    tail -n 200 "$prefix.diagnosis.$$" | sed 's/^/wine-run|  /'
    rm -f "$prefix.diagnosis.$$"
    echo "wine-run: the diagnostic run ended with status $diagnosis; the result is the first run's, $status"
} >&2
exit "$status"
