"""The deep queue workload: a relay that holds many deferred messages, none
of them due for hours, while it idles, drains fresh mail and accepts mail.

Dorvane's deferred messages are spool files written straight into its
Deferred folder, fresh, with an AttemptDelay of 546 minutes (the largest
it takes). Postfix's are made the way Postfix makes them: submitted over
SMTP while its relay host answers 421 to EHLO, so its queue manager defers
them with a backoff of 546 minutes too. Making 100,000 that way takes
minutes, so it is done once per bench run (build_postfix_template) and each
run hard-links the resulting queue files into its fresh instance."""
import os
import subprocess
import time

import relays
import workloads

DELAY_MINUTES = 546
DORVANE_SETTINGS = "AttemptDelay\t%d\r\n" % DELAY_MINUTES
POSTFIX_SETTINGS = "minimal_backoff_time = %dm\nmaximal_backoff_time = %dm\n" % (DELAY_MINUTES, DELAY_MINUTES)
REFUSING_PORT = 26  # on the Postfix sink's address, while the template is made
POSTFIX_QUEUES = ("deferred", "defer")  # the messages and their delay reasons


def deep_queue(relay, ctx):
    """Fills `relay`'s queue with ctx.sizes["deep"] deferred messages, then
    measures, with delivery on: the CPU time per minute of all its processes
    over a window of ctx.sizes["idle_" + relay.name] seconds while nothing is
    due, its memory, and the drain of ctx.sizes["deep_outbox"] fresh messages;
    then, delivery paused, the accept rate of ctx.sizes["accept"] messages."""
    waiting = ctx.sizes["deep"]
    if relay.name == "dorvane":
        relay.settings += DORVANE_SETTINGS
        write_dorvane_deferred(os.path.join(relay.home, "Deferred"), waiting)
    else:
        relay.settings += POSTFIX_SETTINGS
        link_postfix_template(ctx.template, relay.dir)
    sink = relays.Sink(relays.DORVANE_SINK if relay.name == "dorvane" else relays.POSTFIX_SINK)
    sink.start()
    sampler = None
    try:
        started = time.monotonic()
        relay.start(keep_local=False)
        result = {"deep_start_s": settle(relay) - started}
        sampler = workloads.MemorySampler(relay)
        result["deep_mem_idle_kib"] = sampler.sample()
        window = ctx.sizes["idle_" + relay.name]
        cpu = relays.cpu_seconds(relay.pids())
        time.sleep(window)  # the measurement window itself: nothing is waited for
        result["deep_cpu_ms_min"] = 1000 * (relays.cpu_seconds(relay.pids()) - cpu) * 60 / window
        result["deep_idle_sent"] = sink.count  # anything here was due after all
        result.update(workloads.drain(relay, sink, ctx.sizes["deep_outbox"], "deep_e2e", ctx.stall, waiting))
        relay.stop()
        relay.start(keep_local=True)
        rate, ok, _err = workloads.accept_rate(relay, ctx.sizes["accept"], waiting)
        result.update({"deep_accept_rate": rate, "deep_accept_ok": ok,
                       "deep_mem_peak_kib": max(sampler.peak, result["deep_mem_idle_kib"])})
        return result
    finally:
        if sampler:
            sampler.close()
        relay.stop()
        sink.stop()


def settle(relay, quiet=0.05, limit=120):
    """Waits, at most `limit` seconds, until `relay`'s processes use less
    than `quiet` CPU seconds in a second: its start-up work on the queue is
    over. Returns the monotonic time at which it was."""
    deadline = time.monotonic() + limit
    last = relays.cpu_seconds(relay.pids())
    while time.monotonic() < deadline:
        time.sleep(1)
        now = relays.cpu_seconds(relay.pids())
        if now - last < quiet:
            break
        last = now
    return time.monotonic()


def dorvane_spool_bytes(name):
    """A spool file for `name`: one attempt made, deferred after a 421, one
    recipient, a 2 KiB text like smtp-source's."""
    def text(b):
        return len(b).to_bytes(2, "little") + b
    data = (b"From: <%s>\r\nTo: <%s>\r\nSubject: deep queue\r\n\r\n" % (workloads.SENDER.encode(),
                                                                        workloads.RECIPIENT.encode())
            + (b"x" * 78 + b"\r\n") * 25)
    rcpt = [b"", b"<%s>" % workloads.RECIPIENT.encode()]
    return (text(name.encode()) + text(b"\r\n==> DO NOT ALTER THIS FILE !\r\n")
            + text(b"\r\n==> NE PAS MODIFIER CE FICHIER !\r\n") + b"\x01"
            + text(b"421 4.3.0 service not available") + b"\x00\x00"
            + text(b"<%s>" % workloads.SENDER.encode())
            + (1).to_bytes(2, "little") + len(rcpt).to_bytes(4, "little") + (0).to_bytes(4, "little")
            + b"".join(text(r) for r in rcpt) + text(data))


def write_dorvane_deferred(folder, count, limit=900):
    """`count` deferred messages in the Deferred folder `folder`, under
    distinct upper-case hexadecimal names, all written now; RuntimeError
    when that takes more than `limit` seconds (a disk that crawls)."""
    os.makedirs(folder, exist_ok=True)
    deadline = time.monotonic() + limit
    for i in range(count):
        if time.monotonic() > deadline:
            raise RuntimeError("wrote only %d of %d deferred messages in %d s" % (i, count, limit))
        name = "%X%05X" % (1 + i // 0xEFFFF, i % 0xEFFFF)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(dorvane_spool_bytes(name))


def build_postfix_template(folder, count, stall_limit):
    """A Postfix queue holding `count` deferred messages in `folder` (a
    stopped instance's folder): submitted by 20 clients while the relay
    host answers 421, then left to the queue manager until every one is
    deferred. Returns the seconds it took."""
    start = time.monotonic()
    refusing = subprocess.Popen(["smtp-sink", "-u", "nobody", "-Q", "helo,ehlo",
                                 "%s:%d" % (relays.POSTFIX_SINK, REFUSING_PORT), "1024"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    relay = relays.Postfix(folder, settings=POSTFIX_SETTINGS, sink_port=REFUSING_PORT)
    try:
        if not relays.wait_for(lambda: relays.accepts(relays.POSTFIX_SINK, REFUSING_PORT), 10):
            raise RuntimeError("the refusing smtp-sink did not start")
        relay.start(keep_local=False)
        workloads.smtp_source(relay, "-s", "20", "-m", str(count), timeout=3600)
        if not workloads.wait_progress(lambda: relay.queued(("deferred",)), count, stall_limit):
            raise RuntimeError("only %d of %d messages were deferred" % (relay.queued(("deferred",)), count))
        return time.monotonic() - start
    finally:
        relay.stop()
        relays.stop_pid(refusing.pid)
        refusing.wait(timeout=10)


def link_postfix_template(template, folder):
    """Hard-links the template's deferred messages into the queue of the
    not yet started instance in `folder`: the same files, so the same
    owners, times and inode numbers (which Postfix's queue file names
    follow), in fresh folders; nothing Postfix does to a message that is
    not due changes them."""
    spool = os.path.join(folder, "spool")
    os.makedirs(spool, exist_ok=True)
    for sub in POSTFIX_QUEUES:
        source = os.path.join(template, "spool", sub)
        if os.path.isdir(source):
            subprocess.run(["cp", "-al", source, spool], check=True, timeout=1800)
