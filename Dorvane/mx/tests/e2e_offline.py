"""An offline laptop: the DNS server has no route (the send fails on this
machine itself), mail keeps arriving for DORVANE_OFFLINE_MINUTES (default
10) minutes, and the relay must stay up, keep every accepted message and
defer it; when the network comes back, every message is delivered once.
All of it in a network namespace this script creates, enters and removes,
on loopback addresses only."""
import collections
import os
import shutil
import smtplib
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "service", "tests"))
from relay_support import skip_unless, wait_for  # noqa: E402
import robust_support  # noqa: E402
from robust_support import RobustCase, spool_messages, token_of, write_ini  # noqa: E402

NS = "dvoffline%d" % os.getpid()
DNS_IP = "127.0.0.99"
SINK_IP = "127.0.0.30"
MINUTES = float(os.environ.get("DORVANE_OFFLINE_MINUTES", "10"))
SUBMIT_EVERY = 25  # seconds between two messages
DNSMASQ = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
NO_ROUTE = ["rule", "add", "unreachable", "to", DNS_IP, "priority", "1"]


def ip(*words):
    subprocess.run(["ip", *words], check=True)


class Network:
    """The namespace; DNS_IP has no route until back_online()."""
    procs = []
    sink = None
    received = collections.Counter()
    lock = threading.Lock()

    @classmethod
    def up(cls):
        robust_support.enter_namespace(NS)
        for a in (DNS_IP, SINK_IP):
            ip("addr", "add", a + "/8", "dev", "lo")
        # The local table's rule takes all of 127/8 first: put it behind the
        # rule that makes DNS_IP unreachable.
        ip("rule", "add", "from", "all", "lookup", "local", "priority", "100")
        ip("rule", "del", "priority", "0")
        ip(*NO_ROUTE)

    @classmethod
    def back_online(cls):
        ip("rule", "del", *NO_ROUTE[2:])
        cls.procs.append(subprocess.Popen(
            [DNSMASQ, "--keep-in-foreground", "--no-resolv", "--no-hosts", "--no-poll", "--conf-file=/dev/null",
             "--pid-file=", "--user=root", "--group=root", "--bind-interfaces", "--listen-address=" + DNS_IP,
             "--port=53", "--mx-host=far.test,%s,10" % SINK_IP],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        from aiosmtpd.controller import Controller

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                with cls.lock:
                    cls.received[token_of(envelope.content.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))] += 1
                return "250 2.0.0 Ok"

        # A fixed name: the default asks DNS.
        cls.sink = Controller(Handler(), hostname=SINK_IP, port=25, server_hostname="sink.test")
        cls.sink.start()

    @classmethod
    def down(cls):
        if cls.sink:
            cls.sink.stop()
        for p in cls.procs:
            p.kill()
            p.wait(timeout=10)
        subprocess.run(["ip", "netns", "del", NS], check=False)


class OfflineTest(RobustCase):
    KEEP_LOCAL = False

    def submit(self, token):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.helo("laptop.example")
            s.sendmail("me@here.test", ["you@far.test"], b"X-Token: %s\r\n\r\nwritten offline\r\n" % token.encode())

    def queued(self):
        """Tokens in OutBox and Deferred; anything in Error or a staging name
        is reported as such."""
        found = collections.Counter()
        for folder, name, msg in spool_messages(self.home):
            found[token_of(msg["Data"]) if folder in ("OutBox", "Deferred") else folder + "/" + name] += 1
        return found

    def assert_running(self):
        self.assertTrue(self.relay.alive(), self.relay.log("maillog.txt")[-2000:])
        self.assertTrue(self.relay.greets())
        self.assertEqual("", self.relay.log("error.txt"))

    def test_offline_for_minutes_loses_nothing_and_delivers_once_back_online(self):
        write_ini(self.home, self.port, keep_local=False,
                  extra=b"DNSServer\t%s\r\nMaxNbrAttempt\t200\r\nAttemptDelay\t1\r\n" % DNS_IP.encode())
        self.relay.start()
        accepted = []
        end = time.monotonic() + MINUTES * 60
        while time.monotonic() < end:
            token = "off%03d" % len(accepted)
            self.submit(token)
            accepted.append(token)
            # Until the next message: every one accepted so far is kept,
            # once, in OutBox or Deferred, and the relay keeps serving.
            self.assertTrue(wait_for(lambda: self.queued() == collections.Counter(accepted), 20),
                            (self.queued(), accepted))
            next_at = min(end, time.monotonic() + SUBMIT_EVERY)
            while time.monotonic() < next_at:
                self.assert_running()
                wait_for(lambda: not self.relay.alive(), max(0.0, min(5.0, next_at - time.monotonic())))
        # Each message was tried and deferred at least once, as a time-out.
        log = lambda: self.relay.log("maillog.txt")  # noqa: E731
        deferral = "421 No MX DNS available for far.test using NS %s status=" % DNS_IP
        self.assertTrue(wait_for(lambda: log().count(deferral) >= len(accepted), 30), log()[-2000:])
        self.assertIn(" Dorvane/smtpdistant: 421 No MX DNS available for far.test using NS %s (time out)"
                      " status=error" % DNS_IP, log())

        Network.back_online()
        flush = self.control("flush")
        self.assertEqual(0, flush.returncode, flush.stderr)
        self.assertTrue(wait_for(lambda: all(Network.received[t] for t in accepted), 120),
                        (Network.received, self.relay.log("maillog.txt")[-3000:]))
        self.assertTrue(wait_for(lambda: not self.queued(), 60), self.queued())
        self.assertEqual({t: 1 for t in accepted}, {t: Network.received[t] for t in accepted})
        self.assert_running()
        quit_ = self.control("quit")
        self.assertEqual(0, quit_.returncode, quit_.stderr)
        self.assertEqual(0, self.relay.proc.wait(timeout=20))
        self.assertNotIn("Erreur fatale", self.relay.proc.stderr.read().decode("utf-8", "replace"))


def main():
    skip_unless(root=True, tools=("ip", "dnsmasq"), modules=("aiosmtpd",))
    robust_support.main(Network)


if __name__ == "__main__":
    sys.exit(main())
