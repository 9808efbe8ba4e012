#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A notification server that signs any account in and then floods it with CHG lines, each of
which the client answers with a SYN. For bench_flood; loopback only.

    flood_server.py reading|unread SECONDS

Prints the port it listens on. "reading" takes in and drops what the client sends; "unread"
never reads again after the sign-in, so the client's answers pile up on its side.
"""
import socket
import sys
import threading
import time

mode, seconds = sys.argv[1], float(sys.argv[2])
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(1)
print(server.getsockname()[1], flush=True)
conn, _ = server.accept()

buffer = b""
while b"CHG " not in buffer:  # the client's CHG ends its sign-in
    data = conn.recv(4096)
    if not data:
        sys.exit(1)
    buffer += data
    while b"\r\n" in buffer and b"CHG " not in buffer.split(b"\r\n")[0]:
        line, buffer = buffer.split(b"\r\n", 1)
        words = line.decode().split(" ")
        if words[0] == "VER":
            conn.sendall(f"VER {words[1]} MSNP5\r\n".encode())
        elif words[0] == "INF":
            conn.sendall(f"INF {words[1]} MD5\r\n".encode())
        elif words[0] == "USR" and words[3] == "I":
            conn.sendall(f"USR {words[1]} MD5 S 1013928519.693957190\r\n".encode())
        elif words[0] == "USR":
            conn.sendall(f"USR {words[1]} OK {words[1]} Me\r\n".encode())

if mode == "reading":
    def drain():
        try:
            while conn.recv(65536):
                pass
        except OSError:
            pass
    threading.Thread(target=drain, daemon=True).start()

flood = b"CHG 9 NLN\r\n" * 4096
end = time.monotonic() + seconds
try:
    while time.monotonic() < end:
        conn.sendall(flood)
except OSError:
    pass  # the client left
conn.close()
