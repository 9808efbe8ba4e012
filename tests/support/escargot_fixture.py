#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A real MSN-compatible server for the interoperability test: Escargot, run on loopback.

    escargot_fixture.py CONFIG        CONFIG: {"accounts": {email: password},
                                               "lists": {email: [contact, ...]},   (forward lists)
                                               "allow": {email: [contact, ...]},   (allow lists)
                                               "online": [email, ...],             (kept signed in)
                                               "hidden": [email, ...]}             (signed in, appearing offline)

A forward-list entry is stored as the server stores an add: the contact on the owner's forward list
and the owner on the contact's reverse list.

Needs ESCARGOT_DIR (a plain copy of the Escargot source tree) and ESCARGOT_SHIM (a folder with
stand-ins for modules the server imports that Debian does not package). Two versions of the tree
are told apart by their layout: the older one (cmd/user.py, db.py; contact lists as JSON in
t_user.contacts), whose switchboard address must be edited to 127.0.0.1:1864, and the newer one
(script/user.py, core/db.py with front_data; t_user_contact rows), which hands out the address its
settings name. Run it with Debian's /usr/bin/python3 and python3-lxml, -aiohttp, -sqlalchemy,
-jinja2 and -markupsafe, and for the newer tree -dateutil, -tz and -cryptography.

It prints "READY version" once the server listens on 127.0.0.1:1863 and the online accounts are
signed in, or "ERROR reason". Then it answers commands on stdin, one line each:
    RECEIVED email   the commands that account's own connection got since its sign-in, as JSON
    LISTS email      that account's contacts and their list bits as the server stored them, JSON
    RESTART seconds  kills the server, waits, starts it again on the same data and signs the online
                     accounts in again; prints "READY" (or "ERROR reason") when it is back
    SIGNIN email     signs that account in, as a client of its own would; prints "OK" or "ERROR reason"
    SIGNOUT email    signs it out again; prints "OK"
    STOP             stops everything; so does the end of stdin
Every account it keeps online also signs out when it stops; nothing outlives it.
"""
import hashlib
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HOST, NS_PORT = "127.0.0.1", 1863
PYTHON = "/usr/bin/python3"

OLD, NEW = "old", "new"
FL, AL, RL = 1, 2, 8

# Written into the server's working folder: its settings, and a start that binds loopback only.
SETTINGS = "DB = 'sqlite:///{d}/msn.sqlite'\nSTATS_DB = 'sqlite:///{d}/stats.sqlite'\nDEBUG = True\nDEBUG_MSNP = True\n"
SETTINGS_NEW = "TARGET_HOST = '127.0.0.1'\nLOGIN_HOST = '127.0.0.1'\nSTORAGE_HOST = '127.0.0.1'\n"
START = """import util.misc as m
class LoopbackProtocol(m.ProtocolRunner):
    def __init__(self, host, *args, **kwargs):
        super().__init__('127.0.0.1', *args, **kwargs)
class LoopbackHTTP(m.AIOHTTPRunner):
    def __init__(self, host, *args, **kwargs):
        super().__init__('127.0.0.1', *args, **kwargs)
m.ProtocolRunner, m.AIOHTTPRunner = LoopbackProtocol, LoopbackHTTP
import run_all
run_all.main()
"""

# The newer tree's own set-up scripts need PyPI packages that Debian lacks; this does the same
# with the tree's own models.
SETUP_NEW = """import json, sys, settings
from core import db, stats
from core.conn import Conn
from script.user import set_passwords
from util.misc import gen_uuid
setup = json.loads(sys.argv[1])
conn = Conn(settings.DB)
db.Base.metadata.create_all(conn.engine)
stats.Base.metadata.create_all(Conn(settings.STATS_DB).engine)
with conn.session() as sess:
    users = {}
    for email, password in setup['accounts'].items():
        u = users[email] = db.User(uuid=gen_uuid(), email=email, username=email, verified=False,
                                   friendly_name=email, groups=[], settings={})
        set_passwords(u, password, support_old_msn=True)
        sess.add(u)
    sess.flush()
    for n, (owner, contact, lists) in enumerate(setup['entries']):
        o, c = users[owner], users[contact]
        sess.add(db.UserContact(user_id=o.id, contact_id=c.id, user_uuid=o.uuid, uuid=c.uuid, name=contact,
                                lists=lists, pending=bool(lists & 8), groups=[], is_messenger_user=True,
                                index_id=str(n + 2), locations={}))
