"""Helpers shared by the end-to-end scripts: a free loopback port, a bounded
wait, a reader of the spool file format, and how a script that cannot run
says so."""
import argparse
import importlib.util
import os
import random
import shutil
import socket
import sys
import time

SKIP_CODE = 77  # the scripts' SKIP_RETURN_CODE in CTest
NO_SKIP_VARIABLE = "DORVANE_E2E_NO_SKIP"  # tests/run-all sets it in CI


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
