"""The disk's own ceiling for durable 2 KiB files, measured on the file
system the spools live on: the rate a relay could reach if writing its
spool files were all it did. Each file is written under a staging name,
flushed, renamed into place, and its folder entry flushed, the same steps a
durable spool write takes.

Python threads release the GIL in os.write, os.fsync and os.rename, so four
writer threads keep four requests in the disk queue; the tool's own CPU
user-mode CPU time (the interpreter's own work, done under the GIL) is
returned as a share of one core with each figure: near 1.0 the tool, not
the disk, would be the limit. (A C version of the same loop gave the same
rates on the development machine.)"""
import os
import threading
import time

FILE_BYTES = 2048


class _Writers:
    """Writer threads that share one folder and one folder flush per
    `group` files renamed into it."""

    def __init__(self, folder, group, max_files, seconds):
        self.folder, self.group, self.max_files = folder, group, max_files
        self.deadline = time.monotonic() + seconds
        self.lock = threading.Lock()
        self.started = 0    # files claimed by a writer
        self.unflushed = 0  # renamed since the last folder flush began
        self.errors = []
        self.dirfd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
        self.payload = (b"x" * 76 + b"\r\n") * (FILE_BYTES // 78) + b"x" * (FILE_BYTES % 78)

    def claim(self):
        """The number of the next file to write, or None once the count or
        the time is used up."""
        with self.lock:
            if self.started >= self.max_files or time.monotonic() >= self.deadline:
                return None
            self.started += 1
            return self.started

    def renamed(self):
        """Whether the caller's rename completes a group: its caller then
        flushes the folder for the whole group."""
        with self.lock:
            self.unflushed += 1
            if self.unflushed < self.group:
                return False
            self.unflushed = 0
            return True

    def write_one(self, number):
        final = os.path.join(self.folder, "%X" % number)
        staging = os.path.join(self.folder, ".%X.tmp" % number)
        fd = os.open(staging, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        try:
            os.write(fd, self.payload)
            os.fsync(fd)
        finally:
            os.close(fd)
        os.rename(staging, final)
        if self.renamed():
            os.fsync(self.dirfd)

    def run(self):
        try:
            while (number := self.claim()) is not None:
                self.write_one(number)
        except OSError as e:  # a full disk ends the measurement, not the bench
            self.errors.append(str(e))


def measure(folder, writers, group, max_files, seconds):
    """Files per second that `writers` threads make durable in a fresh
    `folder` (left for the bench to remove once nothing is measured), with one folder flush per `group`
    files, stopping after `max_files` files or `seconds` seconds; with the
    tool's user-mode CPU time as a share of one core and the first error,
    if any."""
    os.makedirs(folder)
    pool = _Writers(folder, group, max_files, seconds)
    threads = [threading.Thread(target=pool.run, daemon=True) for _ in range(writers)]
    cpu, start = os.times().user, time.monotonic()
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=seconds + 60)
        os.fsync(pool.dirfd)  # the last, incomplete group is durable too
        wall = time.monotonic() - start
        cpu = os.times().user - cpu
    finally:
        os.close(pool.dirfd)
    done = pool.started - len(pool.errors)
    return {"rate": done / wall, "files": done, "tool_cpu": cpu / wall,
            "error": pool.errors[0] if pool.errors else ""}


def workload(_relay, ctx):
    """Both ceilings, in ctx.folder (beside the relays' spools): four
    writers sharing one folder flush per ten files, and one writer that
    flushes the folder after each file."""
    result = {}
    for key, writers, group in (("ceiling4", 4, 10), ("ceiling1", 1, 1)):
        got = measure(os.path.join(ctx.folder, key), writers, group, ctx.sizes["ceiling_files"],
                      ctx.sizes["ceiling_s"])
        result.update({key: got["rate"], key + "_tool_cpu": got["tool_cpu"], key + "_error": got["error"]})
    return result
