#!/usr/bin/env bash
# THE test command: makes the machine ready (scripts/setup.sh), builds every configuration and
# runs every test tier: host unit tests (plain and with ASan+UBSan), the same tests and the Win32
# tests built by MinGW for i686 and x86_64 and run under Wine, the fuzzers for a bounded time, and
# the page tests in headless Chromium. Ends with "N passed, N failed".
#
# Environment: VELMORA_FUZZ_SECONDS (default 60 per fuzzer), VELMORA_SKIP_SETUP=1 to skip set-up.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
fuzz_seconds=${VELMORA_FUZZ_SECONDS:-60}
passed=0
failed=0
skipped=0
failures=()
timings=()

note() { printf '\n=== %s\n' "$*"; }

record() { # name status seconds
    timings+=("$(printf '%-22s %4ss  %s' "$1" "$3" "$([ "$2" -eq 0 ] && echo ok || echo FAILED)")")
    [ "$2" -eq 0 ] || failures+=("$1")
}

# Adds the counts from a CTest summary line ("NN% tests passed, F tests failed out of T").
count_ctest() {
    local line total bad
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    local skips
    skips=$(grep -c -E '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$1" || true)
    passed=$((passed + total - bad - skips))
    failed=$((failed + bad))
    skipped=$((skipped + skips))
}

run_preset() { # preset
    local preset=$1 start status log
    start=$SECONDS
    log=$(mktemp)
    note "$preset: configure, build, test"
    if cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1; then
        (
            # A Windows tier runs whole in one namespace where 32-bit code needs the emulator.
            case $preset in
            win*) . scripts/wine-common.sh && exec_with_32bit_side ctest --preset "$preset" ;;
            *) exec ctest --preset "$preset" ;;
            esac
        ) 2>&1 | tee -a "$log"
        status=${PIPESTATUS[0]}
        count_ctest "$log"
    else
        tail -n 60 "$log"
        status=1
        failed=$((failed + 1))
    fi
    rm -f "$log"
    record "$preset" "$status" $((SECONDS - start))
}

run_fuzzers() {
    local start=$SECONDS status=0 log
    log=$(mktemp)
    note "fuzz: ${fuzz_seconds}s per target"
    if ! { cmake --preset fuzz >"$log" 2>&1 && cmake --build --preset fuzz >>"$log" 2>&1; }; then
        tail -n 60 "$log"
        failed=$((failed + 1))
        record fuzz 1 $((SECONDS - start))
        return
    fi
    local target corpus work
    for target in build/fuzz/tests/fuzz/*_fuzz; do
        local name=${target##*/}
        corpus=tests/fuzz/corpus/${name%_fuzz}
        work=build/fuzz/corpus-${name%_fuzz}
        mkdir -p "$work"
        if "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$work" "$corpus" >"$log" 2>&1; then
            passed=$((passed + 1))
            echo "$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') executions, no crash"
        else
            failed=$((failed + 1))
            status=1
            tail -n 40 "$log"
        fi
    done
    rm -f "$log"
    record fuzz "$status" $((SECONDS - start))
}

run_page_tests() {
    [ -f tests/page/run.sh ] || return 0
    local start=$SECONDS log status line
    log=$(mktemp)
    note "page: headless Chromium"
    bash tests/page/run.sh 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
    if [ -n "$line" ]; then
        passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
        failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
    fi
    [ "$status" -eq 0 ] || [ -n "$line" ] || failed=$((failed + 1))
    rm -f "$log"
    record page "$status" $((SECONDS - start))
}

total_start=$SECONDS
if [ "${VELMORA_SKIP_SETUP:-0}" != 1 ]; then
    note "set-up"
    start=$SECONDS
    bash scripts/setup.sh
    record setup $? $((SECONDS - start))
    [ ${#failures[@]} -eq 0 ] || { echo "set-up failed"; echo "0 passed, 1 failed"; exit 1; }
fi

for preset in host host-debug win32 win64; do
    run_preset "$preset"
done
run_fuzzers
run_page_tests

note "summary ($((SECONDS - total_start))s)"
printf '%s\n' "${timings[@]}"
[ ${#failures[@]} -eq 0 ] || echo "failed tiers: ${failures[*]}"
echo "$passed passed, $failed failed, $skipped skipped"
[ ${#failures[@]} -eq 0 ] && [ "$failed" -eq 0 ]
