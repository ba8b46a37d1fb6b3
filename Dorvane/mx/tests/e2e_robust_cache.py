"""A damaged DNS cache file in the program folder at start-up: the relay
starts anyway, keeps the whole entries, says so in its mail log, and writes a
sound file back when it stops."""
import os
import struct

from e2e import RobustCase, main


def text(b):
    return struct.pack("<H", len(b)) + b


def entry(domain, hosts, number=0.0):
    """One element of Hosts.dns: domain, MX list (position 0 the empty
    placeholder), spare text, number."""
    records = [(0, b"", b"", 0.0)] + hosts
    out = text(domain) + struct.pack("<HII", 1, len(records), 0)
    for order, host, ip, ttl in records:
        out += struct.pack("<h", order) + text(host) + text(ip) + struct.pack("<d", ttl)
    return out + text(b"") + struct.pack("<d", number)


def cache_file(domains):
    body = b"".join(entry(d, [(10, b"mx." + d, b"127.0.0.9", 4e9)]) for d in domains)
    return entry(b"", [], float(len(domains))) + body


class CacheFileTest(RobustCase):
    def setUp(self):
        super().setUp()
        self.path = os.path.join(self.home, "Hosts.dns")

    def run_once(self):
        """Starts the relay, checks it serves, quits it; its new mail-log lines."""
        before = len(self.relay.log("maillog.txt"))
        self.relay.start()
        self.assertTrue(self.relay.alive())
        quit_ = self.control("quit")
        self.assertEqual(0, quit_.returncode, quit_.stderr)
        self.assertEqual(0, self.relay.proc.wait(timeout=20))
        self.relay.proc.stderr.close()
        return self.relay.log("maillog.txt")[before:]

    def test_truncated_and_garbage_files_are_survived_and_rebuilt(self):
        whole = cache_file([b"one.example", b"two.example", b"three.example"])
        cases = [
            ("cut in the third entry", whole[:-20], 2),
            ("cut in the header", whole[:9], 0),
            ("garbage", os.urandom(3000), 0),
        ]
        for label, data, kept in cases:
            with self.subTest(label):
                with open(self.path, "wb") as f:
                    f.write(data)
                log = self.run_once()
                self.assertIn(" Dorvane DNS cache file Hosts.dns damaged at byte ", log)
                self.assertIn(" Dorvane Loading DNS cache (%d) [OK]" % kept, log)
                self.assertIn(" Dorvane Writing DNS cache (%d) [OK]" % kept, log)
                # The file written back reads without complaint.
                log = self.run_once()
                self.assertNotIn("damaged", log)
                self.assertIn(" Dorvane Loading DNS cache (%d) [OK]" % kept, log)


if __name__ == "__main__":
    main()
