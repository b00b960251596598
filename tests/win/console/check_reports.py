#!/usr/bin/env python3
"""Checks the reports the command-line test wrote: check.json (a check), fix.json (check, repairs,
check again) and clean.json. Each must parse as JSON, and every check round must hold one record per
check the page runs, in the page's order, with the component the customer has and no key driver."""

import json
import os
import sys

FIXED = ["cache", "registry", "host", "cfca", "iehomepage", "compatibility", "trust", "connection", "url",
         "dns", "firewall", "winupdate", "proxy"]
STATES = {"ok", "repair", "warning"}


def check_round(name, results):
    types = [r.get("type") for r in results if "type" in r]
    assert types == FIXED, f"{name}: check types {types}"
    items = [r for r in results if "index" in r]
    assert [r["index"] for r in items] == [0], f"{name}: components {items}"
    for record in results:
        assert record["state"] in STATES, f"{name}: state of {record}"
        assert isinstance(record["duration_ms"], int) and record["duration_ms"] >= 0, record
        assert record["answer"] is None or isinstance(record["answer"], str), record
        assert isinstance(record["name"], str) and record["name"], record
    assert items[0]["status"] in range(4), items[0]


def main(folder):
    if not os.path.isdir(folder):
        # The tier's Wine tests were skipped (the machine cannot execute its code): nothing was written.
        print(f"no reports in {folder}: the command-line test did not run")
        return 77
    expected = {"check.json": ("check", ["check"], 1), "fix.json": ("fix", ["check", "fix", "recheck"], 1),
                "clean.json": ("check", ["check"], 0)}
    for file, (mode, phases, exit_code) in expected.items():
        with open(os.path.join(folder, file), encoding="utf-8") as source:
            report = json.load(source)
        assert report["program"] == "VelmoraCheck" and report["mode"] == mode, (file, report["mode"])
        assert report["exit_code"] == exit_code, (file, report["exit_code"])
        assert [r["phase"] for r in report["rounds"]] == phases, (file, report["rounds"])
        for round_ in report["rounds"]:
            if round_["phase"] == "fix":
                assert all(r["action"] for r in round_["results"]), round_
                assert "cache" in [r.get("type") for r in round_["results"]], "the cache is always cleared"
            else:
                check_round(file, round_["results"])
        host = [r for r in report["rounds"][0]["results"] if r.get("type") == "host"][0]
        assert host["state"] == ("ok" if file == "clean.json" else "repair"), (file, host)
        assert host["text"] == ("正常" if file == "clean.json" else "异常"), (file, host)
    print(f"reports in {folder}: valid")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
