"""Real mail programs submit mail to the running relay on loopback: each
accepted message must be in OutBox as a whole spool file that reads back
with every field as sent, even when the relay is killed right after the
250 reply."""
import os
import re
import smtplib
import socket
import subprocess

from e2e import RobustCase, main, read_spool, wait_for


class InboundTest(RobustCase):
    def start(self):
        return self.relay.start()

    def outbox(self):
        folder = os.path.join(self.home, "OutBox")
        return sorted(n for n in os.listdir(folder) if not n.startswith("."))

    def spool(self, name):
        return read_spool(os.path.join(self.home, "OutBox", name))

    def maillog(self):
        return self.relay.log("maillog.txt")

    def assert_one_message(self, sender, rcpts, data):
        names = self.outbox()
        self.assertEqual(1, len(names), names)
        msg = self.spool(names[0])
        self.assertEqual(names[0].encode(), msg["ID"])
        self.assertEqual(b"\r\n==> DO NOT ALTER THIS FILE !\r\n", msg["TxtEng"])
        self.assertEqual(b"\r\n==> NE PAS MODIFIER CE FICHIER !\r\n", msg["TxtFr"])
        self.assertEqual((0, b"", 0), (msg["Essai"], msg["LastError"], msg["ForSender"]))
        self.assertEqual(sender, msg["From"])
        self.assertEqual([b""] + rcpts, msg["RcptTo"])
        if data is not None:
            self.assertEqual(data, msg["Data"])
        self.assertIn(" to=%s status=outbox" % rcpts[0].decode(), self.maillog())
        return msg

    def test_swaks_submits_one_message(self):
        self.start()
        body = "Subject: swaks\r\n\r\nfirst line\r\n.leading dot\r\n"
        out = subprocess.run(["swaks", "--protocol", "SMTP", "--server", "127.0.0.1",
                              "--port", str(self.port), "--helo", "client.example",
                              "--from", "Sender@Example.ORG", "--to", "rcpt@dest.example",
                              "--data", body],
                             capture_output=True, timeout=60, text=True)
        self.assertEqual(0, out.returncode, out.stdout + out.stderr)
        # swaks dot-stuffs and ends the text with a line end of its own; the
        # relay stores the bytes as they came.
        self.assert_one_message(b"<sender@example.org>", [b"<rcpt@dest.example>"],
                                b"Subject: swaks\r\n\r\nfirst line\r\n..leading dot\r\n\r\n")

    def test_smtplib_falls_back_to_helo(self):
        self.start()
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            code, _ = s.ehlo()
            self.assertEqual(500, code)
            self.assertEqual(250, s.helo("client.example")[0])
            s.sendmail("a@b.example", ["x@y.example"], b"Subject: lib\r\n\r\nhello\r\n")
        self.assert_one_message(b"<a@b.example>", [b"<x@y.example>"],
                                b"Subject: lib\r\n\r\nhello\r\n")

    def test_curl_submits_one_message(self):
        self.start()
        body = os.path.join(self.home, "body.txt")
        with open(body, "wb") as f:
            f.write(b"Subject: curl\r\n\r\n" + b"z" * 70000 + b"\r\n")
        out = subprocess.run(["curl", "-sS", "--max-time", "60",
                              "smtp://127.0.0.1:%d/client.example" % self.port,
                              "--mail-from", "c@d.example", "--mail-rcpt", "e@f.example",
                              "--upload-file", body], capture_output=True, timeout=90)
        self.assertEqual(0, out.returncode, out.stderr)
        self.assert_one_message(b"<c@d.example>", [b"<e@f.example>"],
                                b"Subject: curl\r\n\r\n" + b"z" * 70000 + b"\r\n")

    def test_two_domains_and_megabytes_round_trip(self):
        self.start()
        lines = [("%06d " % i + "abcdefghij" * 7 + "\r\n").encode() for i in range(60000)]
        text = b"Subject: big\r\n\r\n" + b"".join(lines)
        with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as s:
            s.sendmail("me@here.example", ["a@one.example", "b@two.example", "c@one.example"], text)
        names = self.outbox()
        self.assertEqual(2, len(names), names)
        groups = {n[-2:]: self.spool(n) for n in names}
        self.assertEqual({"-0", "-1"}, set(groups))
        self.assertEqual([b"", b"<a@one.example>", b"<c@one.example>"], groups["-0"]["RcptTo"])
        self.assertEqual([b"", b"<b@two.example>"], groups["-1"]["RcptTo"])
        for msg in groups.values():
            self.assertGreater(len(msg["Data"]), 4_000_000)
            self.assertEqual(text, msg["Data"])

    def test_messages_acknowledged_before_a_kill_survive_it(self):
        relay = self.start()
        sent = {}
        clients = []
        for i in range(5):
            s = smtplib.SMTP("127.0.0.1", self.port, timeout=30)
            s.helo("client.example")
            clients.append(s)
        for i, s in enumerate(clients):
            body = ("Subject: %d\r\n\r\n" % i).encode() + os.urandom(200000).hex().encode() + b"\r\n"
            s.sendmail("s%d@here.example" % i, ["r%d@there.example" % i], body)  # 250 received
            sent[b"<r%d@there.example>" % i] = body
        relay.kill()
        for s in clients:
            s.close()
        relay.start()
        found = {}
        for name in self.outbox():
            msg = self.spool(name)
            found[msg["RcptTo"][1]] = msg["Data"]
        self.assertEqual(sent, found)

    def session(self, data, half_close=False):
        """Sends `data` at once on a new connection (then shuts the sending
        side when `half_close`) and reads until the relay closes; the reply
        lines after the greeting."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(data)
            if half_close:
                s.shutdown(socket.SHUT_WR)
            got = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                got += chunk
        lines = got.split(b"\r\n")
        self.assertEqual(b"", lines[-1], got)
        self.assertTrue(lines[0].startswith(b"220 "), got)
        return lines[1:-1]

    def outbox_recipients(self):
        return sorted(self.spool(n)["RcptTo"][1].decode() for n in self.outbox())

    def logged_recipients(self):
        return sorted(re.findall(r" to=(\S+) status=outbox", self.maillog()))

    def test_smuggled_ends_give_exactly_the_logged_messages(self):
        """A second message hidden behind an end mark in the middle of a
        packet is a message of its own, logged as such; LF "." LF ends
        nothing and spoils its message (554)."""
        self.start()
        ready = b"MAIL FROM:<a@b.example>\r\nRCPT TO:<c@d.example>\r\nDATA\r\n"
        smuggled = b"MAIL FROM:<evil@x.example>\r\nRCPT TO:<v@w.example>\r\nDATA\r\n"
        replies = self.session(b"HELO c.example\r\n" + ready + b"one\r\n.\r\n" + smuggled + b"two\r\n.\r\n"
                               + ready + b"three\n.\n" + smuggled.replace(b"\r\n", b"\n") + b"four\n.\n\r\n.\r\n"
                               + b"QUIT\r\n")
        self.assertEqual([b"250", b"250", b"250", b"354", b"250", b"250", b"250", b"354", b"250",
                          b"250", b"250", b"354", b"554", b"221"], [r[:3] for r in replies])
        self.assertEqual(b"554 5.6.0 Bare CR or LF not allowed", replies[12])
        self.assertEqual(["<c@d.example>", "<v@w.example>"], self.outbox_recipients())
        self.assertEqual(self.outbox_recipients(), self.logged_recipients())
        self.assertEqual({b"one\r\n", b"two\r\n"}, {self.spool(n)["Data"] for n in self.outbox()})

    def test_half_closing_client_gets_its_last_reply(self):
        self.start()
        replies = self.session(b"HELO c.example\r\nMAIL FROM:<a@b.example>\r\nRCPT TO:<c@d.example>\r\n"
                               b"DATA\r\nbody\r\n.\r\n", half_close=True)
        self.assertEqual(b"250 Message accepted for delivery", replies[-1])
        self.assertEqual(b"221 Dorvane Goodbye", self.session(b"HELO c.example\r\nQUIT\r\n", half_close=True)[-1])
        self.assert_one_message(b"<a@b.example>", [b"<c@d.example>"], b"body\r\n")

    def test_pipelined_client_gets_every_reply_in_order(self):
        self.start()
        replies = self.session(b"HELO c.example\r\nMAIL FROM:<a@b.example>\r\nRCPT TO:<c@d.example>\r\n"
                               b"NOOP\r\nRSET\r\nQUIT\r\n")
        self.assertEqual([b"250 Hello c.example", b"250 sender is <a@b.example> sender ok",
                          b"250 recipient is <c@d.example> recipient ok", b"250 Noop Ok.",
                          b"250 Reset Ok.", b"221 Dorvane Goodbye"], replies)

    def test_hundredth_client_is_told_to_come_back(self):
        """One address holds at most 20 slots: the 99 come from addresses
        that are this computer's own (127.0.0.x talking to itself)."""
        self.start()
        held = []
        try:
            for i in range(99):
                address = "127.0.0.%d" % (10 + i // 20)
                s = socket.create_connection((address, self.port), timeout=10, source_address=(address, 0))
                held.append(s)
                self.assertTrue(s.recv(512).startswith(b"220 "))
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as extra:
                self.assertEqual(b"421 Too many connections, try again later\r\n", extra.recv(512))
                self.assertEqual(b"", extra.recv(512))  # closed
            held.pop().close()
            self.assertTrue(wait_for(lambda: self.relay.greets(), 10))
        finally:
            for s in held:
                s.close()

    def test_relay_rule_on_other_loopback_addresses(self):
        """A client from 127.0.0.2 reaching 127.0.0.1 is a foreign host: no
        reply at all and the REJECT line. Reaching 127.0.0.2 itself, it comes
        from the address it connects to, which is this computer: served."""
        self.start()
        with socket.socket() as s:
            s.settimeout(10)
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.1", self.port))
            self.assertEqual(b"", s.recv(512))
        self.assertTrue(wait_for(lambda: "REJECT Host 127.0.0.2 relay: deny" in self.maillog()))
        with socket.socket() as s:
            s.settimeout(10)
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.2", self.port))
            self.assertTrue(s.recv(512).startswith(b"220 Server Dorvane 3.0 on 127.0.0.2 Ready ("))


if __name__ == "__main__":
    main(tools=("swaks", "curl"))
