#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A server of the service that answers at once, for bench_run; loopback only.

    fast_server.py

Prints the port it listens on. The notification server and the switchboards share it: a
connection that opens with "USR 1" is a switchboard. It signs any account in and answers each
call by the address: a quarter ring, a quarter are offline, a quarter are unknown and a quarter
are on none of the caller's lists until an allow-list add.
"""
import asyncio
import sys
import zlib


def kind(address):
    return zlib.crc32(address.encode()) % 4  # 0 online, 1 offline, 2 unknown, 3 on no list


async def client(reader, writer):
    port = writer.get_extra_info("sockname")[1]
    try:
        while True:
            line = await reader.readline()
            if not line:
                break
            w = line.decode("utf-8", "replace").rstrip("\r\n").split(" ")
            c, t = w[0], (w[1] if len(w) > 1 else "0")
            out = None
            if c == "VER":
                out = f"VER {t} MSNP5"
            elif c == "INF":
                out = f"INF {t} MD5"
            elif c == "USR" and t == "1":
                out = f"USR 1 OK {w[2]} Me"
            elif c == "USR" and len(w) > 3 and w[3] == "I":
                out = f"USR {t} MD5 S 1013928519.693957190"
            elif c == "USR":
                out = f"USR {t} OK me@example.com Me"
            elif c == "CHG":
                out = f"CHG {t} NLN 0"
            elif c == "SYN":
                out = f"SYN {t} 1\r\nLST {t} AL 1 0 0\r\nBLP {t} 1 AL"
            elif c == "XFR":
                out = f"XFR {t} SB 127.0.0.1:{port} CKI ticket{t}"
            elif c == "ADD":
                out = f"ADD {t} AL 2 {w[3]} {w[3]}"
            elif c == "REM":
                out = f"REM {t} AL 3 {w[3]}"
            elif c == "CAL":
                k = kind(w[2])
                if k == 3 and w[2] not in ALLOWED and t == "2":
                    out = f"205 {t}"
                else:
                    out = {0: f"CAL {t} RINGING 1", 1: f"217 {t}", 2: f"207 {t}", 3: f"CAL {t} RINGING 1"}[k]
            elif c == "OUT":
                writer.write(b"OUT\r\n")
                break
            if out:
                writer.write((out + "\r\n").encode())
                if c == "ADD":
                    ALLOWED.add(w[3])
                elif c == "REM":
                    ALLOWED.discard(w[3])
    except (ConnectionError, OSError):
        pass
    writer.close()


ALLOWED = set()  # shared by the notification connection and the switchboards


async def main():
    server = await asyncio.start_server(client, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


try:
    asyncio.run(main())
except KeyboardInterrupt:
    sys.exit(0)
