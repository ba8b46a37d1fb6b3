"""A mail sink that offers STARTTLS with a self-signed certificate, as
exchangers do, and throws every message away. It prints its counters the
way smtp-sink does ("sess=N quit=N mesg=N" ended by CR), so relays.Sink
reads either. Usage: tls_sink.py ADDRESS PORT FOLDER (the certificate and
key are made in FOLDER)."""
import asyncio
import os
import ssl
import subprocess
import sys

LINE_LIMIT = 1 << 16  # a longer line ends the session: a sink needs no more
counts = {"sess": 0, "quit": 0, "mesg": 0}


def certificate(folder):
    cert, key = os.path.join(folder, "sink.pem"), os.path.join(folder, "sink.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=sink.invalid"],
                   check=True, capture_output=True, timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


async def skip_body(reader):
    """Reads a message text up to its end line; False if the peer left."""
    while True:
        line = await reader.readline()
        if not line:
            return False
        if line == b".\r\n":
            return True


async def answer(reader, writer, context, tls):
    """Answers one command line; returns (whether TLS is up now, whether to go on)."""
    line = await reader.readline()
    verb = line[:4].upper()
    if not line:
        return tls, False
    if verb == b"EHLO":
        writer.write(b"250-sink.invalid\r\n" + (b"" if tls else b"250-STARTTLS\r\n") + b"250 8BITMIME\r\n")
    elif verb == b"STAR" and not tls:
        writer.write(b"220 2.0.0 ready to start TLS\r\n")
        await writer.start_tls(context)
        return True, True
    elif verb == b"DATA":
        writer.write(b"354 end with .\r\n")
        if not await skip_body(reader):
            return tls, False
        counts["mesg"] += 1
        writer.write(b"250 2.0.0 Ok: queued\r\n")
    elif verb == b"QUIT":
        counts["quit"] += 1
        writer.write(b"221 2.0.0 bye\r\n")
        return tls, False
    else:
        writer.write(b"250 2.0.0 ok\r\n")
    await writer.drain()
    return tls, True


async def session(reader, writer, context):
    counts["sess"] += 1
    tls, going = False, True
    try:
        writer.write(b"220 sink.invalid ESMTP\r\n")
        while going:
            tls, going = await answer(reader, writer, context, tls)
        await writer.drain()
    except (OSError, ssl.SSLError, ValueError, asyncio.LimitOverrunError, asyncio.IncompleteReadError):
        pass  # the relay hung up or sent something a sink need not read
    finally:
        writer.close()


async def report():
    last = None
    while True:
        now = "sess=%d quit=%d mesg=%d\r" % (counts["sess"], counts["quit"], counts["mesg"])
        if now != last:
            sys.stdout.write(now)
            sys.stdout.flush()
            last = now
        await asyncio.sleep(0.1)


async def serve(address, port, context):
    server = await asyncio.start_server(lambda r, w: session(r, w, context), address, port, backlog=1024,
                                        limit=LINE_LIMIT)
    async with server:
        await asyncio.gather(server.serve_forever(), report())


if __name__ == "__main__":
    asyncio.run(serve(sys.argv[1], int(sys.argv[2]), certificate(sys.argv[3])))
