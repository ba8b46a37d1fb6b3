"""Hostile clients on the listener: random bytes, a 1 MiB command without a
line end, clients that vanish in the middle of the message text, a client
that never reads its replies, and a full house of idle clients. The relay keeps serving, frees what they held, and
never leaves a partial message in the spool."""
import random
import smtplib
import socket
import struct

from e2e import RobustCase, main, spool_messages, wait_for


def reset(sock):
    """Closes with a TCP reset instead of a clean end."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def read_reply(sock):
    data = b""
    while not data.endswith(b"\r\n"):
        chunk = sock.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


class ListenerTest(RobustCase):
    def setUp(self):
        super().setUp()
        self.relay.start()
        self.open = []

    def tearDown(self):
        for s in self.open:
            s.close()
        super().tearDown()

    def client(self, greet=True, n=0):
        """A client; from the 21st on, clients come from other addresses of
        this computer (127.0.0.x talking to itself), 20 to an address, the
        most one address may hold."""
        address = "127.0.0.%d" % (1 + n // 20)
        s = socket.create_connection((address, self.port), timeout=10, source_address=(address, 0))
        self.open.append(s)
        if greet:
            self.assertTrue(read_reply(s).startswith(b"220 "))
        return s

    def greeted(self, kept):
        """Tops `kept` up to 99 greeted clients; False at the first refusal."""
        while len(kept) < 99:
            s = self.client(greet=False, n=len(kept))
            if not read_reply(s).startswith(b"220 "):
                return False
            kept.append(s)
        return True

    def command(self, s, line):
        s.sendall(line + b"\r\n")
        return read_reply(s)

    def in_data(self, n):
        """A client that has sent part of a message text."""
        s = self.client(n=n)
        self.command(s, b"HELO c%d.example" % n)
        self.command(s, b"MAIL FROM:<a@b.example>")
        self.command(s, b"RCPT TO:<c@d.example>")
        self.assertEqual(b"354 ", self.command(s, b"DATA")[:4])
        s.sendall(b"Subject: cut\r\n\r\n" + b"x" * 5000 + b"\r\n")
        return s

    def submit(self):
        """One good message; False when the relay is still full (421)."""
        try:
            with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as smtp:
                smtp.helo("ok.example")
                smtp.sendmail("ok@b.example", ["r@d.example"], b"Subject: ok\r\n\r\nfine\r\n")
            return True
        except smtplib.SMTPConnectError as e:
            if e.smtp_code != 421:
                raise
            return False

    def assert_serves_and_spool_holds_only(self, count):
        self.assertTrue(wait_for(self.submit, 10))
        messages = spool_messages(self.home)
        self.assertEqual([], [n for f, n, _ in messages if f == ".staging"])
        self.assertEqual(count, len(messages), [n for _f, n, _m in messages])
        self.assertTrue(all(m["From"] == b"<ok@b.example>" for _f, _n, m in messages))
        self.assertTrue(self.relay.alive())

    def test_garbage_and_cut_messages_leave_nothing_behind(self):
        rng = random.Random(7)
        for _ in range(5):  # random bytes, then gone
            s = self.client()
            s.sendall(bytes(rng.randrange(256) for _ in range(20000)))
            reset(s) if rng.random() < 0.5 else s.close()

        s = self.client()
        s.sendall(b"HELO " + b"A" * (1 << 20))
        self.assertEqual(b"500 Line too long.\r\n", self.command(s, b""))
        self.assertEqual(b"250 Noop Ok.\r\n", self.command(s, b"NOOP"))

        self.in_data(1).close()
        reset(self.in_data(2))
        cut = self.in_data(3)
        cut.sendall(b"\r\n.")  # the end line without its line end
        cut.close()
        self.assert_serves_and_spool_holds_only(1)

    def test_client_that_never_reads_is_dropped(self):
        """Pipelined commands whose replies are never read: the relay drops
        the connection once they pile up, instead of buffering them."""
        s = self.client()
        try:
            s.sendall(b"NOOP\r\n" * 1_000_000)  # 12 MB of replies owed
        except OSError:
            pass  # dropped while still sending
        s.settimeout(30)
        try:
            while s.recv(1 << 20):
                pass
        except ConnectionResetError:
            pass
        self.assert_serves_and_spool_holds_only(1)

    def test_full_house_is_freed_when_clients_vanish(self):
        held = []
        for n in range(99):  # every slot, in all sorts of states
            if n % 3 == 0:
                held.append(self.in_data(n))
            else:
                s = self.client(n=n)
                s.sendall(b"HELO half-a-comma")  # no line end yet
                held.append(s)
        extra = self.client(greet=False)
        self.assertEqual(b"421 Too many connections, try again later\r\n", read_reply(extra))
        for i, s in enumerate(held):
            reset(s) if i % 2 else s.close()
        # Every slot comes back: 99 new clients are all greeted, once the
        # relay has seen the old ones go.
        again = []
        self.assertTrue(wait_for(lambda: self.greeted(again), 10), len(again))
        for s in again:
            s.close()
        self.assert_serves_and_spool_holds_only(1)


if __name__ == "__main__":
    main()
