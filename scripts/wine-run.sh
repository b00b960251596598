#!/usr/bin/env bash
# Runs one Windows executable under Wine in the tests' private prefix:
#   wine-run.sh <prefix> <program.exe> [arguments...]
set -euo pipefail
prefix=${1:?prefix}
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$prefix/.velmora-display" ]; then
    DISPLAY=$(cat "$prefix/.velmora-display")
    export DISPLAY
fi
exec wine "$@"