"""


def tree_version(tree):
    def has(*path):
        return os.path.isfile(os.path.join(tree, *path))
    if has("run_all.py") and has("script", "user.py") and has("core", "db.py"):
        with open(os.path.join(tree, "core", "db.py"), errors="replace") as f:
            if "front_data" in f.read():
                return NEW
    if has("run_all.py") and has("cmd", "user.py") and has("db.py"):
        return OLD
    raise OSError(f"ESCARGOT_DIR={tree!r} holds no Escargot tree of a known layout")


def entries(config):
    """{(owner, contact): list bits}: forward-list entries with their reverse-list side, allow lists."""
    bits = {}
    for owner, contacts in config.get("lists", {}).items():
        for contact in contacts:
            bits[(owner, contact)] = bits.get((owner, contact), 0) | FL
            bits[(contact, owner)] = bits.get((contact, owner), 0) | RL
    for owner, contacts in config.get("allow", {}).items():
        for contact in contacts:
            bits[(owner, contact)] = bits.get((owner, contact), 0) | AL
    return bits

CREATE_ACCOUNTS = """import json, sys
from db import Session, User
from util import hash
from util.misc import gen_uuid
with Session() as sess:
    for email, password in json.loads(sys.argv[1]).items():
        user = User(uuid=gen_uuid(), email=email, verified=False, name=email, message='',
                    settings={}, groups={}, contacts={})
        user.password = hash.hasher.encode(password)
        user.password_md5 = hash.hasher_md5.encode(password)
        sess.add(user)
