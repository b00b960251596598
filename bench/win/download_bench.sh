#!/usr/bin/env bash
# Download rate of the HTTP agent under Wine against curl, same loopback server, same run:
#   bench/win/download_bench.sh [build-dir (default build/win64)] [size-MB (default 256)] [runs (default 3)]
# Prints each run, the best MB/s of each client, their ratio, and the peak memory of the
# downloading processes (the agent's own counters under Wine; curl's maximum resident size). A bare
# WinHTTP read loop under Wine is measured as well: it is the ceiling any client on WinHTTP can reach
# here, so it separates the agent's own cost from the platform's.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
size_mb=${2:-256}
runs=${3:-3}
exe=$build/bench/win/download_bench.exe
prefix=$build/../wineprefix
[ -f "$exe" ] || { echo "missing $exe: cmake --build --preset win64 --target download_bench" >&2; exit 1; }

work=$(mktemp -d)
servers=$root/tests/fixtures/net/servers.sh
cleanup() {
    bash "$servers" stop "$work/server" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/files" "$work/server"
head -c $((size_mb * 1048576)) /dev/urandom >"$work/files/payload.bin"
bash "$servers" start "$work/server" "$work/files" >/dev/null
port=$(sed -n 's/^http_port=//p' "$work/server/state.txt")
url=http://127.0.0.1:$port/file/payload.bin
expected=$(stat -c %s "$work/files/payload.bin")

best_curl=0
best_agent=0
best_bare=0
curl_rss=0
agent_peak=""
for run in $(seq "$runs"); do
    out=$(/usr/bin/time -f "rss_kb=%M" curl -s -o "$work/curl.bin" -w "speed=%{speed_download}\n" "$url" 2>&1)
    speed=$(sed -n 's/^speed=//p' <<<"$out")
    rss=$(sed -n 's/^rss_kb=//p' <<<"$out")
    mbps=$(awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }')
    [ "$(stat -c %s "$work/curl.bin")" = "$expected" ] || { echo "curl got a short file" >&2; exit 1; }
    rm -f "$work/curl.bin"
    echo "run $run curl:  $mbps MB/s, max resident $((rss / 1024)) MB"
    best_curl=$(awk -v a="$best_curl" -v b="$mbps" 'BEGIN { print (b > a ? b : a) }')
    curl_rss=$(( rss > curl_rss ? rss : curl_rss ))

    agent_line=$("$root/scripts/wine-run.sh" "$prefix" "$exe" "$url" "Z:$work/agent.bin" 2>/dev/null | tr -d '\r')
    cmp -s "$work/agent.bin" "$work/files/payload.bin" || { echo "agent file differs: $agent_line" >&2; exit 1; }
    rm -f "$work/agent.bin"
    mbps=$(sed -n 's/.*mbps=\([0-9.]*\).*/\1/p' <<<"$agent_line")
    echo "run $run agent: $mbps MB/s ($agent_line)"
    best_agent=$(awk -v a="$best_agent" -v b="$mbps" 'BEGIN { print (b > a ? b : a) }')
    line=$("$root/scripts/wine-run.sh" "$prefix" "$exe" --bare "$url" "Z:$work/bare.bin" 2>/dev/null | tr -d '\r')
    rm -f "$work/bare.bin"
    bare=$(sed -n 's/.*mbps=\([0-9.]*\).*/\1/p' <<<"$line")
    echo "run $run bare WinHTTP: $bare MB/s"
    best_bare=$(awk -v a="$best_bare" -v b="$bare" 'BEGIN { print (b > a ? b : a) }')
    agent_peak=$(sed -n 's/.*\(peak_working_set_mb=[0-9.]* peak_private_mb=[0-9.]*\).*/\1/p' <<<"$agent_line")
done

echo "file: ${size_mb} MB over loopback HTTP, best of $runs runs"
echo "curl:  $best_curl MB/s (max resident $((curl_rss / 1024)) MB)"
echo "agent: $best_agent MB/s ($agent_peak, last run)"
echo "bare WinHTTP loop: $best_bare MB/s"
awk -v a="$best_agent" -v c="$best_curl" -v b="$best_bare" \
    'BEGIN { printf "ratio agent/curl: %.2f   agent/bare WinHTTP: %.2f\n", a / c, a / b }'
