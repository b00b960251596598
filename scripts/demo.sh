#!/usr/bin/env bash
# The assistant at work on a broken Windows PC: a Wine prefix of its own (build/demo/prefix) is put
# out of order the way customers' PCs are, the demo bank (demo/bank_server.py) serves its check
# document on localhost, and VelmoraCheck.exe checks the PC, repairs it and checks it again; then it
# updates the installed assistant to the newer version the bank offers. The before/after table is
# printed and written, with the JSON reports, to build/demo/.
#
#   bash scripts/demo.sh
#
# Makes the machine ready first when it is not (scripts/setup.sh) and builds what it needs: the
# win32 preset where this machine can execute 32-bit code, else win64 (VELMORA_DEMO_PRESET=win32
# or win64 chooses instead). The pristine prefix is made once (build/demo/template) and copied
# afresh for each run, so every run starts from the same broken PC. Everything it starts (the bank
# server, the prefix's wineserver, Xvfb) it stops again by recorded process id, also when a step
# fails. Exit status: VelmoraCheck /fix's (0 nothing left to repair, 1 something still to repair, 2
# no check document, ...), else that of the update (1: not installed); 1 when a step before them
# failed, 4 for a wrong VELMORA_DEMO_PRESET.
set -eEuo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=scripts/wine-common.sh
. scripts/wine-common.sh

out=$root/build/demo

say() { printf '\n== %s\n' "$*"; }

# The tools the demo's build and run need; anything missing is set-up's to install.
machine_ready() {
    local arch=$1 tool
    for tool in cmake ninja "$arch-w64-mingw32-g++-posix" makensis Xvfb python3 openssl; do
        command -v "$tool" >/dev/null || return 1
    done
    [ -x "$WINE64" ] && [ -z "$(missing_preloaders)" ] && [ -f "$QEMU_I386_DIR/.complete" ] || return 1
    compgen -G "${VELMORA_DEPS:-/opt/velmora-deps}/openssl-*-$arch/.complete" >/dev/null
}

preset=win64
arch=x86_64
case ${VELMORA_DEMO_PRESET:-} in
win64) echo "the demo runs the 64-bit build (win64), as VELMORA_DEMO_PRESET says" ;;
win32)
    preset=win32
    arch=i686
    # Said once, before the demo enters the emulator's namespace.
    [ -n "${VELMORA_DEMO_NAMESPACE:-}" ] || echo "the demo runs the shipped 32-bit build (win32), as VELMORA_DEMO_PRESET says"
    ;;
"")
    if [ "$(thirty_two_bit_mode)" != none ]; then
        preset=win32
        arch=i686
        echo "this machine $(describe_32bit_side): the demo runs the shipped 32-bit build (win32)"
    else
        echo "this machine cannot execute 32-bit code: the demo runs the 64-bit build (win64)"
    fi
    ;;
*)
    echo "VELMORA_DEMO_PRESET must be win32 or win64, not \"$VELMORA_DEMO_PRESET\"" >&2
    exit 4
    ;;
esac
if ! machine_ready "$arch"; then
    say "making the machine ready (scripts/setup.sh)"
    bash scripts/setup.sh
    # The 32-bit loader or the emulator may have arrived with it.
    if [ $preset = win64 ] && [ -z "${VELMORA_DEMO_PRESET:-}" ] && [ "$(thirty_two_bit_mode)" != none ]; then
        preset=win32
        arch=i686
        echo "this machine now $(describe_32bit_side): the demo runs the 32-bit build (win32)"
    fi
fi
# Where 32-bit code needs the emulator, the rest of the demo runs in its namespace.
if [ $preset = win32 ] && needs_32bit_namespace; then
    exec_with_32bit_side env VELMORA_DEMO_PRESET=win32 VELMORA_DEMO_NAMESPACE=1 bash "$root/scripts/demo.sh" "$@"
fi

build=$root/build/$preset
# shellcheck source=scripts/demo-pc.sh
. scripts/demo-pc.sh
say "building VelmoraCheck.exe, the setup program and the demo bank ($preset)"
[ -f "$build/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build "$build" --target VelmoraCheck velmora_setup velmora_demo_bank
check_exe=$build/src/app/VelmoraCheck.exe
setup_exe=$build/src/installer/VelmoraAssistantSetup.exe

# From here on everything started is stopped on the way out, whatever happens.
trap demo_pc_stop EXIT
trap 'echo "demo: stopped, a step failed at line $LINENO: $BASH_COMMAND" >&2' ERR

say "a fresh copy of the pristine PC"
demo_pc_fresh
rm -f "$out/report.json" "$out/report.html" "$out/update.json"

say "starting the demo bank"
demo_bank_start

say "breaking the PC"
demo_pc_break

# The customer has this version of the assistant installed; support staff put the command beside
# it. Its downloads and log stay on the PC with it, so every run starts without them.
"$WINE64" "$setup_exe" /S
# The 32-bit setup program installs into the 32-bit Program Files folder of this 64-bit PC.
program_files="Program Files"
[ $preset = win64 ] || program_files="Program Files (x86)"
installed="$prefix/drive_c/$program_files/网银助手"
cp "$check_exe" "$installed/"
assistant_version() {
    python3 -c 'import sys; sys.path.insert(0, "demo"); import bank_server; print(bank_server.file_version(sys.argv[1]))' \
        "$installed/VelmoraAssistant.exe"
}
version_before=$(assistant_version)
echo "assistant: version $version_before installed"
say "VelmoraCheck.exe /fix /config $document_url"
status=0
"$WINE64" "$installed/VelmoraCheck.exe" /fix /config "$document_url" /report "Z:$out/report.json" || status=$?

say "VelmoraCheck.exe /update /yes /config $document_url"
update_status=0
"$WINE64" "$installed/VelmoraCheck.exe" /update /yes /config "$document_url" /report "Z:$out/update.json" ||
    update_status=$?
[ "$status" -ne 0 ] || status=$update_status

say "before and after"
if [ -f "$out/report.json" ]; then
    python3 demo/report.py "$out/report.json" "$out/report.html"
    echo "report: $out/report.json, $out/report.html"
else
    echo "VelmoraCheck.exe wrote no report (exit status $status)"
fi
echo "assistant: version $version_before before, $(assistant_version) after (update report: $out/update.json)"
echo "bank requests: $(wc -l <"$server_dir/requests.log") (log $server_dir/requests.log)"
exit "$status"
