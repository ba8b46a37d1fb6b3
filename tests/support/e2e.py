"""What the end-to-end scripts share: how a script that cannot run says so,
its arguments and test run, a bounded wait, a free port, the spool file
format, the settings file, the relay as a process, clients that tag their
messages, network namespaces, dnsmasq, and exchangers (an aiosmtpd sink and
scripted misbehaving ones). CTest puts this folder on PYTHONPATH."""
import argparse
import collections
import ctypes
import hashlib
import importlib.util
import os
import random
import select
import shutil
import signal
import smtplib
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIP_CODE = 77  # the scripts' SKIP_RETURN_CODE in CTest
NO_SKIP_VARIABLE = "DORVANE_E2E_NO_SKIP"  # tests/run-all sets it in CI
SPOOL_FOLDERS = ("OutBox", "Deferred", "Error")
ARGS = None  # the script's command line (--dorvane, --mxfinder, --bin-dir), set by main()

# ---------------------------------------------------------------- the run


def _have_tool(name):
    return bool(shutil.which(name)) or any(os.path.exists(d + name) for d in ("/usr/sbin/", "/sbin/"))


def missing_needs(root=False, tools=(), modules=()):
    """What of root, the command-line `tools` and the Python `modules` this
    machine lacks, as words for a "skipped: needs ..." line."""
    missing = ["root"] if root and os.geteuid() != 0 else []
    missing += [t for t in tools if not _have_tool(t)]
    missing += [m for m in modules if importlib.util.find_spec(m) is None]
    return missing


def skip_unless(root=False, tools=(), modules=(), result=None):
    """Ends the script as skipped when it cannot run: it lacks root, a tool
    or a module, or (given the unittest `result`) some of its tests skipped
    themselves. A skip exits 77, which CTest shows as skipped, never as
    passed; where NO_SKIP_VARIABLE is 1 (CI, as root with every tool) a skip
    is a failure (exit 1). With a result and nothing skipped, exits 0 or 1
    as the tests went; without one, returns when the script can run."""
    missing = missing_needs(root, tools, modules)
    reasons = ["needs " + ", ".join(missing)] if missing else []
    if result is not None:
        if not result.wasSuccessful():
            sys.exit(1)
        reasons += ["%s: %s" % (test.id().rsplit(".", 1)[-1], why) for test, why in result.skipped]
    if not reasons:
        if result is not None:
            sys.exit(0)
        return
    print("skipped: " + "; ".join(reasons))
    if os.environ.get(NO_SKIP_VARIABLE) == "1":
        print("a skip is a failure here (%s=1)" % NO_SKIP_VARIABLE)
        sys.exit(1)
    sys.exit(SKIP_CODE)


def main(world=None, root=False, tools=(), modules=()):
    """Reads the arguments into ARGS, skips the script unless it has root,
    `tools` and `modules` as asked, brings `world` up (its up()) if there is
    one, runs the script's tests and always brings the world down again (its
    down()); ends the script with the tests' outcome (77 when some skipped)."""
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--dorvane", "--mxfinder", "--bin-dir"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    skip_unless(root, tools, modules)
    try:
        if world:
            world.up()
        result = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        if world:
            world.down()
    skip_unless(result=result)


def free_port():
    """A free port that fits ListenPort (a 16-bit signed number)."""
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


def read_lines(stream, count, timeout=10.0):
    """Up to `count` lines of the binary pipe `stream`, as text without
    their line ends; stops early at its end or when `timeout` s pass."""
    deadline, data = time.monotonic() + timeout, b""
    while data.count(b"\n") < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            break
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        data += chunk
    return data.decode("utf-8", "replace").split("\n")[:count] if data else []


