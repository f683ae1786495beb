#!/usr/bin/env python3
"""Runs one helper as a host would and holds it to its output contract: exit
status 0, nothing on standard error, and on standard output exactly one line,
ended by its line feed, holding one JSON object. Used by the macOS workflow.

    strict_run.py RESULT.json -- COMMAND [ARGUMENT ...]

Writes {"result": <the object>, "seconds": <wall time of the run>} to
RESULT.json for later checks, prints the line and the time, and exits 1 on any
breach of the contract.
"""

import json
import subprocess
import sys
import time


def main(argv):
    if len(argv) < 4 or argv[2] != "--":
        print("usage: strict_run.py RESULT.json -- COMMAND [ARGUMENT ...]", file=sys.stderr)
        return 2
    started = time.monotonic()
    run = subprocess.run(argv[3:], stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    seconds = time.monotonic() - started
    out = run.stdout.decode("utf-8", "replace")
    print(f"{' '.join(argv[3:])}: status {run.returncode} after {seconds:.2f} s\n{out}", end="")
    problems = []
    if run.returncode != 0:
        problems.append(f"exit status {run.returncode}")
    if run.stderr:
        problems.append(f"{len(run.stderr)} bytes on standard error: {run.stderr[:300]!r}")
    if not run.stdout.endswith(b"\n") or run.stdout.count(b"\n") != 1:
        problems.append(f"standard output is not exactly one line ended by a line feed: {run.stdout[:300]!r}")
    try:
        result = json.loads(run.stdout)
        if not isinstance(result, dict):
            problems.append("the line is not a JSON object")
    except ValueError as error:
        result = None
        problems.append(f"the line is not JSON: {error}")
    with open(argv[1], "w") as f:
        json.dump({"result": result, "seconds": seconds}, f)
    for problem in problems:
        print(f"::error::{argv[3]}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
