#!/usr/bin/env python3
# A network port that takes every connection and never says a word: what a
# device server looks like whose far side hangs, for measuring the window's
# start-up with such a port in its list.
#
#   bench/silent_port.py [SECONDS]
#
# Listens on 127.0.0.1 at a port the system chooses (free), prints
# "port: N" on standard output, keeps every connection open, reads and drops
# whatever comes, and ends on SIGTERM or after SECONDS (600 when not given).
import selectors
import signal
import socket
import sys
import time

limit = float(sys.argv[1]) if len(sys.argv) > 1 else 600.0
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(('127.0.0.1', 0))
server.listen(64)
server.setblocking(False)
print('port: %d' % server.getsockname()[1], flush=True)

sel = selectors.DefaultSelector()
sel.register(server, selectors.EVENT_READ)
end = time.monotonic() + limit
while time.monotonic() < end:
    for key, _ in sel.select(timeout=0.5):
        if key.fileobj is server:
            try:
                conn, _ = server.accept()
            except BlockingIOError:
                continue
            conn.setblocking(False)
            sel.register(conn, selectors.EVENT_READ)
            continue
        conn = key.fileobj
        try:
            data = conn.recv(4096)
        except (BlockingIOError, InterruptedError):
            continue
        except OSError:
            data = b''
        if not data:
            sel.unregister(conn)
            conn.close()
