"""Outbound delivery end to end: swaks submits to the relay, dnsmasq answers
the MX records of the test domains and aiosmtpd exchangers receive, all on
loopback addresses of a network namespace that the test creates, enters and
removes (its own port 25 and its own /etc/hosts for the exchangers' names)."""
import email
import os
import shutil
import signal
import smtplib
import socket
import subprocess
import tempfile
import textwrap
import threading

import e2e
from e2e import (Namespace, Relay, RelaysCase, ScriptedPeer, Sink, World, main, read_spool, start_dnsmasq, wait_for,
                 write_ini)

DNS_IP = "127.0.0.53"
SILENT_DNS_IP = "127.0.0.54"
GOOD_IP = "127.0.0.10"      # accepts and records
HOSTS = {
    "mx.good.test": GOOD_IP,
    "mx.refuse-a.test": "127.0.0.11",  # nothing listens: refused
    "mx.down.test": "127.0.0.12",      # nothing listens: refused
    "mx.rcpt550.test": "127.0.0.13",   # 550 to every RCPT
    "mx.data550.test": "127.0.0.14",   # 550 after the body
    "mx.silent.test": "127.0.0.15",    # accepts TCP, never says a word
    "mx.data554.test": "127.0.0.16",   # 554 after the body
    "mx.inject.test": "127.0.0.17",    # a 550 whose text carries SMTP commands
}
BATCH_DOMAINS = ["d%02d.test" % k for k in range(20)]
MX = [("three.test", "mx.good.test", 10), ("origin.test", "mx.good.test", 10),
      ("nextmx.test", "mx.refuse-a.test", 10), ("nextmx.test", "mx.good.test", 20),
      ("down.test", "mx.down.test", 10), ("deadsender.test", "mx.down.test", 10),
      ("rcpt550.test", "mx.rcpt550.test", 10), ("data550.test", "mx.data550.test", 10),
      ("silent.test", "mx.silent.test", 10), ("data554.test", "mx.data554.test", 10),
      ("inject.test", "mx.inject.test", 10)]
MX += [(d, "mx.good.test", 10) for d in BATCH_DOMAINS]

# After the body, a 550 whose text would end a bounce that quotes it and go
# on as the commands of a forged message.
INJECT = (b"550 5.7.1 refused\r\n.\r\nMAIL FROM:<ceo@bank.test>\r\n"
          b"RCPT TO:<s@origin.test>\r\nDATA\r\nSubject: forged\r\n\r\nforged\r\n.\r\n")

# Submits N messages over one SMTP connection: tag k goes to domain k % 20.
SUBMIT = textwrap.dedent('''
    import smtplib, sys
    port, count = int(sys.argv[1]), int(sys.argv[2])
    s = smtplib.SMTP("127.0.0.1", port, timeout=30)
    s.helo("submitter")
    for k in range(count):
        tag = "B%04d" % k
        to = "r%d@d%02d.test" % (k, k % 20)
        s.sendmail("batch@origin.test", [to], "Subject: %s\\r\\n\\r\\nbatch body %s\\r\\n" % (tag, tag))
    s.quit()
''')


class Exchangers(World):
    """dnsmasq, the exchangers and a DNS server that never answers."""
    tmp = silent_dns = None

    def up(self):
        super().up()
        self.tmp = tempfile.mkdtemp(prefix="dorvane-e2e-delivery-")
        self.procs.append(start_dnsmasq(DNS_IP, *("--mx-host=%s,%s,%d" % mx for mx in MX)))
        self.good = Sink(GOOD_IP)
        self.servers = [self.good, ScriptedPeer(HOSTS["mx.silent.test"], "silent"),
                        ScriptedPeer(HOSTS["mx.inject.test"], "talker", after_body=INJECT)]
        self.servers += [Sink(HOSTS["mx.%s.test" % mode], mode) for mode in ("rcpt550", "data550", "data554")]
        self.silent_dns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.silent_dns.bind((SILENT_DNS_IP, 53))  # never read: no query is answered

    def down(self):
        super().down()
        if self.silent_dns:
            self.silent_dns.close()
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)

    def received(self):
        return self.good.messages()


