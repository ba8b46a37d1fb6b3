"""The workloads, each run against one relay in a fresh folder. Every
wait is bounded; a relay that stops making progress ends its run early and
the figures say so."""
import os
import random
import re
import subprocess
import threading
import time

import relays
from spool_watch import SpoolWatch

SENDER = "bench@sender.invalid"
RECIPIENT = "rcpt@dest.invalid"
BODY_BYTES = "2048"


def smtp_source(relay, *args, timeout):
    """Runs smtp-source against `relay`; (seconds taken, completed process)."""
    cmd = ["smtp-source", "-f", SENDER, "-t", RECIPIENT, "-l", BODY_BYTES, *args,
           "%s:%d" % (relay.addr, relay.port)]
    start = time.monotonic()
    done = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    return time.monotonic() - start, done


def percentile(values, q):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def accept_only(relay, ctx):
    """Messages per second from 20 parallel clients with delivery paused,
    then the milliseconds one lone client needs per message."""
    relay.start(keep_local=True)
    try:
        n, m = ctx.sizes["accept"], ctx.sizes["latency"]
        rate, ok, err = accept_rate(relay, n, 0)
        lat, done1 = smtp_source(relay, "-s", "1", "-m", str(m), timeout=600)
        ok = ok and done1.returncode == 0 and wait_queued(relay, n + m, 30)
        return {"accept_rate": rate, "latency_ms": 1000 * lat / m, "accept_ok": ok,
                "accept_err": (err + done1.stderr).strip()[:200]}
    finally:
        relay.stop()


def accept_rate(relay, n, waiting):
    """Messages per second of `n` messages from 20 parallel clients to a
    relay that holds `waiting` queued messages and delivers none; with
    whether all of them were taken and queued, and smtp-source's complaints."""
    secs, done = smtp_source(relay, "-s", "20", "-m", str(n), timeout=600)
    ok = done.returncode == 0 and wait_queued(relay, waiting + n, 30)
    return n / secs, ok, done.stderr


def wait_queued(relay, n, timeout):
    return relays.wait_for(lambda: relay.queued() >= n, timeout, step=0.2)


def end_to_end(relay, ctx, tls=False):
    """Drain time of N messages from 20 clients to the sink (what Dorvane
    lets one address hold: smtp-source gives up at the first session turned
    away), with the delay of each message from acceptance to delivery. With
    `tls` the sink offers STARTTLS with a self-signed certificate, as most
    exchangers do, the relay takes it up without checking the certificate,
    and the figures' keys begin with e2e_tls, not e2e."""
    key = "e2e_tls" if tls else "e2e"
    dorvane = relay.name == "dorvane"
    tls_folder = os.path.join(relay.home if dorvane else relay.dir, "sink") if tls else None
    sink = relays.Sink(relays.DORVANE_SINK if dorvane else relays.POSTFIX_SINK, tls_folder)
    sink.start()
    try:
        relay.start(keep_local=False, tls=tls)
        return drain(relay, sink, ctx.sizes[key], key, ctx.stall)
    finally:
        relay.stop()
        sink.stop()


def end_to_end_tls(relay, ctx):
    """end_to_end to a sink that offers STARTTLS."""
    return end_to_end(relay, ctx, tls=True)


def drain(relay, sink, n, key, stall_limit, waiting=0):
    """Sends `n` messages from 20 clients through the running `relay` to
    the running `sink` (which has counted none yet) and times their drain.
    `waiting` messages were queued before and must stay queued: one that
    reaches the sink counts as doubled. The figures' keys begin with key + "_"."""
    watch = SpoolWatch(os.path.join(relay.home, "OutBox")) if relay.name == "dorvane" else None
    try:
        start = time.monotonic()
        source = threading.Thread(target=smtp_source, args=(relay, "-s", "20", "-m", str(n)),
                                  kwargs={"timeout": 1800}, daemon=True)
        source.start()
        drained = wait_progress(lambda: sink.count, n, stall_limit)
        secs = time.monotonic() - start
        source.join(timeout=60)
        time.sleep(3)  # late duplicates would show up here
        queued = relay.queued() - waiting
        result = {"rate": n / secs if drained else float("nan"), "secs": secs,
                  "received": sink.count, "queued": queued,
                  "lost": max(0, n - sink.count - queued),
                  "doubled": max(0, sink.count - n)}
        delays = watch.delays() if watch else postfix_delays(relay)
        result["p50"] = percentile(delays, 0.50)
        result["p99"] = percentile(delays, 0.99)
        return {key + "_" + name: value for name, value in result.items()}
    finally:
        if watch:
            watch.close()


