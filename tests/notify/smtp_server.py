#!/usr/bin/python3
"""A real SMTP server on 127.0.0.1 for the mail tests.

Prints "PORT <n>" once listening, then one JSON line per event: {"auth": ...} for an AUTH attempt,
{"mail": ...} for each message received. Modes: plain, auth (LOGIN required), silent (accepts TCP,
never answers), reject-rcpt, drop-data (closes the connection during DATA). The expected user name and
password follow the mode; the server compares them as Windows-1251 bytes.
"""
import asyncio
import json
import socket
import sys
import time

mode = sys.argv[1] if len(sys.argv) > 1 else "plain"
user = sys.argv[2] if len(sys.argv) > 2 else "robot"
password = sys.argv[3] if len(sys.argv) > 3 else "secret"


def emit(obj):
    print(json.dumps(obj), flush=True)


if mode == "silent":
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(5)
    emit_port = srv.getsockname()[1]
    print("PORT %d" % emit_port, flush=True)
    held = []
    while True:
        conn, _ = srv.accept()
        held.append(conn)  # never answers

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if mode == "reject-rcpt":
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if mode == "drop-data":
            session.transport.close()
            return "421 closing"
        emit({"mail": {
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
            "auth": session.authenticated,
        }})
        return "250 Message accepted"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        emit({"ehlo": hostname})
        return responses


def authenticator(server, session, envelope, mechanism, auth_data):
    # Like the servers the robot's users have, this one takes the login and password as Windows-1251 bytes.
    is_login = isinstance(auth_data, LoginPassword)
    ok = is_login and auth_data.login == user.encode("cp1251") and auth_data.password == password.encode("cp1251")
    login = auth_data.login.decode("cp1251", errors="replace") if is_login else None
    emit({"auth": {"mechanism": mechanism, "login": login, "ok": ok}})
    return AuthResult(success=ok, handled=False)


def main():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    kwargs = {}
    if mode == "auth":
        kwargs = dict(authenticator=authenticator, auth_required=True, auth_require_tls=False)
    else:
        kwargs = dict(authenticator=authenticator, auth_required=False, auth_require_tls=False)
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    print("PORT %d" % port, flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


main()
