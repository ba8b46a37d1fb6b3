"""Delivery over TLS end to end, in a network namespace this script creates,
enters and removes: aiosmtpd smarthosts with a test certificate authority
(submission with STARTTLS and AUTH on 587, TLS from the first byte on 465,
a wrong name, a self-signed certificate, no STARTTLS at all), and exchangers
found through dnsmasq that offer STARTTLS, do not, refuse EHLO, or are a
real Postfix. The relay trusts the test authority through SSL_CERT_FILE,
which OpenSSL's default paths honour; nothing is installed system-wide."""
import base64
import os
import shutil
import smtplib
import ssl
import tempfile

from e2e import (Namespace, Relay, RelaysCase, ScriptedPeer, Sink, World, main, spool_messages, start_dnsmasq,
                 wait_for, write_ini)
from e2e_tls_peers import (Authenticator, Pki, implicit_tls_server, postfix_exchanger, postfix_tls_senders,
                           starttls_exchanger, submission_server)

DNS_IP = "127.0.0.53"
SMART_IP = "127.0.0.20"    # smarthost.test: 587 STARTTLS and 465 TLS, certificate from the test authority
SELF_IP = "127.0.0.21"     # selfsigned.test: 587 STARTTLS, a certificate nobody signed
BARE_IP = "127.0.0.22"     # nostarttls.test: 587 without STARTTLS
MX_TLS_IP, MX_PLAIN_IP, MX_OLD_IP, MX_POSTFIX_IP = "127.0.0.30", "127.0.0.31", "127.0.0.32", "127.0.0.33"
MX_BADTLS_IP = "127.0.0.34"  # offers STARTTLS, then fails the handshake
HOSTS = {"smarthost.test": SMART_IP, "wrongname.test": SMART_IP, "selfsigned.test": SELF_IP,
         "nostarttls.test": BARE_IP, "mx.tls.test": MX_TLS_IP, "mx.plain.test": MX_PLAIN_IP,
         "mx.old.test": MX_OLD_IP, "mx.postfix.test": MX_POSTFIX_IP, "mx.badtls.test": MX_BADTLS_IP}
MX = [("tls.test", "mx.tls.test"), ("plain.test", "mx.plain.test"), ("old.test", "mx.old.test"),
      ("postfix.test", "mx.postfix.test"), ("badtls.test", "mx.badtls.test")]
USER, PASSWORD = "alice", "Corr3ct-h0rse-battery"
SENDER = "s@origin.test"
TLS_VERSIONS = ("TLSv1.2", "TLSv1.3")  # what the relay may settle on with any of the servers


class TlsWorld(World):
    """The certificates, dnsmasq, the smarthosts and the exchangers."""
    tmp = None

    def up(self):
        super().up()
        self.tmp = tempfile.mkdtemp(prefix="dorvane-e2e-tls-")
        os.chmod(self.tmp, 0o755)  # Postfix's own user works below it
        self.ns.add_addresses(MX_POSTFIX_IP)  # Postfix listens only on an interface's address
        self.pki = Pki(self.tmp)
        self.procs.append(start_dnsmasq(DNS_IP, *("--mx-host=%s,%s,10" % mx for mx in MX)))
        signed, self_signed = self.pki.issue("smarthost.test"), self.pki.self_signed("selfsigned.test")
        self.auth = Authenticator(USER, PASSWORD)
        self.submission = submission_server(SMART_IP, signed, self.auth)
        self.implicit = implicit_tls_server(SMART_IP, signed, self.auth)
        self.self_signed = submission_server(SELF_IP, self_signed, self.auth)
        self.bare = Sink(BARE_IP, port=587)
        exchanger_cert = self.pki.self_signed("mx.test")
        self.mx_tls, self.mx_plain = starttls_exchanger(MX_TLS_IP, exchanger_cert), Sink(MX_PLAIN_IP)
        queued = b"250 2.0.0 queued\r\n"
        self.mx_old = ScriptedPeer(MX_OLD_IP, "ehlo500", after_body=queued)
        self.mx_badtls = ScriptedPeer(MX_BADTLS_IP, "badtls", after_body=queued)
        self.servers = [self.submission, self.implicit, self.self_signed, self.bare, self.mx_tls, self.mx_plain,
                        self.mx_old, self.mx_badtls]
        self.postfix = postfix_exchanger(os.path.join(self.tmp, "postfix"), MX_POSTFIX_IP, exchanger_cert)
        self.servers.append(self.postfix)

    def down(self):
        super().down()
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)