def wait_progress(count, target, stall_limit):
    """Waits until count() reaches target; gives up once it has not moved
    for `stall_limit` seconds (or after an hour)."""
    last, moved = -1, time.monotonic()
    deadline = time.monotonic() + 3600
    while time.monotonic() < deadline:
        now_count = count()
        if now_count >= target:
            return True
        if now_count != last:
            last, moved = now_count, time.monotonic()
        elif time.monotonic() - moved > stall_limit:
            return False
        time.sleep(0.1)
    return False


def postfix_delays(relay):
    return [float(m.group(1)) for line in relay.maillog()
            if "status=sent" in line for m in [re.search(r" delay=([\d.]+)", line)] if m]


class ComingBackClient:
    """One client that sends its share of messages one after the other and,
    when the relay turns it away (421, or closed before its greeting),
    comes back after a short pause with the messages still to send."""

    def __init__(self, relay, messages, recipients, deadline):
        self.relay, self.left, self.recipients = relay, messages, recipients
        self.deadline = deadline
        self.turned_away = 0
        self.came_back = 0

    def run(self):
        while self.left > 0 and time.monotonic() < self.deadline:
            _secs, done = smtp_source(self.relay, "-c", "-s", "1", "-r", str(self.recipients),
                                      "-m", str(self.left), timeout=600)
            counts = re.findall(r"\d+", done.stdout)
            self.left -= int(counts[-1]) if counts else 0
            if done.returncode == 0:
                self.left = 0
                break
            if "421" in done.stderr or "server greeting" in done.stderr:
                self.turned_away += 1
            time.sleep(random.uniform(0.1, 0.5))
            if self.left > 0:
                self.came_back += 1


class MemorySampler:
    """PSS of every process of a relay, summed, sampled every 250 ms."""

    def __init__(self, relay):
        self.relay, self.peak, self._stop = relay, 0, False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def sample(self):
        return sum(relays.pss_kib(pid) for pid in self.relay.pids())

    def _run(self):
        while not self._stop:
            self.peak = max(self.peak, self.sample())
            time.sleep(0.25)

    def close(self):
        self._stop = True
        self._thread.join(timeout=5)


def overload(relay, ctx):
    """150 clients against 99 slots, 100 recipients per message, with
    delivery running; throughput, clients turned away and memory."""
    n = ctx.sizes["overload"]
    sink = relays.Sink(relays.DORVANE_SINK if relay.name == "dorvane" else relays.POSTFIX_SINK)
    sink.start()
    relay.start(keep_local=False)
    try:
        time.sleep(2)
        sampler = MemorySampler(relay)
        idle = sampler.sample()
        deadline = time.monotonic() + 900
        clients = [ComingBackClient(relay, n // 150 + (i < n % 150), 100, deadline)
                   for i in range(150)]
        threads = [threading.Thread(target=c.run, daemon=True) for c in clients]
        start = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=max(1, deadline - time.monotonic()))
        secs = time.monotonic() - start
        sent = n - sum(c.left for c in clients)
        drained = wait_progress(lambda: sink.count, sent, ctx.stall)
        sampler.close()
        return {"over_rate": sent / secs, "over_sent": sent, "over_drained": drained,
                "over_421": sum(c.turned_away for c in clients),
                "over_back": sum(c.came_back for c in clients),
                "mem_idle_kib": idle, "mem_peak_kib": max(sampler.peak, idle)}
    finally:
        relay.stop()
        sink.stop()
