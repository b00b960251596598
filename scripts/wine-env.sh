#!/usr/bin/env bash
# Starts or stops the Wine environment of one test run: the private prefix (created on first use),
# a persistent wineserver, and an Xvfb display for tests that open windows.
#   wine-env.sh start <prefix>     wine-env.sh stop <prefix>
# Only processes this script started are stopped, and only through their recorded ids or the
# prefix's own wineserver.
set -eEuo pipefail
# A failure says where: CTest shows this script's output only.
trap 'echo "wine-env.sh: failed (status $?) at line $LINENO: $BASH_COMMAND" >&2' ERR

action=${1:?start or stop}
prefix=${2:?prefix}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

# shellcheck source=scripts/wine-common.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"
# The prefix is made, and its wineserver runs, where 32-bit programs can start.
needs_32bit_namespace && exec_with_32bit_side bash "${BASH_SOURCE[0]}" "$action" "$prefix"
wine_environment "$prefix"
display_file=$prefix/.velmora-display
xvfb_pid_file=$prefix/.velmora-xvfb.pid

start_xvfb() {
    if [ -f "$xvfb_pid_file" ] && kill -0 "$(cat "$xvfb_pid_file")" 2>/dev/null; then
        return
    fi
    command -v Xvfb >/dev/null || { echo "Xvfb missing: run scripts/setup.sh" >&2; return 1; }
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    echo $! >"$xvfb_pid_file"
    local number
    read -r -t 20 number <"$fifo" || { rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; }
    rm -f "$fifo"
    echo ":$number" >"$display_file"
}

stop_xvfb() {
    [ -f "$xvfb_pid_file" ] || return 0
    local pid
    pid=$(cat "$xvfb_pid_file")
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q '^Xvfb '; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -f "$xvfb_pid_file" "$display_file"
}

case $action in
start)
    # A run whose processes could fail to start at random is refused at once instead.
    missing=$(missing_preloaders)
    if [ -n "$missing" ]; then
        echo "Wine's preloader is missing ($(echo $missing)): run scripts/setup.sh" >&2
        exit 1
    fi
    (
        # One creator at a time; a second run waits and then finds the prefix ready.
        flock 9
        # A prefix made while 32-bit programs could not start has an empty syswow64, and every
        # 32-bit program fails in it (c0000135): it is made anew once they can.
        if [ -f "$prefix/system.reg" ] && can_run_32bit &&
            [ -z "$(ls -A "$prefix/drive_c/windows/syswow64" 2>/dev/null)" ]; then
            echo "the prefix has no 32-bit system files: making it anew"
            "$WINESERVER" -k 2>/dev/null || true
            "$WINESERVER" -w 2>/dev/null || true
            find "$prefix" -mindepth 1 -maxdepth 1 ! -name '.velmora-*' -exec rm -rf {} +
        fi
        if [ ! -f "$prefix/system.reg" ]; then
            echo "creating Wine prefix $prefix"
            "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
            "$WINESERVER" -w
        fi
    ) 9>"$prefix.lock"
    start_xvfb
    export DISPLAY
    DISPLAY=$(cat "$display_file")
    # Exit status 2: a wineserver of this prefix runs already (a run that was killed before its
    # stop, or a program of the prefix still running); it serves this run as well.
    server_status=0
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || server_status=$?
    case $server_status in
    0) ;;
    2) echo "note: a wineserver of this prefix was already running; this run uses it" ;;
    *)
        echo "wineserver -p failed with status $server_status" >&2
        exit 1
        ;;
    esac
    # Bring up the prefix's own services now, detached from CTest's output pipes, so that test
    # processes find them running. A program that crashes gets its backtrace printed by Wine's
    # debugger and ends; with a display the debugger would wait for a click on its crash dialog,
    # and the test would hang until its time-out.
    "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1 || true
    case $(thirty_two_bit_mode) in
    native) side="32-bit programs run natively" ;;
    emulated) can_run_32bit && side="32-bit programs run under qemu-i386" ||
        side="32-bit programs cannot run (qemu-i386 not registered); 32-bit tests will be skipped" ;;
    *) side="this machine cannot execute 32-bit code and has no qemu-i386 (scripts/setup.sh); 32-bit tests will be skipped" ;;
    esac
    echo "wine ready: prefix $prefix, display $DISPLAY; $side"
    ;;
stop)
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    stop_xvfb
    echo "wine stopped: prefix $prefix"
    ;;
*)
    echo "usage: $0 start|stop <prefix>" >&2
    exit 2
    ;;
esac
