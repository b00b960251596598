# Shared by the Wine scripts: environment of the private prefix, loaders, machine checks.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER_BIN=/usr/lib/wine/wineserver64

wine_environment() { # prefix
    export WINEPREFIX=$1 WINEARCH=win64 WINELOADER=$WINE64 WINESERVER=$WINESERVER_BIN
    # VELMORA_DLLOVERRIDES adds a test's own load-order choices.
    export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=${VELMORA_DLLOVERRIDES:+;$VELMORA_DLLOVERRIDES}"
    if [ -f "$1/.velmora-display" ]; then
        DISPLAY=$(cat "$1/.velmora-display")
        export DISPLAY
    fi
}

# Machine type of a PE file: i386, x86_64 or unknown.
pe_machine() {
    local offset machine
    offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' ')
    case $machine in
    014c) echo i386 ;;
    8664) echo x86_64 ;;
    *) echo unknown ;;
    esac
}

# Wine's 32-bit side needs a kernel that executes 32-bit code. Some virtual machines run only
# 64-bit code; there qemu's user-mode emulator runs it (set-up fetches a static qemu-i386): inside a
# user and mount namespace of its own, a private binfmt_misc hands every i386 ELF program to it.
# Nothing outside that process tree changes, and nothing is left behind when it ends.
QEMU_I386_DIR=${VELMORA_DEPS:-/opt/velmora-deps}/qemu-user

# True where Wine's 32-bit loader starts: natively, or inside the emulator's namespace.
can_run_32bit() {
    [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1
}

# How this machine runs 32-bit code: native, emulated (qemu-i386 in a namespace) or none.
# VELMORA_32BIT=emulated takes the emulator even where the kernel could run the code itself.
thirty_two_bit_mode() {
    if [ -n "${VELMORA_32BIT_NAMESPACE:-}" ]; then
        echo emulated
    elif [ "${VELMORA_32BIT:-}" != emulated ] && can_run_32bit; then
        echo native
    elif [ -x "$WINE32" ] && [ -f "$QEMU_I386_DIR/.complete" ] &&
        unshare --user --map-root-user --mount true 2>/dev/null; then
        echo emulated
    else
        echo none
    fi
}

# How 32-bit code runs here, in words: "executes 32-bit code", "runs 32-bit code under qemu-i386".
describe_32bit_side() {
    case $(thirty_two_bit_mode) in
    native) echo "executes 32-bit code" ;;
    emulated) echo "runs 32-bit code under qemu-i386" ;;
    *) echo "cannot execute 32-bit code" ;;
    esac
}

# True when this shell must enter the emulator's namespace for Wine's 32-bit side to run. A script
# that starts Wine re-runs itself there first:  needs_32bit_namespace && exec_with_32bit_side bash "$0" "$@"
needs_32bit_namespace() {
    [ -z "${VELMORA_32BIT_NAMESPACE:-}" ] && [ "$(thirty_two_bit_mode)" = emulated ]
}

# Runs the command where Wine's 32-bit side works: as it is where the kernel executes 32-bit code
# (or inside the namespace already), else in the emulator's namespace. Replaces the shell either
# way. Where no namespace can be had (user namespaces switched off) the command runs as it is; where
# binfmt_misc cannot be mounted in one (kernels before 6.7) it says why. 32-bit tests then skip.
exec_with_32bit_side() { # command [arguments...]
    needs_32bit_namespace || exec "$@"
    local magic mask
    IFS=: read -r _ _ _ _ magic mask _ <"$QEMU_I386_DIR/qemu-i386.conf"
    # F: the emulator is opened now, so the registration holds in every mount namespace below.
    local rule=":velmora-i386:M::$magic:$mask:$QEMU_I386_DIR/qemu-i386:F"
    # shellcheck disable=SC2016
    exec unshare --user --map-root-user --mount -- env VELMORA_32BIT_NAMESPACE=1 bash -c '
        rule=$1; shift
        if ! why=$({ mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
            printf "%s" "$rule" >/proc/sys/fs/binfmt_misc/register; } 2>&1); then
            echo "note: qemu-i386 could not be registered ($why); 32-bit programs cannot run" >&2
        fi
        exec "$@"' velmora-32bit "$rule" "$@"
}

# Wine's error channel only: what a program that runs with it prints when Wine fails it (a DLL
# that does not load or initialise, an address it cannot map), and hardly anything else.
WINE_ERRORS_ONLY=err+all,fixme-all

# Prints the preloaders missing for the loaders this machine can run. Without its preloader a Wine
# process fails to start now and then (see scripts/setup.sh).
missing_preloaders() {
    [ -x "$WINE64-preloader" ] || echo "$WINE64-preloader"
    if [ "$(thirty_two_bit_mode)" != none ] && [ ! -x "$WINE32-preloader" ]; then echo "$WINE32-preloader"; fi
}

# What a loader's exit status says. Linux keeps the low byte of the Windows exit code: a crash
# ends with the low byte of its exception code (0xC0000005 -> 5), a process the loader could not
# start with that of its failure status (0xC0000135, a missing DLL -> 53).
describe_wine_status() { # status
    case $1 in
    126 | 127) echo "the Wine loader itself could not be executed" ;;
    1[3-9][0-9] | 2[0-5][0-9]) echo "the Wine loader was killed by signal $(($1 - 128))" ;;
    *) echo "exit code of the Windows process, low byte $(printf '0x%02X' "$1")" ;;
    esac
}
