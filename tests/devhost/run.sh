#!/usr/bin/env bash
# The developer host end to end: the demo's broken PC (a fresh copy of the pristine prefix) and the
# demo bank, the host copied into the prefix, then tests/devhost/e2e.js in headless Chromium.
# Screenshots and the host's output go to build/devhost-e2e/artifacts.
#   tests/devhost/run.sh BUILD_DIR      (the win32 or the win64 build)
set -eEuo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$1" && pwd)
cd "$root"
# shellcheck source=scripts/wine-common.sh
. scripts/wine-common.sh
# A 32-bit build's host runs where 32-bit code can (the emulator's namespace if it must).
needs_32bit_namespace && exec_with_32bit_side bash "$root/tests/devhost/run.sh" "$build"
out=$root/build/devhost-e2e
# The demo's pristine prefix serves both (the tests that use it take the demo_pc lock).
demo_template=$root/build/demo/template
# shellcheck source=scripts/demo-pc.sh
. scripts/demo-pc.sh

modules=$(bash scripts/page-deps.sh)
trap demo_pc_stop EXIT
trap 'echo "developer host end to end: a step failed at line $LINENO: $BASH_COMMAND" >&2' ERR

rm -rf "$out/artifacts"
mkdir -p "$out/artifacts"
demo_pc_fresh
demo_bank_start
demo_pc_break
host_dir=$prefix/drive_c/devhost
mkdir -p "$host_dir"
cp "$build/src/app/VelmoraDevHost.exe" "$host_dir/"

DEVHOST_EXE=$host_dir/VelmoraDevHost.exe DOCUMENT_URL=$document_url ARTIFACTS=$out/artifacts WINE64=$WINE64 \
    WINEDEBUG=$WINE_ERRORS_ONLY NODE_PATH=$modules node tests/devhost/e2e.js </dev/null