def wait_for(predicate, timeout=10.0, step=0.05):
    """Polls `predicate` every `step` s until it holds or `timeout` s pass."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()

# ---------------------------------------------------------------- files


def read_spool(path):
    """The fields of one spool file as a dict of bytes and numbers; raises
    ValueError on anything malformed (truncated, bad list header, trailing
    bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 0

    def uint(width):
        nonlocal pos
        if pos + width > len(data):
            raise ValueError("truncated at %d" % pos)
        value = int.from_bytes(data[pos:pos + width], "little")
        pos += width
        return value

    def text():
        nonlocal pos
        n = uint(2)
        if n == 0xFFFF:
            n = uint(4)
        if pos + n > len(data):
            raise ValueError("truncated text at %d" % pos)
        pos += n
        return data[pos - n:pos]

    msg = {"ID": text(), "TxtEng": text(), "TxtFr": text(), "Essai": uint(1),
           "LastError": text(), "ForSender": uint(2), "From": text()}
    dims, count, lower = uint(2), uint(4), uint(4)
    if (dims, lower) != (1, 0) or count < 1:
        raise ValueError("bad recipient list header")
    msg["RcptTo"] = [text() for _ in range(count)]
    msg["Data"] = text()
    if pos != len(data):
        raise ValueError("trailing bytes")
    return msg


def spool_bytes(msg_id, sender, rcpts, data, essai=0):
    """A spool file as the relay writes it (what read_spool reads)."""
    def text(b):
        return (len(b).to_bytes(2, "little") if len(b) < 0xFFFF
                else b"\xff\xff" + len(b).to_bytes(4, "little")) + b
    out = text(msg_id) + text(b"\r\n==> DO NOT ALTER THIS FILE !\r\n")
    out += text(b"\r\n==> NE PAS MODIFIER CE FICHIER !\r\n") + bytes([essai]) + text(b"")
    out += b"\x00\x00" + text(sender) + (1).to_bytes(2, "little")
    out += (len(rcpts) + 1).to_bytes(4, "little") + (0).to_bytes(4, "little") + text(b"")
    return out + b"".join(text(r) for r in rcpts) + text(data)


def unused_blank(folder, name):
    """Whether `name` in `folder` is an empty file a running relay made
    ahead of need to write a coming message into: no message, not staging."""
    if not (name.startswith(".blank-") and name.endswith(".tmp")):
        return False
    try:
        return os.path.getsize(os.path.join(folder, name)) == 0
    except FileNotFoundError:
        return True  # taken and renamed meanwhile


def spool_names(folder):
    """The names in the spool folder `folder`, but for unused blanks."""
    return sorted(n for n in os.listdir(folder) if not unused_blank(folder, n))


def spool_messages(home):
    """(folder, name, fields) of every queued file; staging files ('.' names)
    are reported as folder '.staging' so a caller can insist there are none.
    A running relay may take files away meanwhile: those are left out."""
    out = []
    for folder in SPOOL_FOLDERS:
        path = os.path.join(home, folder)
        for name in spool_names(path):
            if name.startswith("."):
                out.append((".staging", name, None))
                continue
            try:
                out.append((folder, name, read_spool(os.path.join(path, name))))
            except FileNotFoundError:
                pass  # delivered (or moved) while the spool was being read
    return out


def write_ini(home, port, **settings):
    """Writes Dorvane.ini in `home`: the service started at launch, listening
    on `port`, and each of `settings` (True and False as On and Off)."""
    def value(v):
        return {True: "On", False: "Off"}.get(v, v) if isinstance(v, bool) else str(v)
    lines = ["<Global>", "\tLaunchStart\tOn"] + ["\t%s\t%s" % (k, value(v)) for k, v in settings.items()]
    lines += ["</Global>", "<Network>", "\tListenPort\t%d" % port, "</Network>"]
    with open(os.path.join(home, "Dorvane.ini"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode())

# ---------------------------------------------------------------- the relay


class Relay:
    """The program on one folder, run through `prefix` (a namespace's exec
    command, say); start() may be called again after kill()."""

    def __init__(self, home, port=None, prefix=(), extra_env=None):
        self.home, self.port, self.prefix, self.proc = home, port, list(prefix), None
        self.extra_env = extra_env or {}

    def env(self):
        # The registry store and autostart entry stay inside the home;
        # extra_env adds to the environment (a trust store, say).
        return dict(os.environ, DORVANE_REGISTRY_ROOT=self.home,
                    XDG_CONFIG_HOME=os.path.join(self.home, "xdg"), **self.extra_env)

    def launch(self, headless=True, env=None, stdout=subprocess.DEVNULL):
        """Starts the program and returns at once; `stdout` as Popen takes it
        (PIPE to read it with stdout_lines)."""
        argv = self.prefix + [ARGS.dorvane] + (["--headless"] if headless else []) + ["--home", self.home]
        self.proc = subprocess.Popen(argv, stdout=stdout, stderr=subprocess.PIPE, env=env or self.env())
        return self

    def stdout_lines(self, count, timeout=10.0):
        """The first `count` lines the program printed (launched with
        stdout=PIPE), as text; fewer when it says no more within `timeout` s."""
        return read_lines(self.proc.stdout, count, timeout)

    def start(self, timeout=20):
        """Starts the program and waits until it greets a client."""
        self.launch()
        if not wait_for(self.greets, timeout):
            raise RuntimeError("relay does not greet on %d" % self.port)
        return self

    def wait_ready(self):
        """Whether the program ended or answers on its control channel."""
        return wait_for(lambda: self.proc.poll() is not None or self.command("status").returncode == 0)

    def greets(self):
        """Whether a new client is greeted. The probe comes from an address
        of its own (this computer talking to itself on 127.0.0.254), so the
        test's clients on 127.0.0.1 never use up its share of slots."""
        try:
            with socket.create_connection(("127.0.0.254", self.port), timeout=1,
                                          source_address=("127.0.0.254", 0)) as s:
                s.settimeout(2)
                return s.recv(512).startswith(b"220 ")
        except OSError:
            return False

    def command(self, *words):
        """Runs a control command (quit, flush, status, ...) on the program."""
        return subprocess.run(self.prefix + [ARGS.dorvane, "--home", self.home, *words],
                              capture_output=True, timeout=20, text=True, env=self.env())

    def status(self):
        out = self.command("status").stdout
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def quit(self):
        """Asks the program to quit; its exit code."""
        self.command("quit")
        return self.proc.wait(timeout=20)

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
        if self.proc:
            self.proc.wait(timeout=10)
            self.proc.stderr.close()
            if self.proc.stdout:
                self.proc.stdout.close()

    def files(self, folder):
        return spool_names(os.path.join(self.home, folder))

    def log(self, name="maillog.txt"):
        """The whole log `name` as text ("" while there is none)."""
        path = os.path.join(self.home, name)
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def log_lines(self, name="maillog.txt"):
        """The lines of the log `name` without their date and time."""
        return [line.split(" ", 4)[-1] for line in self.log(name).split("\r\n") if line]

    def logged(self, text, name="maillog.txt"):
        """The whole lines of the log `name` that hold `text`."""
        return [line for line in self.log(name).split("\r\n") if text in line]


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
                time.sleep(0.05)  # a pause between reconnections, not a wait for an event


class RelaysCase(unittest.TestCase):
    """A test that starts relays of the class RELAY with self.relay(...)
    (RELAY's arguments) and has every one of them killed after it."""

    RELAY = Relay

    def setUp(self):
        self.relays = []

    def tearDown(self):
        for r in self.relays:
            r.kill()

    def relay(self, *args, **kw):
        r = self.RELAY(*args, **kw)
        self.relays.append(r)
        return r.start()


class RobustCase(unittest.TestCase):
    """A temporary program folder with Dorvane.ini written for a free port,
    and a relay on it (not started); the relay and the TaggingClients put in
    self.clients are stopped and everything removed after the test."""

    KEEP_LOCAL = True

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.port = free_port()
        write_ini(self.home, self.port, KeepLocal=self.KEEP_LOCAL, DNSServer="127.0.0.1")
        self.relay = Relay(self.home, self.port)
        self.clients = []

    def tearDown(self):
        for c in self.clients:
            c.stop()
        self.relay.kill()
        self.tmp.cleanup()

    def control(self, *words):
        """Runs a control command (quit, flush, status, ...) on the relay."""
        return self.relay.command(*words)

    def submit(self, token, sender, rcpt, text=b"body"):
        """Submits one message whose first line carries `token` (token_of)."""
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.helo("client.example")
            s.sendmail(sender, [rcpt], b"X-Token: %s\r\n\r\n%s\r\n" % (token.encode(), text))

# ---------------------------------------------------------------- the network


class Namespace:
    """A network namespace named `prefix` and this process's id, its
    loopback up; with `hosts` (name -> address) and `nameserver`, the
    /etc/hosts and resolv.conf that commands run through exec() see."""

    def __init__(self, prefix, hosts=None, nameserver=None):
        self.name = "%s%d" % (prefix, os.getpid())
        self.hosts, self.nameserver = hosts, nameserver
        self.etc = "/etc/netns/" + self.name
        self._rules_first = False

    def create(self):
        subprocess.run(["ip", "netns", "add", self.name], check=True)
        if self.hosts is not None or self.nameserver:
            os.makedirs(self.etc, exist_ok=True)
            with open(os.path.join(self.etc, "hosts"), "w") as f:
                f.write("127.0.0.1 localhost\n")
                f.writelines("%s %s\n" % (ip, name) for name, ip in (self.hosts or {}).items())
            with open(os.path.join(self.etc, "resolv.conf"), "w") as f:
                f.write("nameserver %s\n" % (self.nameserver or "127.0.0.1"))
        self.ip("link", "set", "lo", "up")
        return self

    def enter(self):
        """Moves this process into the namespace; call before any thread
        starts, so every thread and child lives there too."""
        fd = os.open("/run/netns/" + self.name, os.O_RDONLY)
        try:
            if ctypes.CDLL("libc.so.6", use_errno=True).setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
                raise OSError(ctypes.get_errno(), "setns")
        finally:
            os.close(fd)

    def remove(self):
        subprocess.run(["ip", "netns", "del", self.name], check=False)
        shutil.rmtree(self.etc, ignore_errors=True)

    def exec(self, *cmd):
        """The command line that runs `cmd` inside, with its own /etc files."""
        return ["ip", "netns", "exec", self.name, *cmd]

    def ip(self, *words):
        subprocess.run(["ip", "-n", self.name, *words], check=True)

    def add_addresses(self, *addresses):
        for a in addresses:
            self.ip("addr", "add", a + "/8", "dev", "lo")

    def block(self, address, action="unreachable"):
        """Makes `address` fail on this machine itself, as an offline
        laptop's addresses do: `action` is unreachable, prohibit or blackhole."""
        if not self._rules_first:
            # The local table's rule takes all of 127/8 first: put it behind
            # the rules of the test.
            self.ip("rule", "add", "from", "all", "lookup", "local", "priority", "100")
            self.ip("rule", "del", "priority", "0")
            self._rules_first = True
        self.ip("rule", "add", action, "to", address, "priority", "1")

    def unblock(self, address, action="unreachable"):
        self.ip("rule", "del", action, "to", address, "priority", "1")


def _dns_answers(address):
    """Whether a DNS server on address:53 answers a query at all."""
    query = bytes.fromhex("abcd01000001000000000000") + b"\x05probe\x04test\x00\x00\x0f\x00\x01"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        try:
            s.sendto(query, (address, 53))
            return s.recv(4096)[:2] == query[:2]
        except OSError:
            return False


def start_dnsmasq(address, *options):
    """dnsmasq on address:53 with only the records `options` give (such as
    --mx-host=...), started and answering; the caller kills it."""
    dnsmasq = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
    proc = subprocess.Popen([dnsmasq, "--keep-in-foreground", "--no-resolv", "--no-hosts", "--no-poll",
                             "--conf-file=/dev/null", "--pid-file=", "--user=root", "--group=root",
                             "--bind-interfaces", "--listen-address=" + address, "--port=53", *options],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if not wait_for(lambda: proc.poll() is not None or _dns_answers(address), 10) or proc.poll() is not None:
        proc.kill()
        _, err = proc.communicate(timeout=10)
        raise RuntimeError("dnsmasq did not start: " + err.decode("utf-8", "replace"))
    return proc


class World:
    """A namespace and what runs in it for a whole script: up() creates the
    namespace and moves this process into it; down() stops the `servers`
    (anything with stop()) and kills the `procs`, then removes it."""

    def __init__(self, namespace):
        self.ns, self.servers, self.procs = namespace, [], []

    def up(self):
        self.ns.create().enter()

    def down(self):
        for server in self.servers:
            server.stop()
        for p in self.procs:
            if p.poll() is None:
                p.kill()
            p.wait(timeout=10)
        self.ns.remove()

# ---------------------------------------------------------------- exchangers


class Sink:
    """An aiosmtpd server on address:port (an exchanger on 25 by default).
    In mode "accept" it records each message as a dict (ip, from, rcpts,
    data: bytes with CRLF line ends, text: the same as latin-1, tls: the
    session's TLS protocol or None, login: the AUTH identity or None);
    "rcpt550", "data550" and "data554" refuse each recipient or each message
    text instead. It offers PIPELINING. `options` go to aiosmtpd's Controller and SMTP
    (tls_context, ssl_context, require_starttls, authenticator, ...);
    mail_from counts the MAIL commands it accepted."""

    REFUSALS = {"rcpt550": "550 5.1.1 no such user here", "data550": "550 5.7.1 refused after the body",
                "data554": "554 5.7.1 rejected as spam"}

    def __init__(self, address, mode="accept", port=25, **options):
        from aiosmtpd.controller import Controller
        self.address, self.mode = address, mode
        self.received = []
        self.mail_from = 0
        self.lock = threading.Lock()
        # A fixed name: the default asks DNS, which a namespace may lack.
        self.controller = Controller(self, hostname=address, port=port, server_hostname="sink.test", **options)
        self.controller.start()

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # Offered as by most exchangers: the relay sends its envelope at once.
        session.host_name = hostname
        return responses[:-1] + ["250-PIPELINING", responses[-1]]

    async def handle_MAIL(self, server, session, envelope, address, options):
        with self.lock:
            self.mail_from += 1
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if self.mode == "rcpt550":
            return self.REFUSALS[self.mode]
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode in ("data550", "data554"):
            return self.REFUSALS[self.mode]
        data = envelope.content.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        tls = server.transport.get_extra_info("ssl_object")
        with self.lock:
            self.received.append({"ip": self.address, "from": envelope.mail_from, "rcpts": envelope.rcpt_tos,
                                  "data": data, "text": data.decode("latin-1"), "tls": tls.version() if tls else None,
                                  "login": getattr(session.auth_data, "login", None)})
        return "250 2.0.0 Ok: queued"

    def messages(self):
        with self.lock:
            return list(self.received)

    def count(self):
        return len(self.messages())

    def tokens(self):
        """How often each TaggingClient token (or X-Token line) arrived."""
        return collections.Counter(token_of(m["data"]) for m in self.messages())

    def stop(self):
        self.controller.stop()


class ScriptedPeer(threading.Thread):
    """An exchanger on address:25 that misbehaves: "garbage" answers with
    random bytes and hangs up after two seconds, "silent" accepts and never
    says a word, "closer" greets, takes HELO and hangs up at MAIL, "talker"
    says 250 to everything and `after_body` after a message text, "ehlo500"
    talks the same way but answers 500 to EHLO, as servers from before
    ESMTP do, and "badtls" offers STARTTLS, then answers the client's first
    TLS record with plain text and hangs up. The talkers keep the command
    lines of each connection, in order, as one list in `sessions` (bytes
    without the line end; message texts left out)."""

    ANSWERS = {("ehlo500", b"EHLO"): b"500 5.5.1 command not recognized\r\n",
               ("badtls", b"EHLO"): b"250-talker\r\n250 STARTTLS\r\n"}

    def __init__(self, address, mode, after_body=b""):
        super().__init__(daemon=True)
        self.mode, self.after_body = mode, after_body
        self.server = socket.create_server((address, 25))
        self.held = []
        self.sessions = []
        self.start()

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
                time.sleep(2)  # the peer's own behaviour: it lingers, then hangs up
            if self.mode == "closer":
                conn.sendall(b"220 closer ready\r\n")
                if conn.recv(512).upper().startswith(b"HELO"):
                    conn.sendall(b"250 hello\r\n")
                conn.recv(512)  # MAIL FROM
            if self.mode in ("talker", "ehlo500", "badtls"):
                self.talk(conn)
            conn.close()
        except OSError:
            conn.close()

    def talk(self, conn):
        conn.settimeout(60)
        commands = []
        self.sessions.append(commands)
        with conn.makefile("rb") as lines:
            conn.sendall(b"220 talker ready\r\n")
            for line in iter(lambda: lines.readline(100000), b""):
                commands.append(line.rstrip(b"\r\n"))
                verb = line[:4].upper()
                if (self.mode, verb) in self.ANSWERS:
                    conn.sendall(self.ANSWERS[self.mode, verb])
                elif verb == b"STAR" and self.mode == "badtls":
                    conn.sendall(b"220 go ahead\r\n")
                    conn.recv(4096)  # the client's first TLS record
                    conn.sendall(b"this is no TLS record\r\n")
                    return
                elif verb == b"DATA":
                    conn.sendall(b"354 go\r\n")
                    for body in iter(lambda: lines.readline(100000), b""):
                        if body == b".\r\n":
                            break
                    conn.sendall(self.after_body)
                elif verb == b"QUIT":
                    conn.sendall(b"221 bye\r\n")
                    return
                else:
                    conn.sendall(b"250 ok\r\n")

    def stop(self):
        self.server.close()
