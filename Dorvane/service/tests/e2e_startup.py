"""Start-up, the second instance, the control commands and refused starts,
against the real program in temporary homes on loopback ports."""
import hashlib
import json
import os
import re
import shutil
import socket
import stat
import subprocess
import tempfile
import time
import unittest

import e2e
from e2e import Relay, free_port, main, wait_for, write_ini


def project_version():
    """The program's version: major.minor of project() in the top
    CMakeLists.txt, where the build takes it from."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "CMakeLists.txt")
    with open(top, encoding="utf-8") as f:
        found = re.search(r"project\(Dorvane VERSION (\d+)\.(\d+)", f.read())
    return found.group(1) + "." + found.group(2)


KEYLESS_INI = (
    "# Fichier de configuration de Dorvane\r\n"
    "# Placer un dièse '#' devant une ligne pour qu'elle devienne un commentaire\r\n"
    "\r\n"
    "# Version de Dorvane pour ce fichier de configuration (dernière écriture logicielle)\r\n"
    "# Dorvane Version " + project_version() + "\r\n"
    "\r\n"
    "<Global>\r\n"
    "</Global>\r\n"
    "\r\n"
    "<Registry>\r\n"
    "</Registry>\r\n"
).encode("utf-8")


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.relays = []

    def tearDown(self):
        for r in self.relays:
            r.kill()
        for root, dirs, files in os.walk(self.home):
            for name in files:
                os.chmod(os.path.join(root, name), 0o644)
        self.tmp.cleanup()

    def relay(self):
        r = Relay(self.home)
        self.relays.append(r)
        return r

    def maillog(self):
        return Relay(self.home).log_lines("maillog.txt")

    def test_empty_home_writes_the_keyless_file_and_creates_folders(self):
        # A truly empty home listens on port 25: only look at the files, and
        # quit at once so nothing depends on that port.
        r = self.relay().launch()
        self.assertTrue(r.wait_ready())
        with open(os.path.join(self.home, "Dorvane.ini"), "rb") as f:
            self.assertEqual(KEYLESS_INI, f.read())
        for d in ("OutBox", "Deferred", "Error", "language"):
            self.assertTrue(os.path.isdir(os.path.join(self.home, d)), d)
        with open(os.path.join(self.home, "registry"), "rb") as f:
            self.assertIn(b"Installed", f.read())
        r.command("quit")
        self.assertEqual(0, r.proc.wait(timeout=10))

    def test_idle_headless_relay_loads_no_window_display_or_tls_library(self):
        # Each would cost the relay without windows MiBs; TLS comes with the
        # first session.
        write_ini(self.home, free_port())
        r = self.relay().launch()
        self.assertTrue(r.wait_ready())
        with open("/proc/%d/maps" % r.proc.pid) as f:
            loaded = {os.path.basename(line.split()[-1]) for line in f if "/" in line}
        self.assertEqual([], sorted(n for n in loaded if re.match(r"lib(Qt6(Gui|Widgets)|X11|xcb|GL|EGL|ssl|crypto)\b", n)))
        r.command("quit")
        self.assertEqual(0, r.proc.wait(timeout=10))

    def test_queue_commands_show_and_change_the_folders_without_the_relay(self):
        r = self.relay()
        for folder in e2e.SPOOL_FOLDERS:
            os.makedirs(os.path.join(self.home, folder), exist_ok=True)
        queued = {("OutBox", "o1"): (b"<a@b.c>", [b"<d@e.fr>", b"<f@g.fr>"], 0),
                  ("Deferred", "d1"): (b'<"x\r\n\x1b"@b.c>', [b"<d@e.fr>"], 2),
                  ("Error", "e1"): (b"<>", [b"<d@e.fr>"], 5)}
        for (folder, name), (sender, rcpts, essai) in queued.items():
            with open(os.path.join(self.home, folder, name), "wb") as f:
                f.write(e2e.spool_bytes(name.encode(), sender, rcpts, b"Hi\r\n", essai))
        with open(os.path.join(self.home, "Error", "bad"), "wb") as f:
            f.write(b"junk")
        listed = r.command("queue", "--json")
        self.assertEqual(0, listed.returncode, listed.stderr)
        entries = {(e["folder"], e["id"]): e for e in json.loads(listed.stdout)}
        self.assertEqual(set(queued) | {("Error", "bad")}, set(entries))
        self.assertTrue(entries[("Error", "bad")]["damaged"])
        for folder, name in queued:
            e, path = entries[(folder, name)], os.path.join(self.home, folder, name)
            fields = e2e.read_spool(path)
            self.assertEqual((fields["From"].decode(), [x.decode() for x in fields["RcptTo"][1:]],
                              fields["Essai"], os.path.getsize(path)),
                             (e["sender"], e["recipients"], e["attempts"], e["size"]))
            self.assertEqual(time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(os.stat(path).st_mtime)),
                             e["arrival"])
            self.assertEqual(folder == "Deferred", e["next_try"] is not None)
        self.assertEqual(0, r.command("retry", "d1").returncode)
        self.assertEqual(0, r.command("delete", "e1").returncode)
        unknown = r.command("retry", "e1")
        self.assertEqual((1, "dorvane: no message e1 in Deferred or Error\n"), (unknown.returncode, unknown.stderr))
        self.assertEqual((["d1", "o1"], [], ["bad"]), (r.files("OutBox"), r.files("Deferred"), r.files("Error")))
        version = r.command("--version")
        self.assertEqual((0, "Dorvane " + project_version() + "\n"), (version.returncode, version.stdout))

    def test_startup_listens_logs_in_order_and_refuses_a_second_instance(self):
        port = free_port()
        write_ini(self.home, port)
        os.chmod(os.path.join(self.home, "Dorvane.ini"), 0o644)  # as an editor may leave it
        r = self.relay().launch()
        self.assertTrue(r.wait_ready())
        self.assertTrue(accepts(port))
        self.assertEqual(0o600, stat.S_IMODE(os.stat(os.path.join(self.home, "Dorvane.ini")).st_mode))
        self.assertEqual({"state": "started", "port": str(port), "OutBox": "0",
                          "Deferred": "0", "Error": "0"}, r.status())
        second = subprocess.run([e2e.ARGS.dorvane, "--headless", "--home", self.home],
                                capture_output=True, timeout=20, env=r.env())
        self.assertNotEqual(0, second.returncode)
        self.assertIn("Dorvane est déjà lancé !", second.stderr.decode())

        r.command("quit")
        self.assertEqual(0, r.proc.wait(timeout=10))
        log = self.maillog()
        self.assertEqual(["Dorvane %s: dossier du programme %s/" % (project_version(), self.home),
                          "Dorvane: 'OutBox' directory creation",
                          "Dorvane: 'Deferred' directory creation",
                          "Dorvane: 'Error' directory creation",
                          "Dorvane: 'language' directory creation",
                          "Dorvane: droits d'accès réservés au propriétaire sur 1 fichier(s) ou dossier(s)",
                          "Dorvane: Chargement de la configuration (Dorvane.ini)",
                          "Dorvane Start of SMTP service"], log[:8])
        self.assertEqual("Dorvane SMTP service stopped", [l for l in log if "SMTP" in l][-1])

        # A second run finds the folders: no creation line again.
        r2 = self.relay().launch()
        self.assertTrue(r2.wait_ready())
        r2.command("quit")
        r2.proc.wait(timeout=10)
        self.assertEqual(4, sum("directory creation" in l for l in self.maillog()))

    def test_stop_start_and_reload_keep_control_of_the_listener(self):
        port = free_port()
        write_ini(self.home, port)
        r = self.relay().launch()
        self.assertTrue(r.wait_ready())
        self.assertEqual("Service arrêté\n", r.command("stop").stdout)
        self.assertTrue(wait_for(lambda: not accepts(port)))
        self.assertEqual("Service démarré\n", r.command("start").stdout)
        self.assertTrue(accepts(port))

        new_port = free_port()
        write_ini(self.home, new_port)
        r.command("reload")
        self.assertTrue(accepts(port))
        self.assertFalse(accepts(new_port))
        self.assertEqual(str(port), r.status()["port"])

        os.kill(r.proc.pid, 15)  # SIGTERM quits through the normal unload
        self.assertEqual(0, r.proc.wait(timeout=10))
        self.assertEqual("Dorvane SMTP service stopped", [l for l in self.maillog() if "SMTP" in l][-1])

    def test_taken_port_leaves_the_service_stopped_with_one_error_line(self):
        with socket.socket() as taken:
            port = free_port()
            taken.bind(("127.0.0.1", port))
            taken.listen(1)
            write_ini(self.home, port)
            r = self.relay().launch(stdout=subprocess.PIPE)
            self.assertTrue(r.wait_ready())
            self.assertEqual("stopped", r.status()["state"])
            self.assertEqual(["Dorvane: dossier du programme %s/" % self.home,
                              "Dorvane: port %d utilisé par une autre application, service SMTP arrêté" % port],
                             r.stdout_lines(2))
            with open(os.path.join(self.home, "error.txt"), "rb") as f:
                lines = f.read().split(b"\r\n")
            self.assertEqual(2, len(lines))
            self.assertTrue(lines[0].endswith(
                (" Port %d utilisé par une autre application" % port).encode()), lines[0])
            self.assertNotIn("Dorvane Start of SMTP service", self.maillog())
            self.assertIsNone(r.proc.poll())

    def start_xvfb(self):
        """A private X server, killed at the end; returns it and its display."""
        if not shutil.which("Xvfb"):
            self.skipTest("Xvfb missing")
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                                pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.addCleanup(lambda: (xvfb.kill(), xvfb.wait()))
        with os.fdopen(read_end, "rb") as announced:  # written once it accepts clients
            return xvfb, ":" + announced.readline().strip().decode()

    def test_lost_display_stops_the_service_as_quit_does(self):
        # A logout without a session manager: the X server goes away.
        xvfb, display = self.start_xvfb()
        write_ini(self.home, free_port())
        r = self.relay()
        env = dict(r.env(), DISPLAY=display, QT_QPA_PLATFORM="xcb")
        r.launch(headless=False, env=env)
        self.assertTrue(r.wait_ready())
        xvfb.kill()
        xvfb.wait()
        r.proc.wait(timeout=20)
        log = self.maillog()
        self.assertEqual(["Dorvane SMTP service stopped", "Dorvane Writing DNS cache (0) [OK]"], log[-2:])
        self.assertEqual(1, log.count("Dorvane SMTP service stopped"))

    def test_read_only_update_log_stops_startup(self):
        path = os.path.join(self.home, "update.txt")
        open(path, "wb").close()
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        write_ini(self.home, free_port())
        r = self.relay().launch()
        self.assertEqual(1, r.proc.wait(timeout=20))
        self.assertIn("Fichier de log 'update.txt' en lecture seule !\r\n\r\n"
                      "L'application ne peut continuer ...", r.proc.stderr.read().decode())


class SkipTest(unittest.TestCase):
    """A script that cannot run must not pass for one that ran."""

    def test_a_script_that_cannot_run_is_reported_skipped_and_fails_where_skips_are_not_allowed(self):
        script = ("import sys; sys.path.insert(0, %r); import e2e; "
                  "e2e.skip_unless(tools=('no-such-tool-here',))" % os.path.dirname(e2e.__file__))
        env = {k: v for k, v in os.environ.items() if k != "DORVANE_E2E_NO_SKIP"}
        for strict, code in ((None, 77), ("1", 1)):
            if strict:
                env["DORVANE_E2E_NO_SKIP"] = strict
            done = subprocess.run(["/usr/bin/python3", "-c", script], capture_output=True, text=True,
                                  timeout=20, env=env)
            self.assertEqual((code, "skipped: needs no-such-tool-here"),
                             (done.returncode, done.stdout.splitlines()[0]), done.stderr)

        shown = subprocess.run(["ctest", "--test-dir", os.path.dirname(e2e.ARGS.bin_dir), "--show-only=json-v1"],
                               capture_output=True, text=True, timeout=60)
        tests = json.loads(shown.stdout)["tests"]
        scripts = {t["name"]: {p["name"]: p["value"] for p in t.get("properties", [])}
                   for t in tests if "_e2e_" in t["name"]}
        self.assertGreater(len(scripts), 5, sorted(scripts))
        self.assertEqual({}, {n: p.get("SKIP_RETURN_CODE") for n, p in scripts.items()
                              if p.get("SKIP_RETURN_CODE") != 77})

# Run as the intruder: tries to make the owner's channel folder, listens at
# every other path it is given and says "answered" for each connection it
# gets, so a client that trusts a squatted socket shows up.
SQUATTER = r"""
import os, select, socket, sys
try:
    os.mkdir(sys.argv[1])
    print("made " + sys.argv[1], flush=True)
