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

# Some virtual machines run only 64-bit code; Wine's 32-bit loader then cannot start.
can_run_32bit() {
    [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1
}

# Wine's error channel only: what a program that runs with it prints when Wine fails it (a DLL
# that does not load or initialise, an address it cannot map), and hardly anything else.
WINE_ERRORS_ONLY=err+all,fixme-all

# Prints the preloaders missing for the loaders this machine can run. Without its preloader a Wine
# process fails to start now and then (see scripts/setup.sh).
missing_preloaders() {
    [ -x "$WINE64-preloader" ] || echo "$WINE64-preloader"
    if can_run_32bit && [ ! -x "$WINE32-preloader" ]; then echo "$WINE32-preloader"; fi
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
