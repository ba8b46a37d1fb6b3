"""Runs the workloads against Dorvane and Postfix, alternating the
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
import time
import traceback
from collections import namedtuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import deep_queue  # noqa: E402
import disk_ceiling  # noqa: E402
import relays  # noqa: E402
import workloads  # noqa: E402

FULL = {"accept": 20000, "latency": 2000, "e2e": 30000, "e2e_tls": 10000, "overload": 1500,
        "ceiling_files": 100000, "ceiling_s": 5,
        "deep": 100000, "deep_outbox": 10000, "idle_dorvane": 60, "idle_postfix": 310}
QUICK = {"accept": 2000, "latency": 200, "e2e": 2000, "e2e_tls": 1000, "overload": 450,
         "ceiling_files": 20000, "ceiling_s": 3,
         "deep": 10000, "deep_outbox": 1000, "idle_dorvane": 20, "idle_postfix": 20}


class Row(namedtuple("Row", "key label unit vs_postfix own higher")):
    """One line of the table: the median of `key` for each relay. A target
    is either `vs_postfix` (on Dorvane / Postfix) or `own` (on Dorvane's
    own figure, itself a ratio); `higher` says which way is better."""


ROWS = [
    Row("ceiling4", "disk ceiling, 4 writers, one folder fsync per 10 files", "msg/s", None, None, True),
    Row("ceiling1", "disk ceiling, 1 writer, folder fsync per file", "msg/s", None, None, True),
    Row("accept_rate", "accept only, 20 clients", "msg/s", 3, None, True),
    Row("accept_ceiling", "accept only, 20 clients / ceiling", "ratio", None, 0.8, True),
    Row("latency_ms", "accept only, 1 client", "ms/msg", 0.5, None, False),
    Row("e2e_rate", "end to end drain of {e2e:,} messages, 20 clients", "msg/s", 2.5, None, True),
    Row("e2e_ceiling", "end to end drain / ceiling", "ratio", None, 0.4, True),
    Row("e2e_p50", "end to end delay p50", "s", None, None, False),
    Row("e2e_p99", "end to end delay p99", "s", 0.5, None, False),
    Row("e2e_tls_rate", "end to end drain of {e2e_tls:,} messages, STARTTLS exchangers", "msg/s", 1.0, None,
        True),
    Row("over_rate", "overload, 150 clients x 100 rcpt", "msg/s", None, None, True),
    Row("mem_idle_kib", "memory idle (PSS)", "KiB", 1.0, None, False),
    Row("mem_peak_kib", "memory peak (PSS)", "KiB", 1 / 3, None, False),
    Row("deep_cpu_ms_min", "deep queue of {deep:,}: CPU while nothing is due", "ms/min", 1.0, None, False),
    Row("deep_mem_idle_kib", "deep queue: memory idle (PSS)", "KiB", None, None, False),
    Row("deep_mem_peak_kib", "deep queue: memory peak (PSS)", "KiB", 1 / 3, None, False),
    Row("deep_accept_rate", "deep queue: accept only, 20 clients", "msg/s", None, None, True),
    Row("deep_accept_share", "deep queue: accept with / without the queue", "ratio", None, 0.9, True),
    Row("deep_e2e_rate", "deep queue: end to end drain of {deep_outbox:,} messages, 20 clients", "msg/s",
        None, None, True),
]
# (key, label, whether its target is a sum of 0 over all runs)
SUMS = [("e2e_lost", "messages lost", True), ("e2e_doubled", "messages doubled", True),
        ("e2e_tls_lost", "messages lost, STARTTLS", True),
        ("e2e_tls_doubled", "messages doubled, STARTTLS", True),
        ("deep_e2e_lost", "messages lost, deep queue", True),
        ("deep_e2e_doubled", "messages doubled, deep queue", True),
        ("deep_idle_sent", "deferred messages sent before due", True),
        ("over_421", "clients turned away (421)", False), ("over_back", "clients that came back", False)]
# Per run, a figure divided by another of the same relay in the same run.
DERIVED = [("accept_ceiling", "accept_rate", "ceiling4"), ("e2e_ceiling", "e2e_rate", "ceiling4"),
           ("deep_accept_share", "deep_accept_rate", "accept_rate")]
STEPS = [("ceiling", disk_ceiling.workload), ("accept", workloads.accept_only), ("e2e", workloads.end_to_end),
         ("e2e_tls", workloads.end_to_end_tls), ("overload", workloads.overload),
         ("deep", deep_queue.deep_queue)]
Context = namedtuple("Context", "sizes stall template folder")
# How long ext4 without a journal avoids an inode number it freed (with
# the inode table written out), and a margin.
RECENT_REMOVALS_S = 65


def run_all(args, sizes, template):
    raw = {"dorvane": [], "postfix": []}
    steps = [s for s in STEPS if s[0] != "deep" or sizes["deep"] > 0]
    for run in range(args.runs):
        order = ["dorvane", "postfix"] if run % 2 == 0 else ["postfix", "dorvane"]
        for name in order:
            result = {}
            for step, fn in steps:
                folder = os.path.join(args.work, "run%d-%s-%s" % (run, name, step))
                relay = (relays.Dorvane(args.dorvane, folder) if name == "dorvane"
                         else relays.Postfix(folder))
                print("run %d/%d: %s %s" % (run + 1, args.runs, name, step), end="", flush=True)
                began = time.monotonic()
                try:
                    result.update(fn(relay, Context(sizes, args.stall, template, folder)))
                except Exception:  # one failed workload must not hide the others
                    result[step + "_failure"] = traceback.format_exc(limit=3)
                    print("\n" + result[step + "_failure"], flush=True)
                print(" (%.0f s)" % (time.monotonic() - began), flush=True)
            for key, num, den in DERIVED:
                if isinstance(result.get(num), (int, float)) and result.get(den):
                    result[key] = result[num] / result[den]
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


def goal(row, d, ratio):
    """The target cell of `row`: what it asks and whether it is met."""
    target, value, what = ((row.vs_postfix, ratio, " x Postfix") if row.vs_postfix is not None
                           else (row.own, d, ""))
    if target is None:
        return ""
    met = not math.isnan(value) and (value >= target if row.higher else value <= target)
    return "%s %.3g%s: %s" % (">=" if row.higher else "<=", target, what, "met" if met else "NOT met")


def table(raw, sizes):
    lines = ["| workload | unit | Dorvane | Postfix | Dorvane / Postfix | target |",
             "|---|---|---|---|---|---|"]
    for row in ROWS:
        d, p = median(raw["dorvane"], row.key), median(raw["postfix"], row.key)
        if math.isnan(d) and math.isnan(p):
            continue  # a workload this run left out
        ratio = d / p if p and not math.isnan(p) and not math.isnan(d) else float("nan")
        shown = "" if row.own is not None else fmt(ratio)
        lines.append("| %s | %s | %s | %s | %s | %s |" % (row.label.format(**sizes), row.unit, fmt(d), fmt(p),
                                                           shown, goal(row, d, ratio)))
    for key, label, zero in SUMS:
        d = sum(r.get(key, 0) for r in raw["dorvane"])
        p = sum(r.get(key, 0) for r in raw["postfix"])
        target = ("= 0: met" if d == 0 else "= 0: NOT met") if zero else ""
        lines.append("| %s (all runs) | count | %d | %d | | %s |" % (label, d, p, target))
    return "\n".join(lines)


def raw_lines(raw):
    keys = [r.key for r in ROWS] + [k for k, *_ in SUMS] + [
        "e2e_received", "e2e_queued", "e2e_tls_received", "e2e_tls_queued", "over_sent",
        "deep_e2e_received", "deep_e2e_queued", "deep_e2e_p99", "deep_start_s", "ceiling4_tool_cpu",
        "ceiling1_tool_cpu"]
    out = ["| relay | run | " + " | ".join(keys) + " |", "|---|---|" + "---|" * len(keys)]
    for name in ("dorvane", "postfix"):
        for i, r in enumerate(raw[name]):
            out.append("| %s | %d | %s |" % (name, i + 1, " | ".join(fmt(r.get(k, float("nan"))) for k in keys)))
    failures = [(n, i, k, v) for n in raw for i, r in enumerate(raw[n]) for k, v in r.items()
                if k.endswith("_failure") or (k.endswith("_error") and v)]
    for n, i, k, v in failures:
        out.append("\n%s run %d %s:\n```\n%s```" % (n, i + 1, k, v))
    return "\n".join(out)


def notes(sizes, template_secs):
    """How the rows were measured, in words, for the reader of the table."""
    text = ("Disk ceiling: durable 2 KiB files (write, fsync, rename, folder fsync) in a folder beside the "
            "spools, measured before each relay's workloads for %d s at most; the \"/ ceiling\" rows divide "
            "by the four-writer figure of the same run. ceiling*_tool_cpu (raw figures) is the measuring tool's own "
            "(user-mode) share of one core: far below 1, the tool is not the limit. The bench removes no "
            "folder between workloads, only before the first (then waits %d s) and after the last: on ext4 "
            "without a journal a removal of many files slows the file creations of the next minute.\n"
            "\nEnd to end: the sink's counters go to a file the bench reads ten times a second, and Dorvane's "
            "acceptance and delivery times come from its OutBox through inotify, read in batches with a 10 ms "
            "pause after each (a time is at most 10 ms late). Readers woken for every message took about a "
            "tenth of the machine, the spool watch in Dorvane's runs alone. Postfix's delays are those of its "
            "mail log. Each relay delivers to an smtp-sink of its own, which offers PIPELINING (the STARTTLS "
            "sink does not).\n"
            % (sizes["ceiling_s"], RECENT_REMOVALS_S))
    if sizes["deep"] <= 0:
        return text
    made = ("made once for this bench run (in %.0f s) and hard-linked into each run's fresh instance"
            % template_secs if template_secs else "which could not be made (see the failures)")
    return text + (
        "\nDeep queue: %s deferred messages, none due for %d minutes. Dorvane's are spool files written "
        "straight into Deferred; Postfix's were submitted over SMTP while its relay host answered 421, %s. "
        "CPU: user and system time of all the relay's processes (children they reaped included) over a window "
        "that begins once its start-up work is over, nothing triggered: %s s for Dorvane (%s), %s s for "
        "Postfix (%s). Peak memory spans that window, the drain of %s fresh messages and a 20-client accept run "
        "of %s messages (delivery paused) with the queue in place; \"accept with / without\" divides that "
        "run's rate by the plain accept row's of the same run. deep_start_s (raw figures) runs from the "
        "relay's start to the end of its start-up work.\n"
        % ("{:,}".format(sizes["deep"]), deep_queue.DELAY_MINUTES, made, fmt(sizes["idle_dorvane"]),
           DORVANE_SCANS if sizes["idle_dorvane"] >= 60 else NO_DORVANE_LISTING, fmt(sizes["idle_postfix"]),
           POSTFIX_SCANS if sizes["idle_postfix"] >= 300 else NO_POSTFIX_SCAN, "{:,}".format(sizes["deep_outbox"]),
           "{:,}".format(sizes["accept"])))


DORVANE_SCANS = ("one full period of its queue work: it ticks every 10 s and lists its folders in full at most "
                 "once a minute")
NO_DORVANE_LISTING = ("shorter than the minute over which its queue work repeats, so it may miss a full listing: "
                      "a reduced run's figure")
POSTFIX_SCANS = ("its deferred queue scan runs every 300 s from its start: the one 300 s after its start falls in "
                 "this window, with time to finish; a window longer than 300 s spreads that one scan thinner, "
                 "in Postfix's favour")
NO_POSTFIX_SCAN = ("shorter than its 300 s deferred queue scan period, so none of those scans falls in it: "
                   "a reduced run's figure")


def clear_work(work):
    """Empties the work folder of an earlier bench run's folders. Files
    are only ever removed while nothing is measured (here and at the end):
    for a minute after a removal, ext4 without a journal skips the inode
    numbers it freed when it makes a new file, one by one, so a removal of
    tens of thousands of files slows every file made after it in that
    block group, in whichever workload comes next. Once done, the removed
    entries are written out and that minute is waited out."""
    names = os.listdir(work)
    for name in names:
        shutil.rmtree(os.path.join(work, name), ignore_errors=True)
    if names:
        os.sync()
        print("waiting %d s after removing the earlier run's folders" % RECENT_REMOVALS_S, flush=True)
        time.sleep(RECENT_REMOVALS_S)


def postfix_template(args, sizes):
    """Builds the deferred queue the Postfix runs copy; (folder, seconds),
    or (None, 0) when there is none."""
    if sizes["deep"] <= 0:
        return None, 0
    folder = os.path.join(args.work, "postfix-deep-template")
    shutil.rmtree(folder, ignore_errors=True)
    print("making Postfix's deferred queue of %d messages" % sizes["deep"], flush=True)
    try:
        return folder, deep_queue.build_postfix_template(folder, sizes["deep"], args.stall)
    except Exception:
        print(traceback.format_exc(limit=3), flush=True)
        return None, 0


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
    parser.add_argument("--deep", type=int, help="deferred messages of the deep queue (0: no deep queue rows)")
    parser.add_argument("--idle", type=float, help="seconds of both relays' deep queue CPU window")
    args = parser.parse_args()
    sizes = dict(QUICK if args.quick else FULL)
    if args.deep is not None:
        sizes["deep"] = args.deep
    if args.idle is not None:
        sizes["idle_dorvane"] = sizes["idle_postfix"] = args.idle
    args.work = os.path.join(args.out, "work")
    os.makedirs(args.work, exist_ok=True)
    clear_work(args.work)
    began = time.monotonic()
    template, template_secs = postfix_template(args, sizes)
    raw = run_all(args, sizes, template)
    if not args.keep:  # every folder, the template's included, only now: see clear_work
        for name in os.listdir(args.work):
            shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    head = ("Dorvane against Postfix, %s; %s; median of %d run(s)%s; sizes %s; the whole run took %.0f min\n"
            % (stamp, machine(), args.runs, " (quick)" if args.quick else "", json.dumps(sizes),
               (time.monotonic() - began) / 60))
    text = (head + "\n" + table(raw, sizes) + "\n\n" + notes(sizes, template_secs) + "\nRaw figures:\n\n"
            + raw_lines(raw) + "\n")
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
