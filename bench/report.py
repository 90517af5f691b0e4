"""Reading Google Benchmark JSON reports for bench/run.sh."""
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(path):
    """The median aggregate of every case in a report, by run name, and the
    error messages of the cases that failed."""
    with open(path) as f:
        runs = json.load(f).get("benchmarks", [])
    found, errors = {}, {}
    for r in runs:
        name = r.get("run_name", r["name"])
        if r.get("error_occurred"):
            errors[name] = r.get("error_message", "error")
        elif r.get("run_type") == "aggregate" and r.get("aggregate_name") == "median":
            found[name] = r
    return found, errors


def require(found, errors, names):
    """Stops with the reason for every wanted case that has no median."""
    missing = [k for k in names if k not in found]
    for k in missing:
        print("bench: %s: %s" % (k, errors.get(k, "no result")), file=sys.stderr)
    if missing:
        sys.exit(1)


def cpu(run, unit):
    """The CPU time of a run in the given unit ("ns", "us", "ms" or "s")."""
    return run["cpu_time"] * UNIT_NS[run["time_unit"]] / UNIT_NS[unit]
