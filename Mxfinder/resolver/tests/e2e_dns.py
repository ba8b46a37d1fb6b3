"""mxfinder-query against a real dnsmasq and a scripted server, on loopback."""
import argparse
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "Dorvane",
                                "service", "tests"))
from relay_support import skip_unless  # noqa: E402

ARGS = None
DNSMASQ_IP = "127.0.83.53"
FAKE_IP = "127.0.83.54"
SEP = "\u00a4"


def query(domain, server, namespace=None):
    tool = os.path.join(ARGS.bin_dir, "mxfinder-query")
    inside = ["ip", "netns", "exec", namespace] if namespace else []
    out = subprocess.run(inside + [tool, domain, server], capture_output=True, timeout=20)
    if out.returncode != 0:
        raise AssertionError(out.stderr.decode())
    return out.stdout.decode("utf-8").rstrip("\n")


def records(text):
    return [tuple(r.split(SEP)) for r in text.split("|")[:-1]]


def mx_query_packet(domain, ident):
    name = b"".join(bytes([len(l)]) + l.encode() for l in domain.split(".")) + b"\0"
    return struct.pack(">HHHHHH", ident, 0x0100, 1, 0, 0, 0) + name + struct.pack(">HH", 15, 1)


def read_name(data, pos):
    labels = []
    while data[pos]:
        if data[pos] >= 192:
            labels.append(read_name(data, ((data[pos] & 63) << 8) | data[pos + 1])[0])
            return ".".join(labels), pos + 2
        labels.append(data[pos + 1:pos + 1 + data[pos]].decode())
        pos += 1 + data[pos]
    return ".".join(labels), pos + 1