"""


def accepts(port):
    try:
        socket.create_connection((HOST, port), 0.2).close()
        return True
    except OSError:
        return False


class Account:
    """One account signed in over MSNP5 and kept online, recording every line it gets."""

    def __init__(self, email, password, status="NLN"):
        self.email, self.password, self.status = email, password, status
        self.sock = socket.create_connection((HOST, NS_PORT), 5)
        self.buffer = b""
        self.received = []
        self.lock = threading.Lock()
        self.trid = 0

    def send(self, *words):
        self.trid += 1
        self.sock.sendall((" ".join([words[0], str(self.trid), *words[1:]]) + "\r\n").encode())
        return self.trid

    def line(self):
        while b"\r\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise OSError("the server hung up")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        words = line.decode("utf-8", "replace").split(" ")
        if words[0] in ("MSG", "NOT") and words[-1].isdigit():
            length = int(words[-1])
            while len(self.buffer) < length:
                self.buffer += self.sock.recv(65536)
            self.buffer = self.buffer[length:]
        return words

    def answer(self, trid):
        while True:
            words = self.line()
            if len(words) > 1 and words[1] == str(trid):
                return words

    def sign_in(self):
        self.answer(self.send("VER", "MSNP5", "MSNP4", "CVR0"))
        self.answer(self.send("INF"))
        trid = self.send("USR", "MD5", "I", self.email)
        words = self.answer(trid)
        if words[:4] != ["USR", str(trid), "MD5", "S"]:
            raise OSError(f"{self.email}: sign-in answered {' '.join(words)}")
        digest = hashlib.md5((words[4] + self.password).encode()).hexdigest()
        self.sock.sendall(f"USR {trid} MD5 S {digest}\r\n".encode())
        words = self.answer(trid)
        if words[:3] != ["USR", str(trid), "OK"]:
            raise OSError(f"{self.email}: password answered {' '.join(words)}")
        self.answer(self.send("CHG", self.status))
        # The lists and settings follow the SYN answer, in an order of the server's own; each list
        # ends with the line whose two numbers are equal.
        syn = self.send("SYN", "0")
        done = set()
        while len(done) < 5:
            words = self.answer(syn)
            if words[0] == "LST" and len(words) > 5 and words[4] == words[5]:
                done.add(words[2])
            elif words[0] == "BLP":
                done.add("BLP")
        self.sock.settimeout(None)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        try:
            while True:
                words = self.line()
                with self.lock:
                    self.received.append(" ".join(words))
        except OSError:
            pass

    def sign_out(self):
        try:
            self.sock.sendall(b"OUT\r\n")
            self.sock.close()
        except OSError:
            pass


class Server:
    def __init__(self, config):
        self.config = config
        self.tree = os.environ.get("ESCARGOT_DIR", "")
        self.shim = os.environ.get("ESCARGOT_SHIM", "")
        self.work = tempfile.mkdtemp(prefix="velmora-escargot-")
        self.process = None
        self.version = None
        self.online = {}

    def environment(self):
        return dict(os.environ, PYTHONPATH=os.pathsep.join([self.work, self.tree, self.shim]),
                    PYTHONDONTWRITEBYTECODE="1", PYTHONUNBUFFERED="1")

    def tool(self, *args):
        done = subprocess.run([PYTHON, *args], cwd=self.work, env=self.environment(), capture_output=True,
                              text=True, timeout=60)
        if done.returncode:
            raise OSError(f"{os.path.basename(args[0])}: {(done.stderr or done.stdout).strip()[-300:]}")

    def start(self):
        self.version = tree_version(self.tree)
        if not os.path.isdir(self.shim):
            raise OSError(f"ESCARGOT_SHIM={self.shim!r} is no folder")
        if accepts(NS_PORT):
            raise OSError(f"something already listens on {HOST}:{NS_PORT}")
        with open(os.path.join(self.work, "settings_local.py"), "w") as f:
            f.write(SETTINGS.format(d=self.work) + (SETTINGS_NEW if self.version == NEW else ""))
        with open(os.path.join(self.work, "start.py"), "w") as f:
            f.write(START)
        if self.version == NEW:
            setup = {"accounts": self.config["accounts"],
                    "entries": [[o, c, b] for (o, c), b in entries(self.config).items()]}
            self.tool("-c", SETUP_NEW, json.dumps(setup))
        else:
            self.tool(os.path.join(self.tree, "cmd", "dbcreate.py"))
            # As cmd/user.py --old makes one account, in one process for all of them.
            self.tool("-c", CREATE_ACCOUNTS, json.dumps(self.config["accounts"]))
            self.write_lists()
        self.run()

    def run(self):
        log = open(os.path.join(self.work, "server.log"), "a")
        self.process = subprocess.Popen([PYTHON, os.path.join(self.work, "start.py")], cwd=self.work,
                                        env=self.environment(), stdout=log, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        deadline = time.monotonic() + 30
        while not accepts(NS_PORT):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise OSError("the server did not start: " + self.log_tail())
            time.sleep(0.1)
        for email in self.config.get("online", []) + self.config.get("hidden", []):
            hidden = email in self.config.get("hidden", [])
            account = Account(email, self.config["accounts"][email], "HDN" if hidden else "NLN")
            account.sign_in()
            self.online[email] = account

    def kill(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()

    def restart(self, seconds):
        self.kill()
        for account in self.online.values():
            account.sign_out()
        self.online = {}
        time.sleep(seconds)
        self.run()

    def write_lists(self):
        # Straight into the stored lists before the server runs: nobody is told of them.
        db = sqlite3.connect(os.path.join(self.work, "msn.sqlite"))
        try:
            uuids = dict(db.execute("SELECT email, uuid FROM t_user"))
            rows = {}
            for (owner, contact), bits in entries(self.config).items():
                rows.setdefault(owner, []).append({"uuid": uuids[contact], "name": contact, "message": "",
                                                   "lists": bits, "groups": [], "is_messenger_user": True})
            for owner, contacts in rows.items():
                db.execute("UPDATE t_user SET contacts = ? WHERE email = ?", (json.dumps(contacts), owner))
            db.commit()
        finally:
            db.close()

    def lists(self, email):
        time.sleep(2.5)  # the server writes changed lists back once a second
        db = sqlite3.connect(os.path.join(self.work, "msn.sqlite"))
        try:
            if self.version == NEW:
                return dict(db.execute("SELECT u.email, c.lists FROM t_user_contact c JOIN t_user u ON "
                                       "u.id = c.contact_id JOIN t_user o ON o.id = c.user_id WHERE o.email = ?",
                                       (email,)))
            emails = {uuid: mail for mail, uuid in db.execute("SELECT email, uuid FROM t_user")}
            (contacts,) = db.execute("SELECT contacts FROM t_user WHERE email = ?", (email,)).fetchone()
            return {emails.get(c["uuid"], c["uuid"]): c["lists"] for c in json.loads(contacts)}
        finally:
            db.close()

    def log_tail(self):
        try:
            with open(os.path.join(self.work, "server.log"), errors="replace") as f:
                return " | ".join(f.read().splitlines()[-5:])
        except OSError:
            return ""

    def stop(self):
        for account in self.online.values():
            account.sign_out()
        self.kill()
        shutil.rmtree(self.work, ignore_errors=True)


def main():
    server = Server(json.loads(sys.argv[1]))
    # A test that dies without saying STOP still leaves nothing running.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    threading.Timer(600, lambda: os.kill(os.getpid(), signal.SIGTERM)).start()
    try:
        try:
            server.start()
        except (OSError, KeyError, subprocess.SubprocessError) as e:
            print("ERROR", e, flush=True)
            return 1
        print("READY", server.version, flush=True)
        for command in sys.stdin:
            verb, _, email = command.strip().partition(" ")
            if verb == "RECEIVED":
                account = server.online.get(email)
                with account.lock:
                    print(json.dumps(account.received), flush=True)
            elif verb == "LISTS":
                print(json.dumps(server.lists(email)), flush=True)
            elif verb == "RESTART":
                try:
                    server.restart(float(email))
                    print("READY", flush=True)
                except (OSError, KeyError, subprocess.SubprocessError) as e:
                    print("ERROR", e, flush=True)
            elif verb == "SIGNIN":
                try:
                    account = Account(email, server.config["accounts"][email])
                    account.sign_in()
                    server.online[email] = account
                    print("OK", flush=True)
                except (OSError, KeyError) as e:
                    print("ERROR", e, flush=True)
            elif verb == "SIGNOUT":
                account = server.online.pop(email, None)
                if account:
                    account.sign_out()
                print("OK", flush=True)
            elif verb == "STOP":
                break
        return 0
    finally:
        server.stop()


if __name__ == "__main__":
    code = main()
    os._exit(code)