WORLD = Exchangers(Namespace("dvdeliv", hosts=HOSTS, nameserver=DNS_IP))


class DeliveryRelay(Relay):
    """One relay in its own home inside the namespace, its /etc files those
    of the namespace."""

    def __init__(self, port, max_attempt=1, delay=60, dns=DNS_IP, smarthost=None):
        super().__init__(tempfile.mkdtemp(prefix="home-", dir=WORLD.tmp), port, WORLD.ns.exec())
        smarthost = {"SmtpServer": smarthost} if smarthost else {}
        write_ini(self.home, port, MaxNbrAttempt=max_attempt, AttemptDelay=delay, DNSServer=dns, **smarthost)

    def send(self, sender, rcpts, tag):
        """Submits one message with swaks; the queue timer alone sends it."""
        done = subprocess.run(WORLD.ns.exec("swaks", "--protocol", "SMTP", "--server", "127.0.0.1",
                                            "--port", str(self.port), "--from", sender, "--to", ",".join(rcpts),
                                            "--header", "Subject: " + tag, "--body", "body of " + tag),
                              capture_output=True, timeout=30, text=True)
        if done.returncode != 0:
            raise RuntimeError("swaks failed: " + done.stdout[-500:])


def rss_kib(pid):
    """The resident memory of process `pid`, in KiB."""
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmRSS:")).split()[1])


def with_subject(tag, records=None):
    return [r for r in (records or WORLD.received()) if "Subject: " + tag + "\r\n" in r["text"]]


def notices_to(rcpt, subject):
    return [r for r in WORLD.received() if r["rcpts"] == [rcpt] and subject in r["text"]]


