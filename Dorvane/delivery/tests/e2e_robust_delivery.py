"""Delivery under trouble, in a network namespace this script creates (and
removes) and enters for its whole run: the relay killed at random moments
while clients submit and sessions deliver; damaged spool files at start-up;
exchangers that send garbage, never answer or close in the middle."""
import collections
import json
import os
import random
import smtplib
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "service", "tests"))
from relay_support import skip_unless, wait_for  # noqa: E402
import robust_support  # noqa: E402
from robust_support import RobustCase, TaggingClient, spool_messages, token_of, write_ini  # noqa: E402

NS = "dvrobust%d" % os.getpid()
DNS_IP = "127.0.0.53"
SINK_IP = "127.0.0.30"
GARBAGE_IP, SILENT_IP, CLOSER_IP = "127.0.0.31", "127.0.0.32", "127.0.0.33"
# Exchangers named by their address: the relay connects without a lookup.
KILLS = 4
MX = [("good.test", SINK_IP), ("garbage.test", GARBAGE_IP), ("silent.test", SILENT_IP),
      ("closer.test", CLOSER_IP)]


class Sink:
    """aiosmtpd on SINK_IP:25; counts every message by its first line."""

    def __init__(self):
        from aiosmtpd.controller import Controller
        self.tokens = collections.Counter()
        self.bodies = []
        self.lock = threading.Lock()
        sink = self

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                data = envelope.content
                with sink.lock:
                    sink.bodies.append(data)
                    sink.tokens[token_of(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))] += 1
                return "250 2.0.0 Ok"

        # A fixed name: the default asks DNS, which this namespace lacks.
        self.controller = Controller(Handler(), hostname=SINK_IP, port=25, server_hostname="sink.test")
        self.controller.start()

    def count(self):
        with self.lock:
            return sum(self.tokens.values())


