#!/usr/bin/env python3
"""Round-trip time of the developer host's synchronous command call (callc), as the page makes it:
one keep-alive connection, a POST of {"args": ["get_version", "sysversion"]} answered with the
command's result. Run inside a Wine environment (scripts/wine-common.sh's wine_environment):

    bench/win/devhost_callc_bench.py EXE [CALLS (default 2000)] [ROUNDS (default 3)]

Each round starts the host, makes 50 calls to warm up, times CALLS calls one after another, and
ends the host with the page's quit command. Prints each round's median, 90th percentile and mean
in microseconds, and the best round's median."""

import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import time


def start_host(exe):
    wine = os.environ.get("WINE64", "wine")
    host = subprocess.Popen([wine, exe], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        line = host.stdout.readline()
        if not line:
            break
        found = re.search(rb"URL: http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/", line)
        if found:
            return host, int(found.group(1)), found.group(2).decode()
    host.kill()
    raise SystemExit("the host did not print its URL")


def round_trips(port, token, calls):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    origin = "http://127.0.0.1:%d" % port
    body = json.dumps({"args": ["get_version", "sysversion"]})
    headers = {"Content-Type": "application/json", "Origin": origin}

    def call(arguments):
        connection.request("POST", "/%s/~host/callc" % token, json.dumps({"args": arguments}), headers)
        reply = connection.getresponse()
        answer = reply.read()
        if reply.status != 200 or b'"done":true' not in answer:
            raise SystemExit("unexpected answer %d %r" % (reply.status, answer[:200]))

    for _ in range(50):
        call(["get_version", "sysversion"])
    times = []
    for _ in range(calls):
        start = time.perf_counter()
        connection.request("POST", "/%s/~host/callc" % token, body, headers)
        reply = connection.getresponse()
        reply.read()
        times.append((time.perf_counter() - start) * 1e6)
        if reply.status != 200:
            raise SystemExit("unexpected status %d" % reply.status)
    call(["quit"])
    connection.close()
    return times


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    exe = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    medians = []
    for n in range(rounds):
        host, port, token = start_host(exe)
        try:
            times = sorted(round_trips(port, token, calls))
        finally:
            try:
                host.wait(timeout=30)
            except subprocess.TimeoutExpired:
                host.kill()
        median = statistics.median(times)
        medians.append(median)
        print("round %d: %d calls, median %.0f us, p90 %.0f us, mean %.0f us"
              % (n + 1, calls, median, times[int(len(times) * 0.9)], statistics.fmean(times)))
    print("best median: %.0f us" % min(medians))


if __name__ == "__main__":
    main()
