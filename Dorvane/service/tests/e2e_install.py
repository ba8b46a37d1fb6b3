"""The Debian package as a user meets it: cpack packs the build tree (no
rebuild), apt-get installs the package, a user made for the test starts the
installed relay in the background, hands mail to `sendmail` as scripts and
mail programs do, and an aiosmtpd smarthost in the script's own network
namespace receives it byte for byte; with the relay stopped sendmail still
queues and the next start delivers. The unit and the application entry
pass their validators. The package and the user are removed at the end."""
import glob
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import unittest

import e2e
from e2e import Namespace, Sink, World, main, read_lines, wait_for, write_ini

SINK_IP = "127.0.0.40"
USER = "dvinst%d" % (os.getpid() % 100000)
UNIT = "/usr/lib/systemd/user/dorvane.service"
SYSTEM_NAMES = ("/usr/sbin/sendmail", "/usr/bin/mailq")  # a mail transport's, when there is one
ENTRY = "/usr/share/applications/dorvane.desktop"


def run(*argv, timeout=300, **kw):
    return subprocess.run(list(argv), capture_output=True, timeout=timeout, **kw)


class Installed(World):
    """The namespace with the smarthost, the package installed from the
    build tree and the test user; down() takes all of it away again."""

    package = tmp = None
    # The system's mail command names as they were before the install:
    # path -> what they led to (None: missing).
    before = {}

    def up(self):
        super().up()
        self.ns.add_addresses(SINK_IP)
        self.sink = Sink(SINK_IP)
        self.servers = [self.sink]
        self.tmp = tempfile.mkdtemp(prefix="dorvane-deb-")
        os.chmod(self.tmp, 0o755)  # apt's sandbox user reads the package
        build = os.path.dirname(os.path.abspath(e2e.ARGS.bin_dir))
        packed = run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", self.tmp)
        if packed.returncode != 0:
            raise RuntimeError("cpack: " + (packed.stdout + packed.stderr).decode("utf-8", "replace"))
        self.package = glob.glob(os.path.join(self.tmp, "dorvane_*.deb"))[0]
        run("apt-get", "purge", "-y", "dorvane")  # a copy left by an interrupted run
        self.before = {p: os.path.realpath(p) if os.path.exists(p) else None for p in SYSTEM_NAMES}
        done = run("apt-get", "install", "-y", "--no-install-recommends", self.package,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        if done.returncode != 0:
            raise RuntimeError("apt-get install: " + (done.stdout + done.stderr).decode("utf-8", "replace"))
        subprocess.run(["useradd", "--create-home", "--shell", "/bin/sh", USER], check=True)

    def down(self):
        try:
            subprocess.run(["userdel", "--remove", USER], check=False, capture_output=True)
            if self.package:
                run("apt-get", "purge", "-y", "dorvane")
            if self.tmp:
                shutil.rmtree(self.tmp, ignore_errors=True)
        finally:
            super().down()


WORLD = Installed(Namespace("dvinstall"))


def as_user(*argv, env=()):
    """The command line that runs `argv` as the test user, with the clean
    environment of a login (HOME, PATH) plus `env`."""
    return ["setpriv", "--reuid=" + USER, "--regid=" + USER, "--init-groups", "--reset-env",
            "env", *env, *argv]


class InstalledRelayTest(unittest.TestCase):
    def setUp(self):
        self.home = os.path.join(pwd.getpwnam(USER).pw_dir, ".local", "share", "dorvane") + "/"
        self.relay = None

    def tearDown(self):
        self.stop()

    def start(self, *env):
        """Starts the installed relay as the user; returns its first two
        lines on standard output."""
        self.relay = subprocess.Popen(as_user("dorvane", "--headless", env=env), stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE)
        return read_lines(self.relay.stdout, 2, timeout=30)

    def stop(self):
        if self.relay is None:
            return
        if self.relay.poll() is None:
            run(*as_user("dorvane", "quit"), timeout=30)
            try:
                self.relay.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.relay.kill()
                self.relay.wait(timeout=10)
        self.relay.stdout.close()
        self.relay.stderr.close()
        self.relay = None

    def sendmail(self, text, *args):
        done = run(*as_user("sendmail", *args), input=text, timeout=30)
        self.assertEqual((0, b""), (done.returncode, done.stderr))

    def received(self, subject):
        return [m for m in WORLD.sink.messages() if ("\r\nSubject: %s\r\n" % subject) in "\r\n" + m["text"]]

    def assert_sent_as_given(self, got, given, dropped=()):
        """The message as received is `given` (LF line ends) with CR LF,
        without the `dropped` header lines, plus the Date, Message-Id and
        From lines the command adds where `given` has none."""
        head, body = given.replace(b"\n", b"\r\n").split(b"\r\n\r\n", 1)
        lines = [l for l in head.split(b"\r\n") if not l.startswith(dropped)] if dropped else head.split(b"\r\n")
        got_head, got_body = got["data"].split(b"\r\n\r\n", 1)
        self.assertEqual(body, got_body)
        got_lines = got_head.split(b"\r\n")
        added = [l for l in got_lines if l not in lines]
        self.assertEqual(lines, [l for l in got_lines if l in lines], "the given lines, in their order")
        have = {l.split(b":")[0].lower() for l in lines}
        expected = sorted(n for n in (b"date", b"message-id", b"from") if n not in have)
        self.assertEqual(expected, sorted(l.split(b":")[0].lower() for l in added), added)

    def test_package_installs_and_the_user_relay_delivers_what_sendmail_queues(self):
        shows = run("dpkg-deb", "--field", WORLD.package, "Depends").stdout.decode()
        self.assertIn("libqt6core6", shows)
        self.assertTrue(os.path.exists("/usr/lib/dorvane/libMxfinder.so"))
        self.assertEqual("dorvane-sendmail", os.readlink("/usr/bin/sendmail"))
        self.assertEqual(0o755, os.stat("/usr/bin/dorvane").st_mode & 0o7777)
        for path, was in WORLD.before.items():
            # Taken only where free: an installed mail transport keeps its names.
            self.assertEqual(was or "/usr/bin/dorvane-sendmail", os.path.realpath(path), path)

        # First start: a fresh folder of the user's own, and port 25 is not
        # the user's to bind.
        lines = self.start()
        fix = "setcap cap_net_bind_service=+ep /usr/bin/dorvane"
        self.assertEqual("Dorvane: dossier du programme " + self.home, lines[0])
        self.assertIn("port 25 non autorisé", lines[1])
        self.assertIn(fix, lines[1])
        self.assertEqual(0o700, os.stat(self.home).st_mode & 0o7777)
        self.assertEqual(pwd.getpwnam(USER).pw_uid, os.stat(self.home).st_uid)
        self.assertTrue(os.path.exists(os.path.join(self.home, "language", "en.ini")), "shipped files copied")
        first = e2e.Relay(self.home).log_lines()[0]
        self.assertRegex(first, r"^Dorvane \d+\.\d+: dossier du programme %s$" % re.escape(self.home))
        self.stop()

        port = e2e.free_port()
        write_ini(self.home, port, SmtpServer=SINK_IP, KeepLocal=False)
        shutil.chown(os.path.join(self.home, "Dorvane.ini"), USER, USER)
        # As under systemd: the journal's variable sends the mail log to stderr.
        lines = self.start("JOURNAL_STREAM=8:1")
        self.assertEqual(["Dorvane: dossier du programme " + self.home,
                          "Dorvane: service SMTP en écoute sur le port %d" % port], lines)
        self.assertTrue(any("Dorvane Start of SMTP service" in l
                            for l in read_lines(self.relay.stderr, 20, timeout=5)))

        script = b"To: to1@there.test\nBcc: bcc1@there.test\nSubject: I1\n\nfrom a script\n"
        self.sendmail(script, "-t")
        mailstyle = b"Subject: I2\nFrom: Me <me@here.test>\n\nline\n.\n..two dots\nend\n"
        self.sendmail(mailstyle, "-i", "-f", "me@here.test", "to2@there.test", "to3@there.test")
        self.assertTrue(wait_for(lambda: self.received("I1") and self.received("I2"), 60),
                        e2e.Relay(self.home).log())
        got = self.received("I1")[0]
        self.assertEqual(["to1@there.test", "bcc1@there.test"], got["rcpts"])
        self.assert_sent_as_given(got, script, dropped=(b"Bcc:",))
        got = self.received("I2")[0]
        self.assertEqual(("me@here.test", ["to2@there.test", "to3@there.test"]), (got["from"], got["rcpts"]))
        self.assert_sent_as_given(got, mailstyle)

        # Relay stopped: sendmail still queues, the next start delivers.
        self.stop()
        self.sendmail(b"Subject: I3\n\nwhile stopped\n", "to4@there.test")
        self.assertEqual(1, len(os.listdir(os.path.join(self.home, "OutBox"))))
        self.start()
        self.assertTrue(wait_for(lambda: self.received("I3"), 60), e2e.Relay(self.home).log())
        self.assertEqual(1, len(self.received("I3")))

    def test_desktop_keeps_the_port_right_given_to_the_program_and_passes_it_to_nothing(self):
        # With a display, `dorvane` becomes the desktop program beside it: the
        # right that the headless start's advice gives /usr/bin/dorvane must
        # reach it, and no program it starts may inherit it.
        port = 26  # below 1024 and free in the namespace
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)
        self.addCleanup(run, "setcap", "-r", "/usr/bin/dorvane")
        self.assertEqual(0, run("setcap", "cap_net_bind_service=+ep", "/usr/bin/dorvane").returncode)
        self.assertEqual(0, run(*as_user("install", "-d", "-m", "700", self.home)).returncode)
        write_ini(self.home, port)
        shutil.chown(os.path.join(self.home, "Dorvane.ini"), USER, USER)
        self.relay = subprocess.Popen(as_user("dorvane", env=("QT_QPA_PLATFORM=offscreen",)),
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertTrue(wait_for(e2e.Relay(self.home, port).greets, 30), e2e.Relay(self.home).log())
        with open("/proc/%d/status" % self.relay.pid) as f:
            sets = dict(line.rstrip("\n").split(":\t") for line in f if line.startswith(("CapInh", "CapAmb")))
        self.assertEqual({"CapInh": "0" * 16, "CapAmb": "0" * 16}, sets)

    def test_unit_and_application_entry_pass_their_validators(self):
        with open(UNIT) as f:
            self.assertIn("ExecStart=/usr/bin/dorvane --headless\n", f.read())
        # As a user manager reads it; it needs a runtime folder, not a running manager.
        with tempfile.TemporaryDirectory() as runtime:
            verified = run("systemd-analyze", "--user", "verify", "--man=no", UNIT,
                           env=dict(os.environ, XDG_RUNTIME_DIR=runtime))
        self.assertEqual((0, ""), (verified.returncode, verified.stderr.decode()))
        validated = run("desktop-file-validate", ENTRY)
        self.assertEqual((0, ""), (validated.returncode, (validated.stdout + validated.stderr).decode()))
        self.assertTrue(os.path.exists("/usr/share/icons/hicolor/scalable/apps/dorvane.svg"))


if __name__ == "__main__":
    main(WORLD, root=True, tools=("ip", "cpack", "apt-get", "useradd", "setpriv", "systemd-analyze",
                                  "desktop-file-validate", "setcap"), modules=("aiosmtpd",))
