#!/usr/bin/env python3
"""The demo end to end: runs scripts/demo.sh and checks what its report says it found and repaired.

    demo_run.py SOURCE_DIR [MISSING_CERTIFICATE ...]

MISSING_CERTIFICATE: carried certificates the build has no file for; the CA check then stays out
of order after the repair, since the program cannot install what it does not carry.
"""

import json
import os
import subprocess
import sys

# What the demo PC shows before and after the repair, per check (type or component index). None:
# not asserted (the state depends on the machine, not on the program).
EXPECTED = [
    ("registry", "repair", "ok"),    # the pop-up blocker switched on
    ("host", "repair", "ok"),        # a bank name sent elsewhere
    ("cfca", "repair", "ok"),        # the CA's certificates missing
    ("trust", "repair", None),       # no trusted site; Wine cannot map a site to a zone
    ("url", "ok", "ok"),             # the demo bank answers
    ("iehomepage", "ok", "ok"),
    (0, "repair", "ok"),             # the security control missing
    (1, "repair", "ok"),             # the guard service stopped
]


def records(report, phase):
    for round_ in report["rounds"]:
        if round_["phase"] == phase:
            return {r.get("type", r.get("index")): r for r in round_["results"]}
    raise AssertionError(f"no {phase} round in the report")


def main(argv):
    source, missing = argv[1], argv[2:]
    report_path = os.path.join(source, "build", "demo", "report.json")
    if os.path.exists(report_path):
        os.remove(report_path)
    environment = dict(os.environ, VELMORA_DEMO_PRESET="win64")
    status = subprocess.run(["bash", os.path.join(source, "scripts", "demo.sh")], env=environment).returncode
    with open(report_path, encoding="utf-8") as file:
        report = json.load(file)

    before, after = records(report, "check"), records(report, "recheck")
    failures = []
    for key, wanted_before, wanted_after in EXPECTED:
        if key == "cfca" and missing:
            wanted_after = "repair"
        for phase, table, wanted in (("before", before, wanted_before), ("after", after, wanted_after)):
            got = table.get(key, {}).get("state")
            if wanted is not None and got != wanted:
                failures.append(f"{key} {phase}: {got}, expected {wanted}")
    fixed = records(report, "fix")
    for key in ("registry", "host", "cfca", 0, 1):
        if key not in fixed:
            failures.append(f"{key}: not repaired")
    still_to_repair = any(r["state"] == "repair" for r in after.values())
    if report["exit_code"] != status or status != (1 if still_to_repair else 0):
        failures.append(f"exit status {status}, report {report['exit_code']}, still to repair: {still_to_repair}")
    for failure in failures:
        print("FAILED:", failure)
    print(f"demo report: {len(EXPECTED)} checks compared, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