class DeliveryTest(RelaysCase):
    RELAY = DeliveryRelay

    def test_delivery_next_exchanger_deferral_flush_bounce_and_refusals(self):
        r = self.relay(2525)
        # Three recipients: one transaction with three RCPT TO.
        r.send("s@origin.test", ["a@three.test", "b@three.test", "c@three.test"], "T3")
        self.assertTrue(wait_for(lambda: with_subject("T3"), 30), r.log())
        got = with_subject("T3")
        self.assertEqual(1, len(got))
        self.assertEqual(["<a@three.test>", "<b@three.test>", "<c@three.test>"],
                         ["<%s>" % a for a in got[0]["rcpts"]])
        self.assertTrue(wait_for(lambda: len(r.logged("@three.test>, relay=mx.good.test [127.0.0.10], status=sent (250 2.0.0 Ok: queued)")) == 3, 10), r.log())
        self.assertTrue(r.logged("connect to mx.good.test [127.0.0.10]"))
        # The first exchanger refuses: the next one gets it in the same attempt.
        r.send("s@origin.test", ["u@nextmx.test"], "T4")
        self.assertTrue(wait_for(lambda: with_subject("T4"), 30), r.log())
        self.assertTrue(r.logged("connection failed (refused by peer) for mx.refuse-a.test [127.0.0.11], status=trying other MX server, attempt=1"))
        # Every exchanger refuses: deferral, and the sender hears of the delay.
        r.send("s@origin.test", ["v@down.test"], "T5")
        delay_subject = "Subject: Delivery Status Notification (Mail Delivery Delayed)"
        self.assertTrue(wait_for(lambda: notices_to("s@origin.test", delay_subject) and len(r.files("Deferred")) == 1, 30), r.log())
        self.assertTrue(r.logged("connection failed (refused by peer) for mx.down.test [127.0.0.12], status=deferred, attempt=1"))
        deferred = read_spool(os.path.join(r.home, "Deferred", r.files("Deferred")[0]))
        self.assertEqual((1, b"10061: Connection is forcefully rejected"), (deferred["Essai"], deferred["LastError"]))
        # Flush brings it back; a second failure is past MaxNbrAttempt 1: bounce.
        r.command("flush")
        bounce_subject = "Subject: Undelivered Mail Returned to Sender"
        self.assertTrue(wait_for(lambda: [b for b in notices_to("s@origin.test", bounce_subject) if "T5" in b["text"]], 30), r.log())
        self.assertEqual([], r.files("Deferred"))
        bounce = [b for b in notices_to("s@origin.test", bounce_subject) if "T5" in b["text"]][0]
        parts = email.message_from_string(bounce["text"]).get_payload()
        self.assertEqual(["text/plain", "message/delivery-status", "message/rfc822"],
                         [p.get_content_type() for p in parts])
        self.assertTrue(r.logged("1st connection failed (refused by peer) for mx.down.test [127.0.0.12], status=error, return error to=<s@origin.test>"))
        # A 550 after the recipient and after the body: bounced at once.
        for rcpt, tag in (("w@rcpt550.test", "T6"), ("w@data550.test", "T7")):
            r.send("s@origin.test", [rcpt], tag)
            self.assertTrue(wait_for(lambda: [b for b in notices_to("s@origin.test", bounce_subject) if tag in b["text"]], 30), r.log())
        self.assertTrue(r.logged("Error 550 (550 5.1.1 no such user here), error for=<w@rcpt550.test> status=error, return error to=<s@origin.test>"))
        self.assertTrue(r.logged("Error 550 (550 5.7.1 refused after the body), error for=<w@data550.test> status=error, return error to=<s@origin.test>"))
        self.assertTrue(wait_for(lambda: r.files("OutBox") == [], 30), r.files("OutBox"))
        self.assertEqual([], r.files("Error"))
        # `dorvane retry` tells the running relay, which would otherwise see
        # the message only at its next full listing, up to a minute away.
        with open(os.path.join(r.home, "Deferred", "RETRY1"), "wb") as f:
            f.write(e2e.spool_bytes(b"RETRY1", b"<s@origin.test>", [b"<a@three.test>"], b"Subject: T8\r\n\r\nbody\r\n"))
        self.assertEqual(0, r.command("retry", "RETRY1").returncode)
        self.assertTrue(wait_for(lambda: with_subject("T8"), 8), r.log())

    def test_a_silent_exchanger_holds_back_no_other_message(self):
        r = self.relay(2530)
        r.send("s@origin.test", ["w@silent.test"], "T11")
        self.assertTrue(wait_for(lambda: r.logged("connect to mx.silent.test [127.0.0.15]"), 30), r.log())
        r.send("s@origin.test", ["a@three.test"], "T12")
        self.assertTrue(wait_for(lambda: with_subject("T12"), 25), r.log())
        self.assertEqual([], with_subject("T11"))

    def test_refusals_after_the_body_bounce_at_once_and_inject_nothing(self):
        r = self.relay(2531, max_attempt=3)
        bounce_subject = "Subject: Undelivered Mail Returned to Sender"

        def bounces(tag):
            return [b for b in notices_to("s@origin.test", bounce_subject) if "Subject: " + tag in b["text"]]
        r.send("s@origin.test", ["w@data554.test"], "T13")
        refused = "Error 554 (554 5.7.1 rejected as spam), error for=<w@data554.test> status=error, return error to=<s@origin.test>"
        self.assertTrue(wait_for(lambda: r.logged(refused), 30), r.log())
        # The bounce leaves with the scan that follows the refusal, not after a tick.
        self.assertTrue(wait_for(lambda: bounces("T13"), 8), r.log())
        self.assertIn("<w@data554.test>: 554 5.7.1 rejected as spam\r\n", bounces("T13")[0]["text"])
        r.send("s@origin.test", ["w@inject.test"], "T14")
        self.assertTrue(wait_for(lambda: bounces("T14"), 40), r.log())
        self.assertTrue(wait_for(lambda: r.logged("to=<s@origin.test>, relay=mx.good.test [127.0.0.10], status=sent") and r.files("OutBox") == [], 30), r.log())
        bounce = bounces("T14")
        self.assertEqual(1, len(bounce))
        # Whole: the quoted reply did not end it early.
        self.assertTrue(bounce[0]["text"].rstrip("\r\n").endswith("--"), bounce[0]["text"])
        self.assertIn("Diagnostic-Code: 550 5.7.1 refused\r\n", bounce[0]["text"])
        self.assertEqual([], [rec for rec in WORLD.received() if "ceo@bank.test" in rec["from"] or "forged" in rec["text"]])
        self.assertEqual([], r.files("Error"))

    def test_thousand_messages_drain_once_each_and_the_dns_cache_survives_a_restart(self):
        r = self.relay(2526)
        subprocess.run(["/usr/bin/python3", "-c", SUBMIT, "2526", "1000"], check=True, timeout=300)

        def batch():
            return [rec for rec in WORLD.received() if rec["from"] == "batch@origin.test"]
        self.assertTrue(wait_for(lambda: len(batch()) >= 1000 and r.files("OutBox") == [], 240),
                        "%d received, %d queued" % (len(batch()), len(r.files("OutBox"))))
        tags = sorted(rec["text"].split("Subject: ")[1][:5] for rec in batch())
        self.assertEqual(["B%04d" % k for k in range(1000)], tags)  # none lost, none twice
        r.quit()
        written = r.logged("Dorvane Writing DNS cache (")
        self.assertEqual(1, len(written))
        count = written[0].split("(")[1].split(")")[0]
        self.assertGreaterEqual(int(count), 20)
        r.start()
        self.assertTrue(wait_for(lambda: r.logged("Dorvane Loading DNS cache (%s) [OK]" % count), 10), r.log())
        r.quit()

    def test_large_messages_leave_no_memory_behind_once_drained(self):
        # Eight 4 MB messages at once: each session and each delivery slot
        # carries one, and none of them may stay in the relay's memory.
        r = self.relay(2535)
        before = rss_kib(r.proc.pid)
        body = b"\r\n".join([b"x" * 998] * 4000) + b"\r\n"

        def submit(k):
            with smtplib.SMTP("127.0.0.1", 2535, timeout=60) as s:
                s.sendmail("big@origin.test", ["a@three.test"], b"Subject: L%d\r\n\r\n" % k + body)
        threads = [threading.Thread(target=submit, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)

        def large():
            return [rec for rec in WORLD.received() if rec["from"] == "big@origin.test"]
        self.assertTrue(wait_for(lambda: len(large()) == 8 and r.files("OutBox") == [], 120),
                        "%d received, %d queued" % (len(large()), len(r.files("OutBox"))))
        self.assertLess(rss_kib(r.proc.pid) - before, 16 * 1024, "KiB kept after 32 MB went through")

    def test_failures_that_end_in_error_or_wait_for_dns(self):
        # Run side by side: a bounce that cannot be delivered (MaxNbrAttempt
        # 0), an unreachable smarthost, and a DNS server that never answers.
        loop = self.relay(2527, max_attempt=0)
        smarthost = self.relay(2528, smarthost=HOSTS["mx.down.test"])
        silent = self.relay(2529, dns=SILENT_DNS_IP)
        loop.send("x@deadsender.test", ["w@rcpt550.test"], "T8")
        smarthost.send("s@origin.test", ["a@three.test"], "T9")
        silent.send("s@origin.test", ["a@three.test"], "T10")
        self.assertTrue(wait_for(lambda: len(loop.files("Error")) == 1, 30), loop.log())
        self.assertTrue(loop.logged("0st connection failed (refused by peer) for mx.down.test [127.0.0.12], status=error, not return error because it's already a return-error-mail: deny loop"))
        self.assertEqual([], loop.files("OutBox"))
        self.assertTrue(wait_for(lambda: len(smarthost.files("Error")) == 1, 30), smarthost.log())
        self.assertTrue(smarthost.logged("1st connection failed (refused by peer) for 127.0.0.12 [127.0.0.12], status=error, not return error neither deferred because there's no route available with the specified SMTP server"))
        self.assertTrue(smarthost.logged("See log file at this time : The corresponding message is not routable => placed in the error directory", "error.txt"))
        self.assertTrue(wait_for(lambda: len(silent.files("Deferred")) == 1, 30), silent.log())
        self.assertTrue(silent.logged(" Dorvane/smtpdistant: 421 No MX DNS available for three.test using NS 127.0.0.54 (time out) status=error"))
        self.assertTrue(silent.logged("421 No MX DNS available for three.test using NS 127.0.0.54 status=bounced"))
        self.assertEqual([], with_subject("T9") + with_subject("T10"))

    def test_sendmail_command_queues_what_the_smarthost_receives(self):
        r = DeliveryRelay(2529, smarthost=GOOD_IP)
        self.relays.append(r)
        with open(os.path.join(r.home, "Dorvane.ini"), "ab") as f:
            f.write(b"MailDomain\tcorp.test\r\n")
        # With the relay stopped the message waits in OutBox, and -bp and
        # the mailq name list it; the next start sends it.
        os.mkdir(os.path.join(r.home, "OutBox"), 0o700)
        self.assertEqual(0, sendmail(r.home, b"Subject: SM0\n\nwaiting\n", "root").returncode)
        listed = sendmail(r.home, b"", "-bp")
        self.assertEqual(0, listed.returncode, listed.stderr)
        self.assertEqual(1, len(listed.stdout.splitlines()), listed.stdout)
        self.assertIn(b"\t<root@corp.test>\t<root@corp.test>\t", listed.stdout)
        mailq = os.path.join(r.home, "bin", "mailq")
        os.makedirs(os.path.dirname(mailq))
        os.symlink(os.path.abspath(sendmail_argv()[0]), mailq)
        self.assertEqual(listed.stdout, sendmail(r.home, b"", program=mailq).stdout)
        r.start()
        self.assertTrue(wait_for(lambda: with_subject("SM0"), 30), r.log())
        got = with_subject("SM0")[0]
        self.assertEqual(("root@corp.test", ["root@corp.test"]), (got["from"], got["rcpts"]))
        for text, args in [(b"Subject: SM1\n\n.dot\nbody\n", ("-f", "a@x.test", "b@y.test")),
                           (b"To: c@y.test\nBcc: d@y.test\nSubject: SM2\n\nhi\n", ("-t", "-f", "a@x.test"))]:
            done = sendmail(r.home, text, *args)
            self.assertEqual(0, done.returncode, done.stderr)
        # The command asks the relay to scan at once: no wait for its queue timer.
        self.assertTrue(wait_for(lambda: with_subject("SM1") and with_subject("SM2"), 6), r.log())
        got = with_subject("SM1")[0]
        self.assertEqual(("a@x.test", ["b@y.test"]), (got["from"], got["rcpts"]))
        self.assertIn("\r\nFrom: a@x.test\r\n", got["text"])
        self.assertIn("\r\n\r\n.dot\r\nbody\r\n", got["text"])
        got = with_subject("SM2")[0]
        self.assertEqual(["c@y.test", "d@y.test"], got["rcpts"])
        self.assertNotIn("Bcc", got["text"])

    def test_sendmail_exits_zero_only_once_the_message_is_durable(self):
        tmp = tempfile.mkdtemp(dir=WORLD.tmp)
        os.chmod(WORLD.tmp, 0o711)  # the unprivileged rows reach their homes
        os.chmod(tmp, 0o711)
        nobody = dict(user=65534, group=65534, extra_groups=[])
        two_domains = ("-f", "a@x.test", "b@y.test", "c@z.test")
        cases = [
            # what, the home's and OutBox's modes, run as, tmpfs options, input, exit code
            ("unreadable program folder", 0o700, 0o700, nobody, None, b"hi\n", 73),
            ("OutBox not writable", 0o755, 0o755, nobody, None, b"hi\n", 73),
            ("full disk, told in advance", 0o700, 0o700, {}, "size=64k", b"hi\n", 75),
            ("no inode left for the second domain", 0o700, 0o700, {}, "size=12m,nr_inodes=3", b"hi\n", 75),
            ("room enough", 0o700, 0o700, {}, "size=12m", b"hi\n", 0),
        ]
        for what, home_mode, outbox_mode, user, tmpfs, text, code in cases:
            with self.subTest(what):
                home = tempfile.mkdtemp(dir=tmp)
                if tmpfs:
                    done = sendmail_on_tmpfs(home, tmpfs, text, *two_domains)
                    outbox = done.stdout.decode().split()
                else:
                    os.mkdir(os.path.join(home, "OutBox"), outbox_mode)
                    os.chmod(home, home_mode)
                    done = sendmail(home, text, *two_domains, **user)
                    outbox = os.listdir(os.path.join(home, "OutBox"))
                self.assertEqual(code, done.returncode, done.stderr)
                self.assertEqual(1 if code else 0, len(done.stderr.splitlines()), done.stderr)
                self.assertEqual(0 if code else 2, len(outbox), outbox)

    def test_sendmail_killed_while_writing_queues_nothing_and_the_next_start_removes_the_rest(self):
        r = DeliveryRelay(2530, smarthost=GOOD_IP)
        self.relays.append(r)
        outbox = os.path.join(r.home, "OutBox")
        os.mkdir(outbox, 0o700)
        large = os.path.join(r.home, "large.txt")
        with open(large, "wb") as f:
            f.write(b"Subject: SMKILL\n\n" + b"x" * 999 + b"\n")
            f.write((b"y" * 999 + b"\n") * 40000)  # 40 MB: its write and flush take a while
        argv = sendmail_argv() + ["-f", "a@x.test", "b@y.test"]
        for _ in range(5):  # until the kill lands inside the write
            with open(large, "rb") as stdin:
                proc = subprocess.Popen(argv, stdin=stdin, stderr=subprocess.PIPE, env=dict(os.environ, DORVANE_HOME=r.home))
            wait_for(lambda: proc.poll() is not None or os.listdir(outbox), 60, step=0.001)
            proc.kill()
            code, why = proc.wait(timeout=10), proc.stderr.read()
            proc.stderr.close()
            whole = [n for n in os.listdir(outbox) if not n.startswith(".")]
            if code == -signal.SIGKILL and not whole:
                break
            # Too late: the message was whole (and on disk if the exit said so).
            self.assertIn(code, (0, -signal.SIGKILL), why)
            self.assertEqual(1, len(whole), whole)
            shutil.rmtree(outbox)
            os.mkdir(outbox, 0o700)
        left = os.listdir(outbox)
        self.assertEqual(1, len(left), left)
        self.assertTrue(left[0].startswith(".") and left[0].endswith(".tmp"), left)
        self.assertEqual(0, sendmail(r.home, b"Subject: SMAFTER\n\nhi\n", "-f", "a@x.test", "b@y.test").returncode)
        r.start()
        self.assertTrue(wait_for(lambda: with_subject("SMAFTER"), 30), r.log())
        self.assertTrue(r.logged("Dorvane: fichier incomplet supprim\u00e9 (%s)" % os.path.join(outbox, left[0])), r.log())
        self.assertTrue(wait_for(lambda: os.listdir(outbox) == []), os.listdir(outbox))
        self.assertEqual([], with_subject("SMKILL"))


def sendmail_argv(program=None):
    return [program or os.path.join(e2e.ARGS.bin_dir, "dorvane-sendmail")]


def sendmail(home, text, *args, program=None, **user):
    """Runs the local mail command on `home` with `text` on its input."""
    return subprocess.run(sendmail_argv(program) + list(args), input=text, env=dict(os.environ, DORVANE_HOME=home),
                          capture_output=True, timeout=60, **user)


def sendmail_on_tmpfs(home, options, text, *args):
    """Runs the local mail command on `home` once a tmpfs mounted with
    `options` covers it, in a mount namespace of its own (gone with it);
    its standard output is what OutBox then holds."""
    script = ('home=$1 options=$2 program=$3; shift 3\n'
              'mount -t tmpfs -o "$options" tmpfs "$home" || exit 99\n'
              'mkdir "$home/OutBox"\n'
              'DORVANE_HOME="$home" "$program" "$@" >&2\n'
              'rc=$?; ls -A "$home/OutBox"; exit $rc\n')
    argv = ["unshare", "-m", "sh", "-c", script, "sh", home, options, sendmail_argv()[0]]
    return subprocess.run(argv + list(args), input=text, capture_output=True, timeout=60)

if __name__ == "__main__":
    main(WORLD, root=True, tools=("ip", "dnsmasq", "swaks"), modules=("aiosmtpd",))
