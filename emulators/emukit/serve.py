"""Start-up helpers: loopback binding, port announcement, TLS, signal handling."""
import asyncio
import os
import signal
import stat
import sys


_announced = False


def _write_port_file(port_file, text):
    if os.path.exists(port_file) and stat.S_ISFIFO(os.stat(port_file).st_mode):
        with open(port_file, "w") as f:
            f.write(f"{text}\n")
        return
    tmp = f"{port_file}.tmp{os.getpid()}"
    with open(tmp, "w") as f:
        f.write(f"{text}\n")
    os.replace(tmp, port_file)


def announce_port(port, port_file=None):
    """First stdout line is "PORT <n>", so a parent can start us with port 0 and read it.
    A port file (regular file, written atomically, or a FIFO) gets the bare number."""
    global _announced
    _announced = True
    sys.stdout.write(f"PORT {port}\n")
    sys.stdout.flush()
    if port_file:
        _write_port_file(port_file, port)


def run_main(main, port_file):
    """Runs main(); if it fails before announcing a port, the port file says FAIL so
    a launcher waiting on it stops waiting."""
    try:
        main()
    except BaseException:
        if port_file and not _announced:
            try:
                _write_port_file(port_file, "FAIL")
            except OSError:
                pass
        raise


def read_tls_pair(cert_path, key_path):
    """Reads a PEM certificate chain and key; both or neither must be given."""
    if bool(cert_path) != bool(key_path):
        raise SystemExit("--tls-cert and --tls-key go together")
    if not cert_path:
        return None
    with open(key_path, "rb") as f:
        key = f.read()
    with open(cert_path, "rb") as f:
        cert = f.read()
    return key, cert


def log(*parts):
    print(*parts, file=sys.stderr, flush=True)


async def wait_for_termination():
    """Returns on SIGTERM or SIGINT."""
    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()


async def serve_blackhole(host, port, port_file=None):
    """Accepts TCP connections and never answers: a peer that connects but never
    completes a handshake (for client-side creation timeouts)."""
    held = []

    async def hold(reader, writer):
        held.append(writer)
        try:
            while await reader.read(65536):
                pass
        finally:
            writer.close()

    server = await asyncio.start_server(hold, host, port)
    announce_port(server.sockets[0].getsockname()[1], port_file)
    async with server:
        await wait_for_termination()
