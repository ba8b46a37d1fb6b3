"""Delivery under trouble, in a network namespace this script creates (and
removes) and enters for its whole run: the relay killed at random moments
while clients submit and sessions deliver; damaged spool files at start-up;
exchangers that send garbage, never answer or close in the middle."""
import collections
import os
import random
import time

from e2e import (Namespace, RobustCase, ScriptedPeer, Sink, TaggingClient, World, main, spool_bytes, spool_messages,
                 spool_names, start_dnsmasq, token_of, wait_for, write_ini)

DNS_IP = "127.0.0.53"
SINK_IP = "127.0.0.30"
GARBAGE_IP, SILENT_IP, CLOSER_IP = "127.0.0.31", "127.0.0.32", "127.0.0.33"
# Exchangers named by their address: the relay connects without a lookup.
KILLS = 4
MX = [("good.test", SINK_IP), ("garbage.test", GARBAGE_IP), ("silent.test", SILENT_IP),
      ("closer.test", CLOSER_IP)]


class Trouble(World):
    """dnsmasq, a sink and the misbehaving exchangers."""

    def up(self):
        super().up()
        self.ns.add_addresses(SINK_IP, GARBAGE_IP, SILENT_IP, CLOSER_IP, DNS_IP)
        self.procs.append(start_dnsmasq(DNS_IP, *("--mx-host=%s,%s,10" % mx for mx in MX)))
        self.sink = Sink(SINK_IP)
        self.servers = [self.sink] + [ScriptedPeer(ip, mode) for ip, mode in
                                      ((GARBAGE_IP, "garbage"), (SILENT_IP, "silent"), (CLOSER_IP, "closer"))]


WORLD = Trouble(Namespace("dvrobust"))