def raw_mx_hosts(domain, server):
    """The MX exchangers of the server's answer, in answer order."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(2)
        s.sendto(mx_query_packet(domain, 0x1234), (server, 53))
        data = s.recv(4096)
    ancount = struct.unpack(">H", data[6:8])[0]
    pos = read_name(data, 12)[1] + 4
    hosts = []
    for _ in range(ancount):
        pos = read_name(data, pos)[1]
        rtype, _, _, rdlen = struct.unpack(">HHIH", data[pos:pos + 10])
        pos += 10
        if rtype == 15:
            hosts.append(read_name(data, pos + 2)[0])
        pos += rdlen
    return hosts


def answer_packet(query_data, ident, host, pref=10, ttl=60):
    question = query_data[12:]
    rdata = struct.pack(">H", pref) + b"".join(
        bytes([len(l)]) + l.encode() for l in host.split(".")) + b"\0"
    record = b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, ttl, len(rdata)) + rdata
    return struct.pack(">HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + record


class ScriptedServer(threading.Thread):
    """Answers each query with the datagrams `script(query)` returns, as
    (packet, from_port_53) pairs, in order."""

    def __init__(self, ip, script):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((ip, 53))
        self.sock.settimeout(0.2)
        self.other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.other.bind((ip, 0))
        self.script = script
        self.stopping = False

    def run(self):
        deadline = time.monotonic() + 30
        while not self.stopping and time.monotonic() < deadline:
            try:
                data, peer = self.sock.recvfrom(512)
            except socket.timeout:
                continue
            for packet, from_53 in self.script(data):
                (self.sock if from_53 else self.other).sendto(packet, peer)

    def stop(self):
        self.stopping = True
        self.join(5)
        self.sock.close()
        self.other.close()


@unittest.skipUnless(os.geteuid() == 0 and (shutil.which("dnsmasq") or os.path.exists("/usr/sbin/dnsmasq")),
                     "needs root and dnsmasq")
class AgainstDnsmasq(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        dnsmasq = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
        cls.server = subprocess.Popen([
            dnsmasq, "--no-resolv", "--no-hosts", "--keep-in-foreground", "--pid-file=",
            "--port=53", "--listen-address=" + DNSMASQ_IP, "--bind-interfaces",
            "--local=/test/", "--local-ttl=3600",
            "--mx-host=two.test,mx1.two.test,10", "--mx-host=two.test,mx2.two.test,20",
            "--mx-host=target.test,mx.target.test,5", "--cname=alias.test,target.test",
            "--host-record=plain.test,127.0.0.9",
        ], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(50):
            try:
                raw_mx_hosts("two.test", DNSMASQ_IP)
                return
            except OSError:
                time.sleep(0.1)
        cls.tearDownClass()
        raise RuntimeError("dnsmasq did not start: " + cls.server.stderr.read().decode())

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.server.wait(5)

    def test_two_mx_records_in_answer_order(self):
        got = records(query("two.test", DNSMASQ_IP))
        self.assertEqual([h for _, h, _ in got], raw_mx_hosts("two.test", DNSMASQ_IP))
        self.assertEqual(sorted(got), [("10", "mx1.two.test", "3600"), ("20", "mx2.two.test", "3600")])

    def test_cname_in_answer_gives_only_the_mx(self):
        self.assertEqual(query("alias.test", DNSMASQ_IP), "5" + SEP + "mx.target.test" + SEP + "3600|")

    def test_no_mx_and_no_such_name_give_empty_text(self):
        self.assertEqual(query("plain.test", DNSMASQ_IP), "")
        self.assertEqual(query("nothere.test", DNSMASQ_IP), "")


class AgainstScriptedServer(unittest.TestCase):
    def serve(self, ip, script):
        try:
            server = ScriptedServer(ip, script)
        except OSError as e:
            self.skipTest("cannot bind %s:53: %s" % (ip, e))
        server.start()
        self.addCleanup(server.stop)

    def test_forged_datagrams_are_ignored(self):
        def script(q):
            ident = struct.unpack(">H", q[:2])[0]
            return [(answer_packet(q, ident ^ 1, "wrong-id.test"), True),
                    (answer_packet(q, ident, "wrong-port.test"), False),
                    (b"\x00\x01garbage", True),
                    (answer_packet(q, ident, "real.test"), True)]
        self.serve(FAKE_IP, script)
        self.assertEqual(query("forged.test", FAKE_IP), "10" + SEP + "real.test" + SEP + "60|")

    def test_truncated_answer_without_records_is_a_failure_not_no_mx(self):
        def script(q):
            ident = struct.unpack(">H", q[:2])[0]
            return [(struct.pack(">HHHHHH", ident, 0x8380, 1, 0, 0, 0) + q[12:], True)]  # TC set
        self.serve(FAKE_IP, script)
        self.assertEqual(query("big.test", FAKE_IP), "ERROR_DNS_TIMEOUT")

    def test_server_given_by_name_is_looked_up_first(self):
        self.serve("127.0.0.1", lambda q: [(answer_packet(q, struct.unpack(">H", q[:2])[0], "byname.test"), True)])
        self.assertEqual(query("named.test", "localhost"), "10" + SEP + "byname.test" + SEP + "60|")


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("ip"), "needs root and ip for a network namespace")
class WithoutRoute(unittest.TestCase):
    """In a namespace of this test, a rule refuses 127.0.0.99 on this machine
    itself, as an offline laptop refuses every address: nothing leaves."""

    def setUp(self):
        self.ns = "mxnoroute%d" % os.getpid()
        subprocess.run(["ip", "netns", "add", self.ns], check=True)
        self.addCleanup(subprocess.run, ["ip", "netns", "del", self.ns], check=False)
        subprocess.run(["ip", "-n", self.ns, "link", "set", "lo", "up"], check=True)
        # The local table's rule comes first and takes all of 127/8: move it
        # behind the rules of the test.
        subprocess.run(["ip", "-n", self.ns, "rule", "add", "from", "all", "lookup", "local", "priority", "100"],
                       check=True)
        subprocess.run(["ip", "-n", self.ns, "rule", "del", "priority", "0"], check=True)

    def test_a_query_that_cannot_be_sent_is_a_time_out_given_at_once(self):
        # The send fails with ENETUNREACH, EACCES and EINVAL respectively.
        for action in ("unreachable", "prohibit", "blackhole"):
            with self.subTest(action):
                rule = ["rule", "add", action, "to", "127.0.0.99", "priority", "1"]
                subprocess.run(["ip", "-n", self.ns] + rule, check=True)
                started = time.monotonic()
                try:
                    got = query("offline.test", "127.0.0.99", self.ns)
                finally:
                    rule[1] = "del"
                    subprocess.run(["ip", "-n", self.ns] + rule, check=True)
                self.assertEqual(got, "ERROR_DNS_TIMEOUT")
                self.assertLess(time.monotonic() - started, 4)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--dorvane")
    parser.add_argument("--mxfinder")
    parser.add_argument("--bin-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    skip_unless(result=unittest.main(argv=[sys.argv[0]] + rest, exit=False).result)
