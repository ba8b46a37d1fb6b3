"""Acceptance and delivery times of Dorvane's messages, taken from its OutBox
folder with inotify: a message is accepted when its file is renamed into
OutBox and delivered when that file is deleted. (Dorvane's acceptance line
in maillog.txt names the recipient, not the spool file, so its mail log
alone cannot pair the two moments.)"""
import ctypes
import os
import select
import struct
import threading
import time

IN_MOVED_TO = 0x00000080
IN_DELETE = 0x00000200
IN_Q_OVERFLOW = 0x00004000
_EVENT = struct.Struct("iIII")

_libc = ctypes.CDLL("libc.so.6", use_errno=True)


class SpoolWatch:
    def __init__(self, folder):
        self.fd = _libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if _libc.inotify_add_watch(self.fd, folder.encode(), IN_MOVED_TO | IN_DELETE) < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch " + folder)
        self.accepted = {}   # name -> monotonic time
        self.delivered = {}  # name -> monotonic time
        self.overflowed = False
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop:
            ready, _, _ = select.select([self.fd], [], [], 0.2)
            if not ready:
                continue
            now = time.monotonic()
            try:
                buf = os.read(self.fd, 1 << 20)
            except BlockingIOError:
                continue
            pos = 0
            while pos + _EVENT.size <= len(buf):
                _wd, mask, _cookie, length = _EVENT.unpack_from(buf, pos)
                name = buf[pos + _EVENT.size:pos + _EVENT.size + length].rstrip(b"\0").decode()
                pos += _EVENT.size + length
                if mask & IN_Q_OVERFLOW:
                    self.overflowed = True
                elif name.startswith("."):
                    continue  # a staging file
                elif mask & IN_MOVED_TO:
                    self.accepted.setdefault(name, now)
                elif mask & IN_DELETE:
                    self.delivered[name] = now
            # Woken for every event, this thread would take a good share of
            # the CPU the relay under test needs; events that come during the
            # pause are stamped when it ends, at most 10 ms late.
            time.sleep(0.01)

    def delays(self):
        """Seconds from acceptance to delivery of every message seen both ways."""
        return [self.delivered[n] - t for n, t in self.accepted.items() if n in self.delivered]

    def close(self):
        self._stop = True
        self._thread.join(timeout=5)
        os.close(self.fd)