class DeliveryRobustTest(RobustCase):
    KEEP_LOCAL = False

    def configure(self, smarthost=None):
        smarthost = {"SmtpServer": smarthost} if smarthost else {}
        write_ini(self.home, self.port, KeepLocal=False, DNSServer=DNS_IP, MaxNbrAttempt=3, AttemptDelay=60,
                  **smarthost)

    def queued_tokens(self):
        queued = collections.Counter()
        for folder, name, msg in spool_messages(self.home):
            if folder != ".staging":
                queued[token_of(msg["Data"])] += 1
        return queued

    def test_kills_while_submitting_and_delivering_lose_nothing(self):
        self.configure(smarthost=SINK_IP)
        rng = random.Random(os.getpid())
        before = WORLD.sink.count()
        self.relay.start()
        self.clients = [TaggingClient(self.port, n, body_bytes=2000).start() for n in range(20)]
        for _ in range(KILLS):
            # A flush starts the deliveries at once instead of at the next tick.
            self.control("flush")
            time.sleep(rng.uniform(0.5, 2.0))
            self.relay.kill()
            self.relay.start()
        time.sleep(1.0)
        for c in self.clients:
            c.stop()
        # Let the restarted relay finish what is queued.
        self.control("flush")
        self.assertTrue(wait_for(lambda: not self.queued_tokens(), 60),
                        (collections.Counter(f for f, _n, _m in spool_messages(self.home)),
                         self.relay.log("maillog.txt")[-1500:], self.relay.log("error.txt")[-500:]))
        acknowledged = [t for c in self.clients for t in c.acknowledged]
        self.assertGreater(len(acknowledged), 100)
        delivered = WORLD.sink.tokens()
        missing = [t for t in acknowledged if delivered[t] == 0]
        self.assertEqual([], missing[:10], "%d acknowledged messages lost" % len(missing))
        # A message whose exchanger's 250 was still unread when the relay
        # died is sent again: that is SMTP's own window, at most one message
        # per busy slot and kill. The relay must never send again a message
        # it had recorded as sent.
        sent = collections.Counter(line.split("]: ", 1)[1].split(" ", 1)[0]
                                   for line in self.relay.log("maillog.txt").split("\r\n")
                                   if " status=sent (" in line)
        self.assertEqual([], [i for i, n in sent.items() if n > 1])
        copies = sum(n - 1 for n in delivered.values() if n > 1)
        self.assertLessEqual(copies, KILLS * 99)
        self.assertGreaterEqual(WORLD.sink.count() - before, len(sent))
        self.assertEqual([], os.listdir(os.path.join(self.home, "Error")))

    def test_damaged_spool_files_are_put_aside_and_the_rest_delivered(self):
        self.configure(smarthost=SINK_IP)
        good = spool_bytes(b"GOOD1", b"<s@origin.test>", [b"<r@good.test>"],
                           b"X-Token: good-outbox\r\n\r\nbody\r\n")
        damaged = {
            ("OutBox", "CUT1"): good[:-7],
            ("OutBox", "ZERO1"): b"",
            ("Deferred", "JUNK1"): os.urandom(500),
            ("Deferred", "LONG1"): good + b"trailing",
        }
        files = dict(damaged)
        files[("OutBox", "GOOD1")] = good
        files[("Deferred", "GOOD2")] = good.replace(b"good-outbox", b"good-deferr").replace(b"GOOD1", b"GOOD2")
        for (folder, name), data in files.items():
            os.makedirs(os.path.join(self.home, folder), exist_ok=True)
            with open(os.path.join(self.home, folder, name), "wb") as f:
                f.write(data)
        self.relay.start()
        self.control("flush")
        tokens = WORLD.sink.tokens
        self.assertTrue(wait_for(lambda: tokens()["good-outbox"] and tokens()["good-deferr"], 30),
                        self.relay.log("maillog.txt"))
        put_aside = sorted(n for _f, n in damaged)
        self.assertTrue(wait_for(lambda: sorted(os.listdir(os.path.join(self.home, "Error"))) == put_aside, 30),
                        self.relay.log("error.txt"))
        errors = self.relay.log("error.txt")
        for _folder, name in damaged:
            self.assertIn(" %s The spool file cannot be read as a message (" % name, errors)
        # The receiver counts a message before the relay has read its 250
        # and removed the file: wait for the removal, do not race it.
        left = lambda: spool_names(os.path.join(self.home, "OutBox")) + spool_names(os.path.join(self.home, "Deferred"))
        self.assertTrue(wait_for(lambda: not left(), 30), left())
        self.assertTrue(self.relay.alive())

    def test_bad_exchangers_end_each_message_somewhere(self):
        self.configure()
        self.relay.start()
        for domain in ("garbage.test", "closer.test", "silent.test", "good.test"):
            self.submit("to-" + domain, "s@good.test", "r@" + domain)

        def tokens_in(folder):
            return sorted(token_of(m["Data"]) for f, _n, m in spool_messages(self.home)
                          if f == folder and not m["ForSender"])

        def delay_notices(token):
            return [b for b in (m["data"] for m in WORLD.sink.messages()) if b"Mail Delivery Delayed" in b and token.encode() in b]
        # Garbage, and a hang-up after HELO: each deferred at once with one
        # delay notice to the sender (nothing flushes them back); the good
        # one is delivered. Only the timer dispatches here.
        self.assertTrue(wait_for(lambda: tokens_in("Deferred") == ["to-closer.test", "to-garbage.test"], 40),
                        (tokens_in("Deferred"), self.relay.log("maillog.txt")[-3000:]))
        self.assertTrue(wait_for(lambda: WORLD.sink.tokens()["to-good.test"] == 1, 30))
        for token in ("to-closer.test", "to-garbage.test"):
            self.assertTrue(wait_for(lambda: delay_notices(token), 30), token)
        # The mute exchanger holds its message in OutBox, owned by a session
        # that its reply limit will end; it is neither lost nor doubled, and
        # the relay goes on delivering meanwhile.
        self.assertTrue(wait_for(lambda: tokens_in("OutBox") == ["to-silent.test"], 30),
                        (tokens_in("OutBox"), self.relay.log("maillog.txt")[-3000:]))
        self.submit("after-silent", "s@good.test", "r@good.test")
        self.assertTrue(wait_for(lambda: WORLD.sink.tokens()["after-silent"] == 1, 25))
        self.assertTrue(wait_for(lambda: tokens_in("OutBox") == ["to-silent.test"], 10), tokens_in("OutBox"))
        self.assertEqual([1, 1], [len(delay_notices(t)) for t in ("to-closer.test", "to-garbage.test")])
        self.assertTrue(self.relay.alive())


if __name__ == "__main__":
    main(WORLD, root=True, tools=("ip", "dnsmasq"), modules=("aiosmtpd",))
