"""The two relays under test and the sink they deliver to, each started in a
fresh folder of its own and stopped (by process id) when a run is over.

Addresses inside the benchmark's network namespace:
  127.0.0.1      clients (smtp-source)
  127.0.0.2:2525 Dorvane (it listens on every address; the port sets it apart)
  127.0.0.3:25   smtp-sink for Dorvane
  127.0.0.4:25   Postfix
  127.0.0.5:25   smtp-sink for Postfix
"""
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DORVANE_ADDR, DORVANE_PORT, DORVANE_SINK = "127.0.0.2", 2525, "127.0.0.3"
POSTFIX_ADDR, POSTFIX_PORT, POSTFIX_SINK = "127.0.0.4", 25, "127.0.0.5"
ADDRESSES = ["127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"]


def wait_for(predicate, timeout, step=0.05):
    """Polls `predicate` until it holds or `timeout` seconds pass."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return bool(predicate())


def accepts(addr, port):
    import socket
    try:
        with socket.create_connection((addr, port), timeout=1):
            return True
    except OSError:
        return False


def pss_kib(pid):
    """Proportional set size of one process in KiB (0 once it is gone)."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_seconds(pids):
    """CPU time, user and system, that the processes `pids` have used,
    counting the children they have reaped: a tree's sum does not drop
    when one of its processes ends."""
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += sum(int(x) for x in fields[11:15])  # utime stime cutime cstime
    return total / os.sysconf("SC_CLK_TCK")


def children_of(root):
    """`root` and every process below it, from the parent links in /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        parents[int(entry)] = int(stat.rsplit(")", 1)[1].split()[1])
    tree, added = {root}, True
    while added:
        added = False
        for pid, ppid in parents.items():
            if ppid in tree and pid not in tree:
                tree.add(pid)
                added = True
    return tree


def stop_pid(pid, timeout=20):
    """Ends one process this harness started: TERM, then KILL."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        if wait_for(lambda: not os.path.exists("/proc/%d" % pid) or _zombie(pid), timeout):
            return


def _zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


class Sink:
    """smtp-sink on port 25 of `addr`, counting the messages it receives;
    with a `tls_folder`, tls_sink.py instead, which offers STARTTLS with a
    self-signed certificate it makes in that folder."""

    def __init__(self, addr, tls_folder=None):
        self.addr, self.tls_folder = addr, tls_folder
        self.proc = None
        self._out = None

    def start(self):
        command = ["smtp-sink", "-c", "-u", "nobody", "-m", "1000", "%s:25" % self.addr, "1024"]
        if self.tls_folder:
            os.makedirs(self.tls_folder, exist_ok=True)
            command = [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "tls_sink.py"),
                       self.addr, "25", self.tls_folder]
        # A file, not a pipe: the counters are rewritten at every session
        # and message, and a reader woken for each would take CPU from the
        # relay under test. They are read only when asked for.
        self._out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, stdout=self._out, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: accepts(self.addr, 25), 10):
            raise RuntimeError("smtp-sink on %s did not start" % self.addr)
        return self

    @property
    def count(self):
        """Messages received so far, from the last "sess=N quit=N mesg=N"
        line, each ended by CR."""
        if not self._out:
            return 0
        size = os.fstat(self._out.fileno()).st_size
        tail = os.pread(self._out.fileno(), 4096, max(0, size - 4096))
        found = re.findall(rb"mesg=(\d+)\r", tail)
        return int(found[-1]) if found else 0

    def stop(self):
        if self.proc:
            stop_pid(self.proc.pid)
            self.proc.wait(timeout=10)


