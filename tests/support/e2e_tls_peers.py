"""What the end-to-end scripts that speak TLS share: a throw-away
certificate authority and server certificates made with the `openssl`
command, aiosmtpd smarthosts (STARTTLS required, or TLS from the first
byte) with an authenticator that records each try, exchangers that offer
STARTTLS, and Postfix as a real exchanger (run the way the benchmark runs
it). The servers themselves are e2e's Sink and ScriptedPeer."""
import os
import ssl
import subprocess
import sys
import warnings

from e2e import Sink

# aiosmtpd itself still sets the attribute it declares deprecated, on every AUTH.
warnings.filterwarnings("ignore", "Session.login_data is deprecated")

_BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "bench")


def _openssl(*words):
    done = subprocess.run(["openssl", *words], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (words[0], done.stderr[-500:]))


class Pki:
    """A certificate authority in `folder` (ca.pem is what a client trusts)
    and the server certificates it or its servers sign; every file stays in
    the folder. Keys are P-256: quick to make and to use."""

    def __init__(self, folder):
        self.folder = folder
        self.ca = self._path("ca.pem")
        self._ca_key = self._path("ca.key")
        _openssl("req", "-x509", *self._new_key(self._ca_key), "-out", self.ca, "-days", "2",
                 "-subj", "/CN=Dorvane test authority", "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def _path(self, name):
        return os.path.join(self.folder, name)

    @staticmethod
    def _new_key(key_path):
        return ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key_path]

    def issue(self, name):
        """(certificate, key) for the host `name`, signed by the authority."""
        cert, key, csr, ext = (self._path(name + suffix) for suffix in (".pem", ".key", ".csr", ".ext"))
        _openssl("req", "-new", *self._new_key(key), "-out", csr, "-subj", "/CN=" + name)
        with open(ext, "w") as f:
            f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n" % name)
        _openssl("x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey", self._ca_key, "-CAcreateserial",
                 "-days", "2", "-extfile", ext, "-out", cert)
        return cert, key

    def self_signed(self, name):
        """(certificate, key) for the host `name` that no authority signed."""
        cert, key = self._path(name + "-self.pem"), self._path(name + "-self.key")
        _openssl("req", "-x509", *self._new_key(key), "-out", cert, "-days", "2", "-subj", "/CN=" + name,
                 "-addext", "subjectAltName=DNS:" + name)
        return cert, key


def server_context(cert_and_key):
    """A server-side TLS context with this (certificate, key)."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*cert_and_key)
    return context


class Authenticator:
    """aiosmtpd's authenticator for one user and password; `tries` keeps
    (mechanism, login, whether it was right) of every AUTH, in order."""

    def __init__(self, user, password):
        self.user, self.password = user.encode(), password.encode()
        self.tries = []

    def __call__(self, server, session, envelope, mechanism, auth_data):
        from aiosmtpd.smtp import AuthResult
        right = (auth_data.login, auth_data.password) == (self.user, self.password)
        self.tries.append((mechanism, auth_data.login.decode("latin-1"), right))
        # handled=False: aiosmtpd answers a wrong one with its own 535.
        return AuthResult(success=right, handled=False, auth_data=auth_data if right else None)

    def logins(self):
        return [login for _, login, _ in self.tries]


def submission_server(address, cert_and_key, authenticator, port=587):
    """A smarthost on the submission port: STARTTLS is offered and needed
    before anything but EHLO, HELO, NOOP and QUIT, then AUTH."""
    return Sink(address, port=port, tls_context=server_context(cert_and_key), require_starttls=True,
                authenticator=authenticator)


def implicit_tls_server(address, cert_and_key, authenticator, port=465):
    """A smarthost that speaks TLS from the first byte, then AUTH."""
    # The session is already TLS, which aiosmtpd's own check for AUTH does
    # not see: without auth_require_tls off it would never offer AUTH.
    return Sink(address, port=port, ssl_context=server_context(cert_and_key), authenticator=authenticator,
                auth_require_tls=False)


def starttls_exchanger(address, cert_and_key):
    """An exchanger on port 25 that offers STARTTLS and takes mail either way."""
    return Sink(address, tls_context=server_context(cert_and_key))


def postfix_exchanger(folder, address, cert_and_key):
    """Postfix on address:25 in `folder`, an exchanger for every domain that
    keeps what it receives in its queue, offering STARTTLS with this
    certificate and logging each TLS session; started, stop() ends it."""
    if _BENCH not in sys.path:
        sys.path.insert(0, _BENCH)
    import relays
    cert, key = cert_and_key
    tls = ("smtpd_tls_security_level = may\nsmtpd_tls_cert_file = %s\nsmtpd_tls_key_file = %s\n"
           "smtpd_tls_loglevel = 1\n" % (cert, key))
    # The relay host is never reached: keep_local holds every message.
    return relays.Postfix(folder, addr=address, port=25, sink="127.0.0.255", settings=tls).start(keep_local=True)


def postfix_tls_senders(postfix):
    """The senders of the messages Postfix took over TLS, from its maillog:
    the queue ids of smtpd sessions that logged a TLS session before their
    "client=" line, then the qmgr "from=" line of each."""
    in_tls, queue_ids, senders = {}, set(), []
    for line in postfix.maillog():
        words = line.split()
        process = next((w for w in words if w.startswith("postfix/")), "")
        if process.startswith("postfix/smtpd["):
            if " connect from " in line:
                in_tls[process] = False
            elif "TLS connection established from" in line:
                in_tls[process] = True
            elif ": client=" in line and in_tls.get(process):
                queue_ids.add(line.split(": client=")[0].split()[-1])
        elif process.startswith("postfix/qmgr[") and ": from=<" in line:
            queue_id = line.split(": from=<")[0].split()[-1]
            if queue_id in queue_ids:
                senders.append(line.split(": from=<")[1].split(">")[0])
    return senders