WORLD = TlsWorld(Namespace("dvtls", hosts=HOSTS, nameserver=DNS_IP))


def tagged(server, tag):
    """The messages `server` received whose subject is `tag`."""
    return [m for m in server.messages() if "Subject: %s\r\n" % tag in m["text"]]


class TlsRelay(Relay):
    """One relay in its own home inside the namespace, trusting the test
    authority; `password`, when given, is written to Dorvane.secret."""

    def __init__(self, port, password=PASSWORD, **settings):
        super().__init__(tempfile.mkdtemp(prefix="home-", dir=WORLD.tmp), port, WORLD.ns.exec(),
                         extra_env={"SSL_CERT_FILE": WORLD.pki.ca})
        write_ini(self.home, port, DNSServer=DNS_IP, MaxNbrAttempt=1, AttemptDelay=60, Debug=True, **settings)
        if password is not None:
            self.write_secret(password)

    def write_secret(self, password, mode=0o600):
        """Writes the password file, private as the settings dialog makes it
        unless `mode` says otherwise."""
        fd = os.open(os.path.join(self.home, "Dorvane.secret"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        os.fchmod(fd, mode)
        with os.fdopen(fd, "w") as f:
            f.write(password + "\n")

    def submit(self, tag, rcpt):
        """Queues one message with subject `tag`; the relay sends it at once."""
        with smtplib.SMTP("127.0.0.1", self.port, timeout=30) as s:
            s.helo("client.example")
            s.sendmail(SENDER, [rcpt], "Subject: %s\r\n\r\nbody of %s\r\n" % (tag, tag))

    def deferred(self, tag=None):
        """The fields of each file in Deferred (only those with subject `tag`)."""
        return [m for folder, _, m in spool_messages(self.home)
                if folder == "Deferred" and (tag is None or b"Subject: %s\r\n" % tag.encode() in m["Data"])]


def standard_client(host, port, implicit_tls=None):
    """Python's SMTP client connected to the test host `host` (by its address:
    this process does not see the namespace's /etc/hosts), checking
    certificates against that name; with a context in `implicit_tls`, TLS
    from the first byte."""
    s = (smtplib.SMTP_SSL(context=implicit_tls, local_hostname="probe", timeout=10) if implicit_tls
         else smtplib.SMTP(local_hostname="probe", timeout=10))
    s._host = host  # the name TLS checks; connect() alone would use the address
    s.connect(HOSTS[host], port)
    return s


def smarthost(security, port, server="smarthost.test", user=USER, **settings):
    """The settings of a relay that sends everything through `server`."""
    return dict(SmtpServer=server, SmtpPort=port, SmtpSecurity=security, SmtpUser=user, **settings)


class TlsDeliveryTest(RelaysCase):
    RELAY = TlsRelay

    def assertHeld(self, relay, tag, reason):
        """The message `tag` waits in Deferred and the mail log says why."""
        self.assertTrue(wait_for(lambda: relay.files("OutBox") == [] and relay.deferred(tag) and relay.logged(reason),
                                 30), relay.log())
        self.assertEqual([], relay.files("Error"))

    def test_a_standard_client_sees_each_test_server_as_the_relay_should(self):
        trusted = ssl.create_default_context(cafile=WORLD.pki.ca)
        with standard_client("smarthost.test", 587) as s:
            s.ehlo()
            self.assertEqual(530, s.mail(SENDER)[0])  # nothing before STARTTLS
            s.starttls(context=trusted)
            s.login(USER, PASSWORD)
            s.sendmail(SENDER, ["r@dest.test"], "Subject: H587\r\n\r\nprobe\r\n")
        with standard_client("smarthost.test", 465, trusted) as s:
            s.login(USER, PASSWORD)
            s.sendmail(SENDER, ["r@dest.test"], "Subject: H465\r\n\r\nprobe\r\n")
        for server, tag in ((WORLD.submission, "H587"), (WORLD.implicit, "H465")):
            got = tagged(server, tag)
            self.assertEqual([(b"alice", True)], [(m["login"], m["tls"] in TLS_VERSIONS) for m in got])
        for host in ("wrongname.test", "selfsigned.test"):
            s = standard_client(host, 587)
            try:
                s.ehlo()
                with self.assertRaises(ssl.SSLCertVerificationError, msg=host):
                    s.starttls(context=trusted)
            finally:
                s.close()  # no QUIT: the server is past STARTTLS, the client is not
        for host, port, offers in (("nostarttls.test", 587, False), ("mx.tls.test", 25, True),
                                   ("mx.plain.test", 25, False), ("mx.postfix.test", 25, True)):
            with standard_client(host, port) as s:
                s.ehlo()
                self.assertEqual(offers, s.has_extn("starttls"), host)
        with standard_client("mx.old.test", 25) as s:
            self.assertEqual((500, 250), (s.ehlo()[0], s.helo()[0]))
        with standard_client("mx.postfix.test", 25) as s:
            s.starttls(context=ssl._create_unverified_context())
            s.sendmail("probe@origin.test", ["r@postfix.test"], "Subject: HPF\r\n\r\nprobe\r\n")
        self.assertTrue(wait_for(lambda: "probe@origin.test" in postfix_tls_senders(WORLD.postfix), 20),
                        "".join(WORLD.postfix.maillog()))

    def test_submission_over_starttls_and_tls_authenticates_and_writes_the_password_nowhere(self):
        runs = [(self.relay(2525, **smarthost("StartTls", 587)), WORLD.submission, "S587"),
                (self.relay(2526, **smarthost("Tls", 465)), WORLD.implicit, "S465")]
        for r, _server, tag in runs:
            r.submit(tag, "r@dest.test")
        for r, server, tag in runs:
            # The relay removes the file before it writes the "sent" line.
            sent = "to=<r@dest.test>, relay=smarthost.test [127.0.0.20], status=sent"
            self.assertTrue(wait_for(lambda: tagged(server, tag) and r.files("OutBox") == [] and r.logged(sent), 30),
                            r.log())
            got = tagged(server, tag)
            self.assertEqual([(b"alice", True)], [(m["login"], m["tls"] in TLS_VERSIONS) for m in got])
        # Neither the password nor what AUTH PLAIN or LOGIN would carry.
        secrets = [PASSWORD.encode(), base64.b64encode(PASSWORD.encode()),
                   base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode())]
        for r, _server, _tag in runs:
            r.quit()
            for folder, _dirs, names in os.walk(r.home):
                for name in names:
                    path = os.path.join(folder, name)
                    if path == os.path.join(r.home, "Dorvane.secret"):
                        continue
                    with open(path, "rb") as f:
                        data = f.read()
                    self.assertEqual([], [s for s in secrets if s in data], path)

    def test_password_faults_hold_the_message_without_using_an_attempt_until_mended(self):
        r = self.relay(2527, **smarthost("StartTls", 587))
        r.write_secret(PASSWORD, 0o644)
        tries_before = len(WORLD.auth.tries)
        r.submit("WAIT", "r@dest.test")
        self.assertHeld(r, "WAIT", "may be read by others")
        self.assertTrue(r.logged("may be read by others", "error.txt"), r.log("error.txt"))
        self.assertEqual(tries_before, len(WORLD.auth.tries))  # the password never left
        self.assertEqual([0], [m["Essai"] for m in r.deferred()])
        # Private but wrong: refused by the server. With MaxNbrAttempt 1, had
        # either fault used up an attempt, this one would bounce the message.
        r.write_secret("wrong")
        r.command("flush")
        self.assertTrue(wait_for(lambda: len(WORLD.auth.tries) > tries_before and r.files("OutBox") == []
                                 and r.deferred("WAIT") and r.logged("535"), 30), r.log())
        self.assertEqual([False], [right for _, _, right in WORLD.auth.tries[tries_before:]])
        self.assertTrue([line for line in r.logged("authentication failed", "error.txt") if "535" in line],
                        r.log("error.txt"))
        self.assertEqual([0], [m["Essai"] for m in r.deferred()])
        self.assertEqual(([], []), (tagged(WORLD.submission, "WAIT"), r.files("Error")))
        r.write_secret(PASSWORD)
        r.command("flush")
        self.assertTrue(wait_for(lambda: tagged(WORLD.submission, "WAIT") and r.files("Deferred") == []
                                 and r.files("OutBox") == [], 30), r.log())

    def test_smarthosts_that_cannot_be_trusted_get_nothing_unless_verification_is_off(self):
        wrong_name = self.relay(2528, **smarthost("StartTls", 587, server="wrongname.test", user="bob"))
        unsigned = self.relay(2529, **smarthost("StartTls", 587, server="selfsigned.test", user="carol"))
        bare = self.relay(2530, **smarthost("StartTls", 587, server="nostarttls.test", user="dave"))
        trusting = self.relay(2531, **smarthost("StartTls", 587, server="selfsigned.test", SmtpTlsVerify=False))
        for r, tag in ((wrong_name, "NAME"), (unsigned, "SELF"), (bare, "BARE"), (trusting, "OFF")):
            r.submit(tag, "r@dest.test")
        self.assertHeld(wrong_name, "NAME", "hostname mismatch")
        self.assertHeld(unsigned, "SELF", "self-signed certificate")
        self.assertHeld(bare, "BARE", "STARTTLS")
        self.assertTrue(wait_for(lambda: tagged(WORLD.self_signed, "OFF"), 30), trusting.log())
        self.assertEqual(1, len(trusting.logged("SmtpTlsVerify Off")), trusting.log())
        self.assertEqual([], tagged(WORLD.submission, "NAME") + tagged(WORLD.self_signed, "SELF"))
        self.assertEqual((0, []), (WORLD.bare.mail_from, WORLD.bare.messages()))
        # Credentials went to no server whose certificate did not verify.
        self.assertEqual([], [login for login in WORLD.auth.logins() if login in ("bob", "carol", "dave")])

    def test_exchangers_get_tls_where_it_works_plain_otherwise_and_helo_after_a_refused_ehlo(self):
        r = self.relay(2532, password=None)
        for tag, rcpt in (("MXTLS", "a@tls.test"), ("MXPLAIN", "b@plain.test"), ("MXOLD", "c@old.test"),
                          ("MXPF", "d@postfix.test"), ("MXBAD", "e@badtls.test")):
            r.submit(tag, rcpt)
        def old_sessions():
            return [c for c in WORLD.mx_old.sessions if b"RCPT TO: <c@old.test>" in c and c[-1] == b"QUIT"]
        self.assertTrue(wait_for(old_sessions, 30), "%s\n%s" % (WORLD.mx_old.sessions, r.log()))
        self.assertEqual(1, len(old_sessions()), WORLD.mx_old.sessions)
        commands = old_sessions()[0]
        self.assertTrue(commands[0].startswith(b"EHLO "), commands)
        # After the 500, the same dialogue as with any server before.
        self.assertEqual([b"HELO " + commands[0][5:], b"MAIL FROM: <s@origin.test>", b"RCPT TO: <c@old.test>",
                          b"DATA", b"QUIT"], commands[1:])
        self.assertTrue(wait_for(lambda: tagged(WORLD.mx_tls, "MXTLS") and tagged(WORLD.mx_plain, "MXPLAIN"), 30),
                        r.log())
        self.assertIn(tagged(WORLD.mx_tls, "MXTLS")[0]["tls"], TLS_VERSIONS)
        self.assertIsNone(tagged(WORLD.mx_plain, "MXPLAIN")[0]["tls"])
        self.assertTrue(wait_for(lambda: SENDER in postfix_tls_senders(WORLD.postfix), 30),
                        "".join(WORLD.postfix.maillog()) + r.log())
        # A failed handshake: the same attempt comes back once, in plain.
        def badtls_verbs():
            return [[c[:4] for c in session] for session in WORLD.mx_badtls.sessions]
        retried = [[b"EHLO", b"STAR"], [b"EHLO", b"MAIL", b"RCPT", b"DATA", b"QUIT"]]
        wait_for(lambda: badtls_verbs() == retried, 30)
        self.assertEqual(retried, badtls_verbs(), r.log())
        self.assertTrue(r.logged("to=<e@badtls.test>, relay=mx.badtls.test [127.0.0.34], status=sent"), r.log())
        tls_lines = [line for line in r.log_lines() if "TLSv1." in line]
        self.assertTrue([line for line in tls_lines if "mx.tls.test" in line], r.log())
        self.assertTrue([line for line in tls_lines if "mx.postfix.test" in line], r.log())


if __name__ == "__main__":
    main(WORLD, root=True, tools=("ip", "dnsmasq", "openssl", "postfix"), modules=("aiosmtpd",))
