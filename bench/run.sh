#!/usr/bin/env bash
# Runs the benchmarks of a build; builds nothing.
#
#   bench/run.sh [BIN_DIR] [BENCHMARK_FLAGS...]
#
# BIN_DIR defaults to build/bin. First the Lua VM comparison: every case of
# bench_vm_stock and bench_vm_kestrane, the two run alternately case by
# case so that machine load drifts over both alike, three repetitions each,
# then a table of the medians with the kestrane/stock ratio per case and
# their geometric mean over the cases that run Lua code (the compiler case
# is listed but left out of it). BENCHMARK_FLAGS (for instance
# --benchmark_min_time=1, or --benchmark_filter=REGEX to compare only some
# cases) go to both VM benchmarks. Then kod against lua-cjson: kod_bench
# with its cases interleaved at random, five repetitions, and a table of the
# medians with the kod/cjson ratio for writing and reading (the flags other
# than the filter go to it too; without the lua-cjson package only the kod
# times are shown). Then every other bench_* or *_bench executable of
# BIN_DIR runs with its own output.
#
# Exits non-zero when a benchmark is missing or fails, or when the two
# cores compute different results; a ratio over the target is reported,
# not treated as a failure, since timings on a shared machine are noisy.
set -euo pipefail

bin=${1:-build/bin}
if [ $# -gt 0 ]; then shift; fi
# A --benchmark_filter chooses the VM cases to compare; the other flags
# are passed on.
filter=.
extra=()
for arg in "$@"; do
    case $arg in
        --benchmark_filter=*) filter=${arg#--benchmark_filter=} ;;
        *) extra+=("$arg") ;;
    esac
done

stock="$bin/bench_vm_stock"
kestrane="$bin/bench_vm_kestrane"
status=0

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

say() { printf '%s\n' "$*" >&2; }

# Runs one case of one VM benchmark into $tmp/<flavour>.<index>.json.
run_case() {
    local exe=$1 flavour=$2 index=$3 name=$4
    local out="$tmp/$flavour.$index.json"
    if ! "$exe" --benchmark_filter="^${name}\$" \
            --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
            --benchmark_format=json "${extra[@]}" >"$out" 2>"$tmp/stderr"; then
        say "bench: $flavour $name failed:"
        cat "$tmp/stderr" >&2
        return 1
    fi
}

