"""The relay is killed (SIGKILL) at random moments while 20 clients submit:
after each restart, every message that got its 250 is queued exactly once
and whole; a message cut off by the kill is either whole or absent. And a
program folder on a small file system that a flood fills: the relay keeps
running and mail flows again once space is freed."""
import collections
import hashlib
import os
import random
import subprocess
import time
import unittest

from e2e import RobustCase, TaggingClient, main, spool_messages, spool_names, token_of, wait_for, write_ini

CLIENTS = 20
KILLS = 4
DISK_MB = 50
FLOOD_CLIENTS = 4
FLOOD_MESSAGE_BYTES = 400_000  # so about a hundred messages fill the disk
FLOOD_MAX_MESSAGES = 120  # per client: bounded even if nothing is refused
LATE_MESSAGES = 40  # enough log lines to need a new page of the full disk


class CrashTest(RobustCase):
    def test_acknowledged_messages_survive_random_kills_once_and_whole(self):
        rng = random.Random(os.getpid())
        self.relay.start()
        self.clients = [TaggingClient(self.port, n).start() for n in range(CLIENTS)]
        for _ in range(KILLS):
            time.sleep(rng.uniform(0.3, 1.5))
            self.relay.kill()
            self.relay.start()
        time.sleep(1.0)
        for c in self.clients:
            c.stop()
        self.relay.kill()

        acknowledged = [t for c in self.clients for t in c.acknowledged]
        self.assertGreater(len(acknowledged), 100, "too few messages went through to judge")
        queued = collections.Counter()
        for folder, name, msg in spool_messages(self.home):
            if folder == ".staging":
                continue  # a write the kill cut short; never taken for a message
            self.assertEqual(name.encode(), msg["ID"], name)
            self.assertEqual([b"", b"<r@there.example>"], msg["RcptTo"], name)
            token = token_of(msg["Data"])
            self.assertIsNotNone(token, name)
            self.assertTrue(msg["Data"].endswith(b"\r\n"), name)
            queued[token] += 1
        missing = [t for t in acknowledged if queued[t] == 0]
        doubled = [t for t, n in queued.items() if n > 1]
        self.assertEqual([], missing[:10], "%d acknowledged messages lost" % len(missing))
        self.assertEqual([], doubled[:10])

        # After all this the relay still starts and serves on the same folder.
        self.relay.start()
        probe = TaggingClient(self.port, 99).start()
        self.assertTrue(wait_for(lambda: probe.acknowledged, 10))
        probe.stop()


@unittest.skipUnless(os.geteuid() == 0, "needs root to mount a tmpfs")
class FullDiskTest(RobustCase):
    def setUp(self):
        super().setUp()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm,mode=0700" % DISK_MB, "tmpfs", self.home],
                       check=True)
        write_ini(self.home, self.port, KeepLocal=True, DNSServer="127.0.0.1")

    def tearDown(self):
        for c in self.clients:
            c.stop()
        self.relay.kill()
        subprocess.run(["umount", self.home], check=False)
        super().tearDown()

    def queued(self):
        """token -> digest of the text of every whole message in the spool."""
        return {token_of(m["Data"]): hashlib.sha256(m["Data"]).hexdigest()
                for folder, _name, m in spool_messages(self.home) if folder != ".staging"}

    def fill_the_rest(self):
        """Takes every byte left, as another program would; the file is
        removed with the rest when space is freed."""
        fd = os.open(os.path.join(self.home, "ballast"), os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            for _ in range(DISK_MB * 16 + 100):  # bounded: 64 KiB at a time
                if os.write(fd, b"\0" * 65536) == 0:
                    break
        except OSError:
            pass
        finally:
            os.close(fd)

    def test_full_disk_refuses_with_452_keeps_running_and_flows_again_once_freed(self):
        self.relay.start()
        self.clients = [TaggingClient(self.port, n, FLOOD_MESSAGE_BYTES, FLOOD_MAX_MESSAGES).start()
                        for n in range(FLOOD_CLIENTS)]
        refused = lambda: [r for c in self.clients for r in c.refused]  # noqa: E731
        self.assertTrue(wait_for(lambda: len(refused()) >= 2 * FLOOD_CLIENTS, 120),
                        "no refusals; disk %s" % os.statvfs(self.home).f_bavail)
        for c in self.clients:
            c.stop()

        # Not a byte left, not even for a log line: still refusals, no end.
        self.fill_the_rest()
        late = TaggingClient(self.port, 50, 3000, max_messages=LATE_MESSAGES).start()
        self.clients.append(late)
        self.assertTrue(wait_for(lambda: len(late.refused) == LATE_MESSAGES, 30), late.refused)
        self.assertTrue(self.relay.alive(), "the relay ended on a full disk")

        queued = self.queued()
        acknowledged = {t: d for c in self.clients for t, d in c.digests.items()}
        self.assertGreater(len(acknowledged), 20, "the disk filled too soon to judge")
        self.assertEqual({}, {t: d for t, d in acknowledged.items() if queued.get(t) != d},
                         "acknowledged messages missing or not whole")
        self.assertEqual([], [(t, code) for t, code in refused() if code not in (451, 452)])
        # The free-space check answers before any byte is written, long
        # before a write runs out of room.
        self.assertIn(452, {code for _t, code in refused()})
        self.assertEqual([], [t for t, _code in refused() if t in queued], "a refused message was queued")

        # A crash on the full disk leaves its lock: the next start must not
        # take it for a live instance.
        self.relay.kill()
        self.relay.start()

        os.unlink(os.path.join(self.home, "ballast"))
        for name in spool_names(os.path.join(self.home, "OutBox"))[: len(queued) // 2]:
            os.unlink(os.path.join(self.home, "OutBox", name))
        probe = TaggingClient(self.port, 99, FLOOD_MESSAGE_BYTES, max_messages=3).start()
        self.clients.append(probe)
        self.assertTrue(wait_for(lambda: probe.acknowledged, 20), probe.refused)
        token = probe.acknowledged[0]
        self.assertEqual(probe.digests[token], self.queued().get(token))
        self.assertTrue(self.relay.alive())


if __name__ == "__main__":
    main()
