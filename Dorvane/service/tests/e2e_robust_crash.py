"""The relay is killed (SIGKILL) at random moments while 20 clients submit:
after each restart, every message that got its 250 is queued exactly once
and whole; a message cut off by the kill is either whole or absent."""
import collections
import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from relay_support import wait_for  # noqa: E402
from robust_support import RobustCase, TaggingClient, main, spool_messages, token_of  # noqa: E402
CLIENTS = 20
KILLS = 4


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


if __name__ == "__main__":
    main()
