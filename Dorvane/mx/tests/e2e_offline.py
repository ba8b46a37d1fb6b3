"""An offline laptop: the DNS server has no route (the send fails on this
machine itself), mail keeps arriving for DORVANE_OFFLINE_MINUTES (default
10) minutes, and the relay must stay up, keep every accepted message and
defer it; when the network comes back, every message is delivered once.
All of it in a network namespace this script creates, enters and removes,
on loopback addresses only."""
import collections
import os
import time

from e2e import (Namespace, RobustCase, Sink, World, main, spool_messages, start_dnsmasq, token_of, wait_for,
                 write_ini)

DNS_IP = "127.0.0.99"
SINK_IP = "127.0.0.30"
MINUTES = float(os.environ.get("DORVANE_OFFLINE_MINUTES", "10"))
SUBMIT_EVERY = 25  # seconds between two messages


class Offline(World):
    """DNS_IP has no route until back_online()."""
    sink = None

    def up(self):
        super().up()
        self.ns.add_addresses(DNS_IP, SINK_IP)
        self.ns.block(DNS_IP)

    def back_online(self):
        # The exchanger listens before its route can be found. Otherwise a
        # dispatch in between is refused, deferred with a delay notice to
        # here.test, which this world gives no route, and that notice is
        # deferred again at every attempt: the queue would never empty.
        self.sink = Sink(SINK_IP)
        self.servers.append(self.sink)
        self.ns.unblock(DNS_IP)
        self.procs.append(start_dnsmasq(DNS_IP, "--mx-host=far.test,%s,10" % SINK_IP))

    def received(self, token):
        return self.sink.tokens()[token]


WORLD = Offline(Namespace("dvoffline"))


class OfflineTest(RobustCase):
    KEEP_LOCAL = False

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
        write_ini(self.home, self.port, KeepLocal=False, DNSServer=DNS_IP, MaxNbrAttempt=200, AttemptDelay=1)
        self.relay.start()
        accepted = []
        end = time.monotonic() + MINUTES * 60
        while time.monotonic() < end:
            token = "off%03d" % len(accepted)
            self.submit(token, "me@here.test", "you@far.test", b"written offline")
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

        WORLD.back_online()
        flush = self.control("flush")
        self.assertEqual(0, flush.returncode, flush.stderr)
        self.assertTrue(wait_for(lambda: all(WORLD.received(t) for t in accepted), 120),
                        (WORLD.sink.tokens(), self.relay.log("maillog.txt")[-3000:]))
        self.assertTrue(wait_for(lambda: not self.queued(), 60), (self.queued(), log()[-3000:]))
        self.assertEqual({t: 1 for t in accepted}, {t: WORLD.received(t) for t in accepted})
        self.assert_running()
        quit_ = self.control("quit")
        self.assertEqual(0, quit_.returncode, quit_.stderr)
        self.assertEqual(0, self.relay.proc.wait(timeout=20))
        self.assertNotIn("Erreur fatale", self.relay.proc.stderr.read().decode("utf-8", "replace"))


if __name__ == "__main__":
    main(WORLD, root=True, tools=("ip", "dnsmasq"), modules=("aiosmtpd",))