vm_compare() {
    local exe
    for exe in "$stock" "$kestrane"; do
        if [ ! -x "$exe" ]; then
            say "bench: $exe not found (build the bench target first)"
            return 1
        fi
    done

    "$stock" --benchmark_list_tests --benchmark_filter="$filter" >"$tmp/stock.list"
    "$kestrane" --benchmark_list_tests --benchmark_filter="$filter" >"$tmp/kestrane.list"
    if ! cmp -s "$tmp/stock.list" "$tmp/kestrane.list"; then
        say "bench: bench_vm_stock and bench_vm_kestrane list different cases:"
        diff "$tmp/stock.list" "$tmp/kestrane.list" >&2 || true
        return 1
    fi
    local cases=()
    mapfile -t cases <"$tmp/stock.list"
    if [ ${#cases[@]} -eq 0 ]; then
        say "bench: no VM cases"
        return 1
    fi

    # Which of the two goes first alternates, so neither always runs on a
    # warmer (or more loaded) machine than the other.
    local i
    for i in "${!cases[@]}"; do
        say "bench: ${cases[$i]} ($((i + 1))/${#cases[@]})"
        if [ $((i % 2)) -eq 0 ]; then
            run_case "$stock" stock "$i" "${cases[$i]}" || return 1
            run_case "$kestrane" kestrane "$i" "${cases[$i]}" || return 1
        else
            run_case "$kestrane" kestrane "$i" "${cases[$i]}" || return 1
            run_case "$stock" stock "$i" "${cases[$i]}" || return 1
        fi
    done

    python3 - "$tmp" "${#cases[@]}" <<'EOF'
import json, math, sys

tmp, count = sys.argv[1], int(sys.argv[2])
TARGET = 1.03
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

def aggregates(path):
    """The aggregates of the one case in a JSON report, by aggregate name."""
    with open(path) as f:
        report = json.load(f)
    runs = report.get("benchmarks", [])
    errors = [r for r in runs if r.get("error_occurred")]
    if errors:
        raise SystemExit("bench: %s: %s" % (errors[0]["name"], errors[0].get("error_message", "error")))
    found = {r["aggregate_name"]: r for r in runs if r.get("run_type") == "aggregate"}
    if "median" not in found:
        raise SystemExit("bench: no median in %s" % path)
    return found

def ns(run):
    return run["cpu_time"] * TO_NS[run["time_unit"]]

rows, mismatches = [], []
for i in range(count):
    s = aggregates("%s/stock.%d.json" % (tmp, i))
    k = aggregates("%s/kestrane.%d.json" % (tmp, i))
    name = s["median"]["run_name"]
    s_ns, k_ns = ns(s["median"]), ns(k["median"])
    cv = max(a["cv"]["cpu_time"] if "cv" in a else 0.0 for a in (s, k))
    if s["median"].get("label") != k["median"].get("label"):
        mismatches.append("%s: stock %s, kestrane %s"
                          % (name, s["median"].get("label"), k["median"].get("label")))
    # Cases that run Lua code report the "insns" counter; the others (the
    # compiler case) do not execute instructions, so they are shown but
    # kept out of the mean that measures the preemption test.
    rows.append((name, s_ns, k_ns, k_ns / s_ns, cv, "insns" in s["median"]))

width = max(len("case"), max(len(r[0]) for r in rows))
print()
print("Lua VM: kestrane core vs stock Lua (CPU time per run, median of 3 repetitions)")
print("%-*s %15s %15s %7s %7s" % (width, "case", "stock ns", "kestrane ns", "ratio", "cv"))
for name, s_ns, k_ns, ratio, cv, runs in rows:
    flag = ("  over" if ratio > TARGET else "") if runs else "  (compile only, not in mean)"
    print("%-*s %15.0f %15.0f %7.3f %6.1f%%%s" % (width, name, s_ns, k_ns, ratio, cv * 100, flag))
ran = [r for r in rows if r[5]]
if ran:
    geo = math.exp(sum(math.log(r[3]) for r in ran) / len(ran))
    print("%-*s %15s %15s %7.3f" % (width, "geometric mean", "", "", geo))
    print("target: preemption test costs at most 3% (ratio <= 1.03)")
    print("result: %s" % ("within target" if geo <= TARGET else
                          "over target by %.1f%%" % ((geo - TARGET) * 100)))
print("(cv: the larger coefficient of variation of the two medians' repetitions)")
if mismatches:
    print("bench: the two cores computed different results:", file=sys.stderr)
    for m in mismatches:
        print("  " + m, file=sys.stderr)
    sys.exit(1)
EOF
}

if ! vm_compare; then
    status=1
fi

# kod writing and reading against lua-cjson on the same data.
kod_compare() {
    local exe="$bin/kod_bench"
    if [ ! -x "$exe" ]; then
        say "bench: $exe not found (build the bench target first)"
        return 1
    fi
    say "bench: kod_bench"
    if ! "$exe" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
            --benchmark_report_aggregates_only=true --benchmark_format=json \
            "${extra[@]}" >"$tmp/kod.json" 2>"$tmp/stderr"; then
        say "bench: kod_bench failed:"
        cat "$tmp/stderr" >&2
        return 1
    fi

    python3 - "$tmp/kod.json" <<'EOF'
import json, sys

TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
with open(sys.argv[1]) as f:
    runs = json.load(f).get("benchmarks", [])

medians, errors = {}, {}
for r in runs:
    name = r.get("run_name", r["name"])
    if r.get("error_occurred"):
        errors[name] = r.get("error_message", "error")
    elif r.get("run_type") == "aggregate" and r.get("aggregate_name") == "median":
        medians[name] = r

def ms(name):
    return medians[name]["cpu_time"] * TO_MS[medians[name]["time_unit"]]

def mbs(name):
    return medians[name].get("bytes_per_second", 0.0) / 1e6

rows = [("write, flags 0", "BM_kod_write/flags:0", "BM_cjson_encode"),
        ("write, flags 3", "BM_kod_write/flags:3", "BM_cjson_encode"),
        ("read, flags 0", "BM_kod_read/flags:0", "BM_cjson_decode"),
        ("read, flags 3", "BM_kod_read/flags:3", "BM_cjson_decode")]
missing = [k for _, k, _ in rows if k not in medians]
if missing:
    for k in missing:
        print("bench: %s: %s" % (k, errors.get(k, "no result")), file=sys.stderr)
    sys.exit(1)
have_cjson = all(c in medians for _, _, c in rows)

print()
print("kod vs lua-cjson, same data (CPU time per call, median of 5; lower is better)")
print("%-15s %9s %9s %9s %10s %10s" % ("case", "kod ms", "cjson ms", "kod/cjson", "kod MB/s", "cjson MB/s"))
over = []
for label, k, c in rows:
    if have_cjson:
        ratio = ms(k) / ms(c)
        if ratio > 1.0:
            over.append(label)
        print("%-15s %9.2f %9.2f %9.3f %10.1f %10.1f%s" % (label, ms(k), ms(c), ratio, mbs(k), mbs(c),
                                                          "  over" if ratio > 1.0 else ""))
    else:
        print("%-15s %9.2f %9s %9s %10.1f %10s" % (label, ms(k), "-", "-", mbs(k), "-"))
print("(MB/s: bytes of the encoded text; flags 0 as data files, flags 3 (kxu + lz4) as messages)")
if have_cjson:
    print("target: kod at least as fast as cjson (ratio <= 1.00)")
    print("result: %s" % ("within target" if not over else "over target: " + ", ".join(over)))
else:
    why = next((errors[c] for _, _, c in rows if c in errors), "no result")
    print("cjson cases skipped: %s" % why)
EOF
}

if ! kod_compare; then
    status=1
fi

# Every other benchmark in the folder, run as it is.
shopt -s nullglob
declare -A seen=()
for exe in "$bin"/bench_* "$bin"/*_bench; do
    name=$(basename "$exe")
    case $name in bench_vm_stock | bench_vm_kestrane | kod_bench) continue ;; esac
    if [ ! -f "$exe" ] || [ ! -x "$exe" ]; then continue; fi
    [ -z "${seen[$name]:-}" ] || continue
    seen[$name]=1
    printf '\n=== %s\n' "$name"
    if ! "$exe"; then
        say "bench: $name failed"
        status=1
    fi
done

exit $status
