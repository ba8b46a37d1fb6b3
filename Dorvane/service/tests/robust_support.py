"""Helpers of the robustness scripts: a relay that can be killed and started
again on the same folder, clients that tag each message with a token, and a
check of a whole spool."""
import hashlib
import os
import signal
import smtplib
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from relay_support import free_port, read_spool, script_args, skip_unless, wait_for

SPOOL_FOLDERS = ("OutBox", "Deferred", "Error")
ARGS = None  # the script's command line, set by main()


def write_ini(home, port, keep_local=True, smtp_server=None, extra=b""):
    ini = (b"<Global>\r\n\tLaunchStart\tOn\r\n\tKeepLocal\t%s\r\n\tDNSServer\t127.0.0.1\r\n"
           b"</Global>\r\n<Network>\r\n\tListenPort\t%d\r\n</Network>\r\n"
           % (b"On" if keep_local else b"Off", port))
    if smtp_server:
        ini += b"SmtpServer\t%s\r\n" % smtp_server.encode()
    with open(os.path.join(home, "Dorvane.ini"), "wb") as f:
        f.write(ini + extra)


class Relay:
    """The program on one folder; start() may be called again after kill()."""

    def __init__(self, dorvane, home, port):
        self.dorvane, self.home, self.port, self.proc = dorvane, home, port, None

    def env(self):
        return dict(os.environ, DORVANE_REGISTRY_ROOT=self.home,
                    XDG_CONFIG_HOME=os.path.join(self.home, "xdg"))

    def start(self, timeout=20):
        self.proc = subprocess.Popen([self.dorvane, "--headless", "--home", self.home],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=self.env())
        if not wait_for(self.greets, timeout):
            raise RuntimeError("relay does not greet on %d" % self.port)
        return self

    def greets(self):
        """Whether a new client is greeted. The probe comes from an address
        of its own (this computer talking to itself on 127.0.0.254), so the
        test's clients on 127.0.0.1 never use up its share of slots."""
        import socket
        try:
            with socket.create_connection(("127.0.0.254", self.port), timeout=1,
                                          source_address=("127.0.0.254", 0)) as s:
                s.settimeout(2)
                return s.recv(512).startswith(b"220 ")
        except OSError:
            return False

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
        if self.proc:
            self.proc.wait(timeout=10)
            self.proc.stderr.close()

    def log(self, name):
        path = os.path.join(self.home, name)
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")


def spool_messages(home):
    """(folder, name, fields) of every queued file; staging files ('.' names)
    are reported as folder '.staging' so a caller can insist there are none.
    A running relay may take files away meanwhile: those are left out."""
    out = []
    for folder in SPOOL_FOLDERS:
        path = os.path.join(home, folder)
        for name in sorted(os.listdir(path)):
            if name.startswith("."):
                out.append((".staging", name, None))
                continue
            try:
                out.append((folder, name, read_spool(os.path.join(path, name))))
            except FileNotFoundError:
                pass  # delivered (or moved) while the spool was being read
    return out


def token_of(data):
    """The token a TaggingClient put on the first line of a message."""
    first = data.split(b"\r\n", 1)[0]
    return first[len(b"X-Token: "):].decode() if first.startswith(b"X-Token: ") else None


class TaggingClient:
    """Submits messages, each with a unique token on its first header line,
    until stopped or `max_messages` were tried; remembers the tokens the
    relay acknowledged with 250 (with the digest of what was sent) and the
    reply code of each refused one. Any failure (the relay killed, a
    refusal) drops the connection and the client tries again with a new
    message."""

    def __init__(self, port, number, body_bytes=3000, max_messages=None):
        self.port, self.number, self.body_bytes = port, number, body_bytes
        self.max_messages = max_messages
        self.acknowledged = []
        self.digests = {}  # token -> sha256 of the message text sent
        self.refused = []  # (token, reply code)
        self.failures = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=30)

    def _more(self, seq):
        return not self._stop.is_set() and (self.max_messages is None or seq < self.max_messages)

    def _run(self):
        seq = 0
        while self._more(seq):
            token = None
            try:
                with smtplib.SMTP("127.0.0.1", self.port, timeout=10) as s:
                    s.helo("client%d.example" % self.number)
                    while self._more(seq):
                        seq += 1
                        token = "c%d-m%d" % (self.number, seq)
                        hexed = os.urandom(self.body_bytes // 2).hex().encode()
                        lines = [hexed[k:k + 76] for k in range(0, len(hexed), 76)]  # SMTP's line limit
                        body = (b"X-Token: " + token.encode() + b"\r\nSubject: robust\r\n\r\n"
                                + b"\r\n".join(lines) + b"\r\n")
                        s.sendmail("s%d@here.example" % self.number, ["r@there.example"], body)
                        self.digests[token] = hashlib.sha256(body).hexdigest()
                        self.acknowledged.append(token)
            except (OSError, smtplib.SMTPException) as e:
                code = getattr(e, "smtp_code", None)
                if code is None and isinstance(e, smtplib.SMTPRecipientsRefused):
                    code = next(iter(e.recipients.values()))[0]
                if code is not None:
                    self.refused.append((token, code))
                self.failures += 1
                time.sleep(0.05)


class RobustCase(unittest.TestCase):
    """A temporary program folder with Dorvane.ini written for a free port,
    and a relay on it (not started); the relay and the TaggingClients put in
    self.clients are stopped and everything removed after the test."""

    KEEP_LOCAL = True

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.port = free_port()
        write_ini(self.home, self.port, keep_local=self.KEEP_LOCAL)
        self.relay = Relay(ARGS.dorvane, self.home, self.port)
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.stop()
        self.relay.kill()
        self.tmp.cleanup()

    def control(self, *words):
        """Runs a control command (quit, flush, status, ...) on the relay."""
        return subprocess.run([ARGS.dorvane, "--home", self.home, *words], capture_output=True,
                              timeout=20, text=True, env=self.relay.env())


def enter_namespace(name):
    """Creates the network namespace `name` with its loopback up and moves
    this process into it; call before any thread starts, so every thread and
    child lives there too. The caller removes it (ip netns del) when done."""
    import ctypes
    subprocess.run(["ip", "netns", "add", name], check=True)
    subprocess.run(["ip", "-n", name, "link", "set", "lo", "up"], check=True)
    fd = os.open("/run/netns/" + name, os.O_RDONLY)
    try:
        if ctypes.CDLL("libc.so.6", use_errno=True).setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
            raise OSError(ctypes.get_errno(), "setns")
    finally:
        os.close(fd)


def parse_args():
    """Reads the arguments every end-to-end script gets into ARGS; returns
    the rest, for unittest."""
    global ARGS
    ARGS, rest = script_args()
    return rest


def main(world=None):
    """Parses the arguments, brings `world` up (its up()) if there is one,
    runs the script's tests and always brings the world down again (its
    down()); ends the script with the tests' outcome (77 when some skipped)."""
    try:
        rest = parse_args()
        if world:
            world.up()
        result = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False).result
    finally:
        if world:
            world.down()
    skip_unless(result=result)
