#!/usr/bin/python3
"""A real SMTP server on 127.0.0.1 for the mail tests.

    smtp_server.py MODE [key=value ...]

Prints "PORT <n>" once listening, then one JSON line per event: {"ehlo": name} for each hello,
{"auth": ...} for an AUTH attempt, {"mail": ...} for each message received, {"wire": ...} when a
client leaves, saying whether the password crossed the network in clear.

Modes: plain, auth (LOGIN required, no STARTTLS), silent (accepts TCP, never answers), starttls
(STARTTLS required before anything else, then LOGIN), tls (TLS from the first byte, then LOGIN).

Options:
  user=, password=   what LOGIN must give (robot, secret); compared as UTF-8 bytes, as SASL has it
  cert=STEM          the certificate and key files of a TLS mode (STEM.pem, STEM.key)
  refuse=ADDRESS|TIMES|REPLY   answers RCPT TO for ADDRESS with REPLY the first TIMES times (0: always)
  drop_data=TIMES    closes the connection during DATA the first TIMES times
  data_delay=SECONDS answers the end of the data only after SECONDS (the message counts as received)

Like a Postfix with reject_non_fqdn_helo_hostname, it refuses every recipient of a client whose hello
is neither a full domain name nor an address literal.
"""
import asyncio
import base64
import json
import re
import ssl
import socket
import sys

mode = sys.argv[1] if len(sys.argv) > 1 else "plain"
options = {"user": "robot", "password": "secret", "cert": None, "drop_data": "0", "data_delay": "0"}
refusals = []  # [address, times left (None: always), reply]
for arg in sys.argv[2:]:
    key, _, value = arg.partition("=")
    if key == "refuse":
        address, times, reply = value.split("|", 2)
        refusals.append([address.lower(), int(times) or None, reply])
    else:
        options[key] = value
user, password = options["user"], options["password"]
drops_left = int(options["drop_data"])


def emit(obj):
    print(json.dumps(obj), flush=True)


if mode == "silent":
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(5)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = srv.accept()
        held.append(conn)  # never answers

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

FULL_NAME = re.compile(r"^([A-Za-z0-9-]+\.)+[A-Za-z0-9-]+$|^\[.+\]$")


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if not FULL_NAME.match(session.host_name or ""):
            return "504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % session.host_name
        for refusal in refusals:
            if refusal[0] == address.lower() and (refusal[1] is None or refusal[1] > 0):
                if refusal[1] is not None:
                    refusal[1] -= 1
                return refusal[2]
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        global drops_left
        if drops_left > 0:
            drops_left -= 1
            server.transport.close()
            return "421 closing"
        emit({"mail": {
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
            "auth": session.authenticated,
        }})
        await asyncio.sleep(float(options["data_delay"]))
        return "250 Message accepted"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        emit({"ehlo": hostname})
        return responses


def authenticator(server, session, envelope, mechanism, auth_data):
    is_login = isinstance(auth_data, LoginPassword)
    ok = is_login and auth_data.login == user.encode("utf-8") and auth_data.password == password.encode("utf-8")
    login = auth_data.login.decode("utf-8", errors="replace") if is_login else None
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
    secret = password.encode("utf-8")
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
        context.load_cert_chain(options["cert"] + ".pem", options["cert"] + ".key")
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
