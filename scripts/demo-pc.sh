# The demo's broken PC and its bank, shared by scripts/demo.sh and the developer host's browser
# suite. Sourced; the caller sets root, out (the run's folder), build (the preset's build folder)
# and has scripts/wine-common.sh sourced. Sets template, prefix, server_dir, bank_host,
# guard_service, bank_files, document_url. demo_template names another pristine prefix to copy.

template=${demo_template:-$out/template}
prefix=$out/prefix
server_dir=$out/server
bank_host=ebank.velmora-bank.test
guard_service=VelmoraDemoGuard
bank_files=$build/demo/bank

# Stops the bank and the prefix's wineserver and display, whatever state they are in.
demo_pc_stop() {
    bash "$root/tests/fixtures/net/servers.sh" stop "$server_dir" >/dev/null 2>&1 || true
    [ -d "$prefix" ] && bash "$root/scripts/wine-env.sh" stop "$prefix" >/dev/null 2>&1 || true
}

# The demo PC starts: its wineserver, display and services, and this shell's Wine environment.
demo_pc_start() {
    bash "$root/scripts/wine-env.sh" start "$prefix" >/dev/null
    wine_environment "$prefix"
}

# A fresh copy of the pristine prefix (made once), so that every run starts from the same PC.
demo_pc_fresh() {
    if [ ! -f "$template.complete" ]; then
        echo "making the pristine prefix once (wineboot -i): $template"
        rm -rf "$template"
        bash "$root/scripts/wine-env.sh" start "$template" >/dev/null
        bash "$root/scripts/wine-env.sh" stop "$template" >/dev/null
        touch "$template.complete"
    fi
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
}

demo_bank_start() {
    bash "$root/tests/fixtures/net/servers.sh" --server "$root/demo/bank_server.py" \
        --root-name "Velmora Demo Bank Root" start "$server_dir" --root "$root/demo/bank" --root "$bank_files"
    document_url=https://localhost:$(sed -n 's/^https_port=//p' "$server_dir/state.txt")/EBANK/ocx/item.xml
}

# Puts the PC out of order the way customers' PCs are, and starts it again (its service manager
# then reads the guard's start type anew and leaves it stopped). The bank must be running.
demo_pc_break() {
    demo_pc_start
    local hosts=$prefix/drive_c/windows/system32/drivers/etc/hosts
    printf '203.0.113.66\t%s\r\n' "$bank_host" >>"$hosts"
    echo "hosts file: $bank_host sent to 203.0.113.66"
    echo "trusted sites: none (a fresh PC has none)"
    echo "CA certificates: the bank CA's certificates are missing (a fresh PC lacks them)"
    echo "security control: not installed"
    "$WINE64" "$bank_files/EBANK/ocx/GuardDemo_1.0.0.1.exe" /S
    "$WINE64" sc stop "$guard_service" >/dev/null
    echo "guard service: installed, then stopped and set to start on demand"
    python3 "$root/demo/prefix_registry.py" "$server_dir/root.der" "$guard_service" >"$out/break.reg"
    "$WINE64" regedit /S "Z:$out/break.reg"
    echo "pop-up blocker: switched on (PopupMgr = yes, the bank needs no)"
    echo "the demo bank's root certificate: trusted, so that the PC can reach the bank over https"
    bash "$root/scripts/wine-env.sh" stop "$prefix" >/dev/null
    demo_pc_start
}
