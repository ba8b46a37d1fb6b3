"""Helpers shared by the end-to-end scripts: a free loopback port, a bounded
wait, and a reader of the spool file format."""
import argparse
import random
import socket
import time


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


def wait_for(predicate, timeout=10.0):
    """Polls `predicate` every 50 ms until it holds or `timeout` s pass."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


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


def script_args():
    """The arguments every end-to-end script gets (--dorvane, --mxfinder,
    --bin-dir), and the rest, for unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--dorvane", required=True)
    parser.add_argument("--mxfinder")
    parser.add_argument("--bin-dir")
    return parser.parse_known_args()
