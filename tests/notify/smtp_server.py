#!/usr/bin/python3
"""A real SMTP server on 127.0.0.1 for the mail tests.

Prints "PORT <n>" once listening, then one JSON line per event: {"auth": ...} for an AUTH attempt,
{"mail": ...} for each message received, {"wire": ...} when a client leaves, saying whether the
password crossed the network in clear. Modes: plain, auth (LOGIN required, no STARTTLS), silent
(accepts TCP, never answers), reject-rcpt, drop-data (closes the connection during DATA), starttls
(STARTTLS required before anything else, then LOGIN), tls (TLS from the first byte, then LOGIN). The
expected user name and password follow the mode; the server compares them as Windows-1251 bytes. The
two TLS modes take the stem of the certificate and key files last (STEM.pem, STEM.key).
"""
import asyncio
import base64
import json
import ssl
import socket
import sys

mode = sys.argv[1] if len(sys.argv) > 1 else "plain"
user = sys.argv[2] if len(sys.argv) > 2 else "robot"
password = sys.argv[3] if len(sys.argv) > 3 else "secret"
cert_stem = sys.argv[4] if len(sys.argv) > 4 else None


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
    emit({"auth": {"mechanism": mechanism, "login": login, "ok": ok,
                   "tls": mode == "tls" or session.ssl is not None}})
    return AuthResult(success=ok, handled=False)


async def pipe(reader, writer, seen=None):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if seen is not None:
                seen.extend(data)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


async def relay(inner_port, client_reader, client_writer):
    # Every byte the client sends passes here as it crossed the network: the password, as typed or as
    # LOGIN encodes it, must not be among them once TLS is on.
    server_reader, server_writer = await asyncio.open_connection("127.0.0.1", inner_port)
    seen = bytearray()
    await asyncio.gather(pipe(client_reader, server_writer, seen), pipe(server_reader, client_writer))
    secret = password.encode("cp1251")
    emit({"wire": {"password_in_clear": secret in seen or base64.b64encode(secret) in seen}})


async def serve_through_relay(inner_port):
    listener = await asyncio.start_server(lambda r, w: relay(inner_port, r, w), "127.0.0.1", 0)
    print("PORT %d" % listener.sockets[0].getsockname()[1], flush=True)
    async with listener:
        await listener.serve_forever()


def main():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    kwargs = dict(authenticator=authenticator, auth_required=mode in ("auth", "starttls", "tls"),
                  auth_require_tls=False)
    if mode in ("starttls", "tls"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert_stem + ".pem", cert_stem + ".key")
        if mode == "starttls":
            kwargs.update(tls_context=context, require_starttls=True, auth_require_tls=True)
        else:
            kwargs.update(ssl_context=context)
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    try:
        asyncio.run(serve_through_relay(port))
    finally:
        controller.stop()


main()