class ScriptedPeer(threading.Thread):
    """An exchanger that misbehaves: "garbage" answers everything with random
    bytes and hangs up after two seconds, "silent" accepts and never says a
    word, "closer" greets, takes HELO and hangs up at MAIL."""

    def __init__(self, ip, mode):
        super().__init__(daemon=True)
        self.mode = mode
        self.server = socket.create_server((ip, 25))
        self.held = []

    def run(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        conn.settimeout(5)
        try:
            if self.mode == "silent":
                self.held.append(conn)  # open and mute until the script ends
                return
            if self.mode == "garbage":
                conn.sendall(bytes(random.randrange(256) for _ in range(300)) + b"\r\n")
                time.sleep(2)
            if self.mode == "closer":
                conn.sendall(b"220 closer ready\r\n")
                if conn.recv(512).upper().startswith(b"HELO"):
                    conn.sendall(b"250 hello\r\n")
                conn.recv(512)  # MAIL FROM
            conn.close()
        except OSError:
            conn.close()


class World:
    sink = None
    peers = []
    procs = []

    @classmethod
    def up(cls):
        robust_support.enter_namespace(NS)
        for a in ("127.0.0.30", "127.0.0.31", "127.0.0.32", "127.0.0.33", DNS_IP):
            subprocess.run(["ip", "addr", "add", a + "/8", "dev", "lo"], check=True)
        dnsmasq = ["dnsmasq", "--keep-in-foreground", "--no-resolv", "--no-hosts", "--no-poll",
                   "--conf-file=/dev/null", "--pid-file=", "--user=root", "--group=root",
                   "--bind-interfaces", "--listen-address=" + DNS_IP, "--port=53"]
        dnsmasq += ["--mx-host=%s,%s,10" % mx for mx in MX]
        cls.procs.append(subprocess.Popen(dnsmasq, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        cls.sink = Sink()
        for ip, mode in ((GARBAGE_IP, "garbage"), (SILENT_IP, "silent"), (CLOSER_IP, "closer")):
            peer = ScriptedPeer(ip, mode)
            peer.start()
            cls.peers.append(peer)

    @classmethod
    def down(cls):
        if cls.sink:
            cls.sink.controller.stop()
        for peer in cls.peers:
            peer.server.close()
        for p in cls.procs:
            p.kill()
            p.wait(timeout=10)
        subprocess.run(["ip", "netns", "del", NS], check=False)


def spool_bytes(msg_id, sender, rcpts, data, essai=0):
    """A spool file as the relay writes it."""
    def text(b):
        return (len(b).to_bytes(2, "little") if len(b) < 0xFFFF
                else b"\xff\xff" + len(b).to_bytes(4, "little")) + b
    out = text(msg_id) + text(b"\r\n==> DO NOT ALTER THIS FILE !\r\n")
    out += text(b"\r\n==> NE PAS MODIFIER CE FICHIER !\r\n") + bytes([essai]) + text(b"")
    out += b"\x00\x00" + text(sender) + (1).to_bytes(2, "little")
    out += (len(rcpts) + 1).to_bytes(4, "little") + (0).to_bytes(4, "little") + text(b"")
    return out + b"".join(text(r) for r in rcpts) + text(data)


class DeliveryRobustTest(RobustCase):
    KEEP_LOCAL = False

    def configure(self, smarthost=None):
        settings = b"DNSServer\t%s\r\nMaxNbrAttempt\t3\r\nAttemptDelay\t60\r\n" % DNS_IP.encode()
        write_ini(self.home, self.port, keep_local=False, smtp_server=smarthost, extra=settings)

    def queued_tokens(self):
        queued = collections.Counter()
        for folder, name, msg in spool_messages(self.home):
            if folder != ".staging":
                queued[token_of(msg["Data"])] += 1
        return queued

    def test_kills_while_submitting_and_delivering_lose_nothing(self):
        self.configure(smarthost=SINK_IP)
        rng = random.Random(os.getpid())
        before = World.sink.count()
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
        delivered = World.sink.tokens
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
        self.assertGreaterEqual(World.sink.count() - before, len(sent))
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
        tokens = World.sink.tokens
        self.assertTrue(wait_for(lambda: tokens["good-outbox"] and tokens["good-deferr"], 30),
                        self.relay.log("maillog.txt"))
        put_aside = sorted(n for _f, n in damaged)
        self.assertTrue(wait_for(lambda: sorted(os.listdir(os.path.join(self.home, "Error"))) == put_aside, 30),
                        self.relay.log("error.txt"))
        errors = self.relay.log("error.txt")
        for _folder, name in damaged:
            self.assertIn(" %s The spool file cannot be read as a message (" % name, errors)
        self.assertEqual([], os.listdir(os.path.join(self.home, "OutBox")))
        self.assertEqual([], os.listdir(os.path.join(self.home, "Deferred")))
        self.assertTrue(self.relay.alive())

    def submit(self, token, rcpt):
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.helo("client.example")
            s.sendmail("s@good.test", [rcpt], b"X-Token: %s\r\n\r\nbody\r\n" % token.encode())
        self.control("flush")

    def test_bad_exchangers_end_each_message_somewhere(self):
        self.configure()
        self.relay.start()
        for domain in ("garbage.test", "closer.test", "silent.test", "good.test"):
            self.submit("to-" + domain, "r@" + domain)

        def deferred_tokens():
            return sorted(token_of(m["Data"]) for f, _n, m in spool_messages(self.home) if f == "Deferred")
        # Garbage then a hang-up, and a hang-up after HELO: deferred, with a
        # delay notice each to the sender; the good one is delivered.
        self.assertTrue(wait_for(lambda: deferred_tokens() == ["to-closer.test", "to-garbage.test"], 40),
                        (deferred_tokens(), self.relay.log("maillog.txt")[-3000:]))
        self.assertTrue(wait_for(lambda: World.sink.tokens["to-good.test"] == 1, 20))
        notices = lambda: [b for b in World.sink.bodies if b"Mail Delivery Delayed" in b]  # noqa: E731
        self.assertTrue(wait_for(lambda: len(notices()) >= 2, 30))
        # The mute exchanger holds its message in OutBox, owned by a session
        # that its reply limit will end; it is neither lost nor doubled, and
        # the relay goes on delivering meanwhile.
        waiting = [m for f, _n, m in spool_messages(self.home) if f == "OutBox" and not m["ForSender"]]
        self.assertEqual(["to-silent.test"], [token_of(m["Data"]) for m in waiting])
        self.submit("after-silent", "r@good.test")
        self.assertTrue(wait_for(lambda: World.sink.tokens["after-silent"] == 1, 20))
        self.assertTrue(self.relay.alive())


def main():
    skip_unless(root=True, tools=("ip", "dnsmasq"), modules=("aiosmtpd",))
    robust_support.main(World)


if __name__ == "__main__":
    sys.exit(main())
