"""Runs the three workloads against Dorvane and Postfix, alternating the
two relays run after run, and prints the ratios (Dorvane / Postfix, medians)
with the raw figures. Meant to run inside the namespace bench/run sets up."""
import argparse
import datetime
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import relays  # noqa: E402
import workloads  # noqa: E402

FULL = {"accept": 20000, "latency": 2000, "e2e": 30000, "e2e_tls": 10000, "overload": 1500}
QUICK = {"accept": 2000, "latency": 200, "e2e": 2000, "e2e_tls": 1000, "overload": 450}

# (key, label, unit, target ratio, whether higher is better)
ROWS = [
    ("accept_rate", "accept only, 20 clients", "msg/s", 1.5, True),
    ("latency_ms", "accept only, 1 client", "ms/msg", None, False),
    ("e2e_rate", "end to end drain, 50 clients", "msg/s", 1.0, True),
    ("e2e_p50", "end to end delay p50", "s", None, False),
    ("e2e_p99", "end to end delay p99", "s", None, False),
    ("e2e_tls_rate", "end to end drain, STARTTLS exchangers", "msg/s", 1.0, True),
    ("over_rate", "overload, 150 clients x 100 rcpt", "msg/s", None, True),
    ("mem_idle_kib", "memory idle (PSS)", "KiB", None, False),
    ("mem_peak_kib", "memory peak (PSS)", "KiB", 1 / 3, False),
]
SUMS = [("e2e_lost", "messages lost"), ("e2e_doubled", "messages doubled"),
        ("e2e_tls_lost", "messages lost, STARTTLS"), ("e2e_tls_doubled", "messages doubled, STARTTLS"),
        ("over_421", "clients turned away (421)"), ("over_back", "clients that came back")]


def run_all(args, sizes):
    raw = {"dorvane": [], "postfix": []}
    for run in range(args.runs):
        order = ["dorvane", "postfix"] if run % 2 == 0 else ["postfix", "dorvane"]
        for name in order:
            result = {}
            for step, fn in (("accept", workloads.accept_only), ("e2e", workloads.end_to_end),
                             ("e2e_tls", workloads.end_to_end_tls), ("overload", workloads.overload)):
                folder = os.path.join(args.work, "run%d-%s-%s" % (run, name, step))
                shutil.rmtree(folder, ignore_errors=True)
                relay = (relays.Dorvane(args.dorvane, folder) if name == "dorvane"
                         else relays.Postfix(folder))
                print("run %d/%d: %s %s" % (run + 1, args.runs, name, step), flush=True)
                try:
                    extra = (sizes,) if step == "accept" else (sizes, args.stall)
                    result.update(fn(relay, *extra))
                except Exception:  # one failed workload must not hide the others
                    result[step + "_failure"] = traceback.format_exc(limit=3)
                    print(result[step + "_failure"], flush=True)
                if not args.keep:
                    shutil.rmtree(folder, ignore_errors=True)
            raw[name].append(result)
    return raw


def median(results, key):
    values = [r[key] for r in results if isinstance(r.get(key), (int, float)) and not math.isnan(r[key])]
    return statistics.median(values) if values else float("nan")


def fmt(x):
    if isinstance(x, float) and math.isnan(x):
        return "n/a"
    if isinstance(x, float):
        return "%.3g" % x if abs(x) < 100 else "%.0f" % x
    return str(x)


def table(raw):
    lines = ["| workload | unit | Dorvane | Postfix | Dorvane / Postfix | target |",
             "|---|---|---|---|---|---|"]
    for key, label, unit, target, higher in ROWS:
        d, p = median(raw["dorvane"], key), median(raw["postfix"], key)
        ratio = d / p if p and not math.isnan(p) and not math.isnan(d) else float("nan")
        goal = ""
        if target is not None:
            met = not math.isnan(ratio) and (ratio >= target if higher else ratio <= target)
            goal = "%s %.2f: %s" % (">=" if higher else "<=", target, "met" if met else "NOT met")
        lines.append("| %s | %s | %s | %s | %s | %s |" % (label, unit, fmt(d), fmt(p), fmt(ratio), goal))
    for key, label in SUMS:
        d = sum(r.get(key, 0) for r in raw["dorvane"])
        p = sum(r.get(key, 0) for r in raw["postfix"])
        lines.append("| %s (all runs) | count | %d | %d | | |" % (label, d, p))
    return "\n".join(lines)


def raw_lines(raw):
    keys = [k for k, *_ in ROWS] + [k for k, _ in SUMS] + ["e2e_received", "e2e_queued", "e2e_tls_received",
                                                            "e2e_tls_queued", "over_sent"]
    out = ["| relay | run | " + " | ".join(keys) + " |", "|---|---|" + "---|" * len(keys)]
    for name in ("dorvane", "postfix"):
        for i, r in enumerate(raw[name]):
            out.append("| %s | %d | %s |" % (name, i + 1, " | ".join(fmt(r.get(k, float("nan"))) for k in keys)))
    failures = [(n, i, k, v) for n in raw for i, r in enumerate(raw[n]) for k, v in r.items()
                if k.endswith("_failure")]
    for n, i, k, v in failures:
        out.append("\n%s run %d %s:\n```\n%s```" % (n, i + 1, k, v))
    return "\n".join(out)


def machine():
    cpu = "unknown cpu"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) // 1024
    pf = subprocess.run(["postconf", "-d", "-h", "mail_version"], capture_output=True, text=True).stdout.strip()
    return "%s, %d cores, %d MiB, Linux %s, Postfix %s" % (cpu, os.cpu_count(), mem, platform.release(), pf)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dorvane", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--keep", action="store_true", help="keep the relays' folders")
    parser.add_argument("--stall", type=float, default=60, help="seconds without progress that end a drain")
    parser.add_argument("--results", help="also write the table to this Markdown file")
    args = parser.parse_args()
    sizes = QUICK if args.quick else FULL
    args.work = os.path.join(args.out, "work")
    os.makedirs(args.work, exist_ok=True)
    raw = run_all(args, sizes)
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    head = ("Dorvane against Postfix, %s; %s; median of %d run(s)%s; sizes %s\n"
            % (stamp, machine(), args.runs, " (quick)" if args.quick else "", json.dumps(sizes)))
    text = head + "\n" + table(raw) + "\n\nRaw figures:\n\n" + raw_lines(raw) + "\n"
    print("\n" + text)
    name = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    with open(os.path.join(args.out, "results-%s.json" % name), "w") as f:
        json.dump({"sizes": sizes, "raw": raw}, f, indent=1)
    with open(os.path.join(args.out, "table-%s.md" % name), "w") as f:
        f.write(text)
    if args.results:
        with open(args.results, "w") as f:
            f.write("# Benchmark results\n\nWritten by `bench/run`; the latest run replaces it.\n\n" + text)


if __name__ == "__main__":
    main()