class Dorvane:
    """The program under test in a fresh program folder."""

    name = "dorvane"

    def __init__(self, binary, folder, settings=""):
        """`settings` are more Dorvane.ini lines, CR LF ended."""
        self.binary = binary
        self.home = folder
        self.settings = settings
        self.proc = None
        self.addr, self.port = DORVANE_ADDR, DORVANE_PORT

    def start(self, keep_local, tls=False):
        """With `tls`, STARTTLS to the sink without checking its certificate."""
        os.makedirs(self.home, exist_ok=True)
        ini = ("<Global>\r\n\tLaunchStart\tOn\r\n</Global>\r\n"
               "ListenPort\t%d\r\nKeepLocal\t%s\r\nSmtpServer\t%s\r\nDebug\tOff\r\n"
               % (self.port, "On" if keep_local else "Off", DORVANE_SINK)) + self.settings
        if tls:
            ini += "SmtpSecurity\tStartTls\r\nSmtpTlsVerify\tOff\r\n"
        with open(os.path.join(self.home, "Dorvane.ini"), "w", newline="") as f:
            f.write(ini)
        env = dict(os.environ, DORVANE_REGISTRY_ROOT=self.home,
                   XDG_CONFIG_HOME=os.path.join(self.home, "xdg"))
        self.proc = subprocess.Popen([self.binary, "--headless", "--home", self.home],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        if not wait_for(lambda: accepts(self.addr, self.port), 20):
            raise RuntimeError("dorvane did not start listening")
        return self

    def pids(self):
        return children_of(self.proc.pid) if self.proc and self.proc.poll() is None else set()

    def queued(self):
        """Files waiting in the spool folders (staging files excluded)."""
        total = 0
        for folder in ("OutBox", "Deferred", "Error"):
            path = os.path.join(self.home, folder)
            if os.path.isdir(path):
                total += sum(1 for n in os.listdir(path) if not n.startswith("."))
        return total

    def stop(self):
        if self.proc:
            stop_pid(self.proc.pid)
            self.proc.wait(timeout=10)


MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {dir}/spool
data_directory = {dir}/data
mail_owner = postfix
setgid_group = postdrop
myhostname = bench.invalid
mydomain = bench.invalid
myorigin = $myhostname
mydestination =
inet_interfaces = {addr}
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject
relayhost = [{sink}]:{sink_port}
maillog_file = {dir}/maillog
maillog_file_prefixes = {dir}
alias_maps =
alias_database =
biff = no
{extra}
"""

# master.cf as Debian ships it, without chroot (the queue lives in a
# temporary folder that holds no chroot files) and without the optional
# pipe services.
MASTER_CF = """\
{port}    inet  n       -       n       -       -       smtpd
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
postlog   unix-dgram n  -       n       -       1       postlogd
"""


class Postfix:
    """A Postfix instance with its own configuration and queue folders,
    listening on addr:port and relaying to `sink_port` of `sink`; `settings`
    are more main.cf lines (TLS, say). The end-to-end tests run it as an
    exchanger too."""

    name = "postfix"

    def __init__(self, folder, addr=POSTFIX_ADDR, port=POSTFIX_PORT, sink=POSTFIX_SINK, settings="",
                 sink_port=25):
        self.dir = folder
        self.conf = os.path.join(folder, "etc")
        self.addr, self.port, self.sink, self.settings = addr, port, sink, settings
        self.sink_port = sink_port

    def start(self, keep_local, tls=False):
        """With `tls`, STARTTLS to the relay host when it offers it."""
        os.makedirs(self.conf, exist_ok=True)
        for sub in ("spool", "data"):
            os.makedirs(os.path.join(self.dir, sub), exist_ok=True)
        pw = pwd.getpwnam("postfix")
        os.chown(os.path.join(self.dir, "data"), pw.pw_uid, pw.pw_gid)
        extra = self.settings + ("defer_transports = smtp\n" if keep_local else "")
        extra += "smtp_tls_security_level = may\nsmtp_tls_loglevel = 1\n" if tls else ""
        with open(os.path.join(self.conf, "main.cf"), "w") as f:
            f.write(MAIN_CF.format(dir=self.dir, addr=self.addr, sink=self.sink,
                                   sink_port=self.sink_port, extra=extra))
        with open(os.path.join(self.conf, "master.cf"), "w") as f:
            f.write(MASTER_CF.format(port=self.port))
        shutil.copy("/etc/postfix/dynamicmaps.cf", self.conf)
        # Postfix refuses a queue below a folder it does not trust: the
        # temporary folder must be root's and not writable by others.
        os.chmod(self.dir, 0o755)
        started = self._postfix("start")
        if not wait_for(lambda: accepts(self.addr, self.port), 30):
            raise RuntimeError("postfix did not start listening: " + (started.stdout + started.stderr)[-1000:])
        return self

    def _postfix(self, verb):
        return subprocess.run(["postfix", "-c", self.conf, verb],
                              capture_output=True, text=True, timeout=120)

    def master_pid(self):
        try:
            with open(os.path.join(self.dir, "spool", "pid", "master.pid")) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            return 0

    def pids(self):
        pid = self.master_pid()
        return children_of(pid) if pid and os.path.exists("/proc/%d" % pid) else set()

    def queued(self, subs=("incoming", "active", "deferred", "hold", "maildrop")):
        """Queue files in the queue folders `subs`, by default all that hold mail."""
        total = 0
        for sub in subs:
            for _root, _dirs, files in os.walk(os.path.join(self.dir, "spool", sub)):
                total += len(files)
        return total

    def maillog(self):
        path = os.path.join(self.dir, "maillog")
        if not os.path.exists(path):
            return []
        with open(path, errors="replace") as f:
            return f.readlines()

    def stop(self):
        pid = self.master_pid()
        self._postfix("stop")
        if pid:
            wait_for(lambda: not os.path.exists("/proc/%d" % pid), 20)
            stop_pid(pid)  # still there after "postfix stop": end it by its id