except OSError:
    pass
socks = []
for path in sys.argv[2:]:
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    os.chmod(path, 0o777)  # anyone may connect, as a squatter wants
    s.listen(4)
    socks.append(s)
print("ready", flush=True)
while True:
    ready, _, _ = select.select(socks, [], [], 60)
    if not ready:
        break
    for s in ready:
        c, _ = s.accept()
        print("answered", flush=True)
        c.settimeout(5)
        c.recv(256)
        c.sendall(b"state=started\nport=1\nOutBox=0\nDeferred=0\nError=0\n")
        c.close()
"""

# Run as the intruder: each argument is "d:PATH" (a folder to list) or
# "f:PATH" (a file to read) or "s:PATH" (a socket to connect to); prints
# what it got into.
PROBE = r"""
import os, socket, sys
for arg in sys.argv[1:]:
    kind, path = arg.split(":", 1)
    try:
        if kind == "d":
            os.listdir(path)
        elif kind == "f":
            open(path, "rb").read(1)
        else:
            socket.socket(socket.AF_UNIX).connect(path)
        print("got into " + path, flush=True)
    except OSError:
        pass
"""


class LocalUser:
    """A user made for the test with useradd; removed by remove()."""

    def __init__(self, name):
        subprocess.run(["useradd", "-M", "-U", "-s", "/usr/sbin/nologin", name], check=True,
                       capture_output=True)
        import pwd
        entry = pwd.getpwnam(name)
        self.name, self.uid, self.gid = name, entry.pw_uid, entry.pw_gid

    def run_as(self):
        return dict(user=self.uid, group=self.gid, extra_groups=[])

    def remove(self):
        subprocess.run(["userdel", self.name], check=False, capture_output=True)


@unittest.skipUnless(os.geteuid() == 0, "needs root to make local users")
class OtherUserTest(unittest.TestCase):
    """The relay runs as one local user; a second one can read nothing in
    its program folder and can neither take nor answer its control channel."""

    def setUp(self):
        self.owner = LocalUser("dvown%d" % os.getpid())
        self.addCleanup(self.owner.remove)
        self.intruder = LocalUser("dvint%d" % os.getpid())
        self.addCleanup(self.intruder.remove)
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.home = os.path.join(self.tmp.name, "home")
        # Open folders above the program folder, as an executable's folder
        # often is: only the relay's own modes may keep the intruder out.
        os.chmod(self.tmp.name, 0o755)
        os.mkdir(self.home, 0o755)
        self.runtime = os.path.join(self.tmp.name, "runtime")  # the intruder's
        os.mkdir(self.runtime, 0o700)
        os.chown(self.runtime, self.intruder.uid, self.intruder.gid)
        self.port = free_port()
        self.write_owned("Dorvane.ini", b"LaunchStart\tOn\r\nKeepLocal\tOn\r\nListenPort\t%d\r\n" % self.port)
        os.mkdir(os.path.join(self.home, "OutBox"), 0o755)
        os.chown(os.path.join(self.home, "OutBox"), self.owner.uid, self.owner.gid)
        self.write_owned("OutBox/older-message", b"queued by an older run")
        self.write_owned("maillog.txt", b"older line\r\n")
        os.chown(self.home, self.owner.uid, self.owner.gid)
        self.channel = "dorvane-" + hashlib.sha1((os.path.normpath(self.home) + "/").encode()).hexdigest()[:16]
        self.old_place = os.path.join(tempfile.gettempdir(), self.channel)
        self.addCleanup(lambda: os.path.exists(self.old_place) and os.unlink(self.old_place))

    def write_owned(self, name, data):
        path = os.path.join(self.home, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        os.chown(path, self.owner.uid, self.owner.gid)

    def owner_env(self):
        return dict(os.environ, HOME=self.home, DORVANE_REGISTRY_ROOT=self.home,
                    XDG_CONFIG_HOME=os.path.join(self.home, "xdg"), XDG_RUNTIME_DIR=self.runtime)

    def squat(self):
        """The intruder, before the relay starts: tries to make the channel's
        folder, and listens at the shared temporary folder's name and in the
        runtime folder it owns (which the owner's environment names)."""
        proc = subprocess.Popen(
            ["/usr/bin/python3", "-c", SQUATTER, os.path.join(self.home, "run"), self.old_place,
             os.path.join(self.runtime, self.channel)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **self.intruder.run_as())
        self.addCleanup(proc.stderr.close)
        self.addCleanup(proc.stdout.close)
        self.addCleanup(proc.wait, 10)
        self.addCleanup(proc.kill)
        said = []
        for line in iter(proc.stdout.readline, ""):
            said.append(line.strip())
            if line.strip() == "ready":
                return proc, said
        self.fail("squatter did not start: %s" % proc.stderr.read())

    def test_another_user_can_read_nothing_nor_answer_the_control_channel(self):
        squatter, said = self.squat()
        relay = subprocess.Popen([e2e.ARGS.dorvane, "--headless", "--home", self.home],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 env=self.owner_env(), **self.owner.run_as())
        self.addCleanup(relay.wait, 10)
        self.addCleanup(relay.kill)
        self.assertTrue(wait_for(lambda: accepts(self.port), 20))

        status = subprocess.run([e2e.ARGS.dorvane, "--home", self.home, "status"], capture_output=True,
                                text=True, timeout=20, env=self.owner_env(), **self.owner.run_as())
        self.assertIn("port=%d\n" % self.port, status.stdout, status.stderr)
        squatter.kill()
        said += squatter.stdout.read().split()
        self.assertEqual(["ready"], said, "the intruder took the folder or answered")

        entries = ["s:" + os.path.join(self.home, "run", self.channel)]
        for root, dirs, files in os.walk(self.home):
            entries += ["d:" + os.path.join(root, d) for d in dirs]
            entries += ["f:" + os.path.join(root, f) for f in files]
        self.assertGreater(len(entries), 10, entries)
        probe = subprocess.run(["/usr/bin/python3", "-c", PROBE, *entries], capture_output=True,
                               text=True, timeout=20, **self.intruder.run_as())
        self.assertEqual("", probe.stdout + probe.stderr)
        with open(os.path.join(self.home, "maillog.txt"), "rb") as f:
            self.assertIn("au propriétaire sur 4 fichier(s) ou dossier(s)".encode(), f.read())
        self.assertIsNone(relay.poll())


if __name__ == "__main__":
    main()
