#!/usr/bin/python3
"""SMTP peers for the delivery tests, on 127.0.0.1 only.

  smtp_peer.py store <dir> [--user U --password P] [--refuse addr,...]
      aiosmtpd that stores each message: <dir>/<n>/message.eml, the envelope
      (mail_from, rcpt), and what Python's email package makes of it
      (subject, from, to, body, attachments/<filename>, defects).
  smtp_peer.py script <dir> <mode> [<step> <code>]
      a scripted server for faults: silent (accepts, never answers),
      flood (a greeting that never ends),
      close-in-data (closes after part of the message), reply (answers
      <code> at <step>: greeting, helo, ehlo, rset, auth, user, password,
      mail, rcpt, data, end), slow-ehlo (a multi-line EHLO reply in packets).
Prints "READY <port>" when it listens; ends when its standard input closes.
"""
import asyncio
import email
import email.policy
import os
import socket
import sys
import threading
import time


def save_message(folder, mail_from, rcpt, content):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "message.eml"), "wb") as f:
        f.write(content)
    msg = email.message_from_bytes(content, policy=email.policy.default)
    def put(name, text):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("utf-8") if isinstance(text, str) else text)
    put("mail_from", mail_from)
    put("rcpt", "\n".join(rcpt))
    put("subject", str(msg["subject"] or ""))
    put("from", str(msg["from"] or ""))
    put("to", str(msg["to"] or ""))
    put("content_type", msg.get_content_type())
    body = None
    attach = os.path.join(folder, "attachments")
    os.makedirs(attach, exist_ok=True)
    defects = list(msg.defects)
    for part in msg.walk():
        defects += list(part.defects)
        if part.is_multipart():
            continue
        if part.get_content_disposition() == "attachment":
            put(os.path.join("attachments", part.get_filename()), part.get_payload(decode=True))
            with open(os.path.join(folder, "attachment_types"), "a") as f:
                f.write(part.get_filename() + " " + part.get_content_type() + "\n")
        elif body is None and part.get_content_type() == "text/plain":
            body = part.get_payload(decode=True)
            put("body", body)
    put("defects", "\n".join(type(d).__name__ for d in defects))


def run_store(folder, user, password, refuse):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    class Handler:
        count = 0
        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address in refuse:
                return "550 5.1.1 No such user here"
            envelope.rcpt_tos.append(address)
            return "250 OK"
        async def handle_DATA(self, server, session, envelope):
            Handler.count += 1
            save_message(os.path.join(folder, str(Handler.count)), envelope.mail_from,
                         envelope.rcpt_tos, envelope.original_content or envelope.content)
            return "250 Message accepted for delivery"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and \
            auth_data.login.decode() == user and auth_data.password.decode() == password
        return AuthResult(success=ok, handled=False)

    kwargs = dict(hostname="127.0.0.1", port=0, data_size_limit=128 * 1024 * 1024,
                  decode_data=False, auth_require_tls=False)
    if user is not None:
        kwargs.update(authenticator=authenticator, auth_required=True)
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    kwargs["port"] = port
    controller = Controller(Handler(), **kwargs)
    controller.start()
    print("READY", port, flush=True)
    sys.stdin.read()
    controller.stop()


def run_script(folder, mode, step, code):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    print("READY", server.getsockname()[1], flush=True)

    def serve(conn):
        log = open(os.path.join(folder, "received"), "ab")
        f = conn.makefile("rb")
        def say(default_step, text):
            if mode == "reply" and step == default_step:
                conn.sendall(("%s Scripted refusal at %s\r\n" % (code, step)).encode())
                return False
            conn.sendall(text.encode())
            return True
        try:
            if mode == "silent":
                time.sleep(3600)
                return
            if mode == "flood":
                # A greeting that never ends.
                conn.sendall(b"220-scripted\r\n")
                while True:
                    conn.sendall(b"220-more and more\r\n" * 64)
                    time.sleep(0.01)
            if not say("greeting", "220 scripted ESMTP\r\n"):
                return
            while True:
                line = f.readline()
                if not line:
                    return
                log.write(line)
                log.flush()
                verb = line.strip().split(b" ")[0].upper()
                if verb == b"EHLO":
                    if mode == "slow-ehlo":
                        conn.sendall(b"250-scripted\r\n")
                        time.sleep(0.3)
                        conn.sendall(b"250-AUTH LOGIN\r\n")
                        time.sleep(0.3)
                        conn.sendall(b"250 HELP\r\n")
                        continue
                    if not say("ehlo", "250-scripted\r\n250-AUTH LOGIN\r\n250 HELP\r\n"):
                        return
                elif verb == b"HELO":
                    if not say("helo", "250 scripted\r\n"):
                        return
                elif verb == b"RSET":
                    if not say("rset", "250 OK\r\n"):
                        return
                elif verb == b"AUTH":
                    if not say("auth", "334 VXNlcm5hbWU6\r\n"):
                        return
                    user = f.readline()
                    log.write(user)
                    if not say("user", "334 UGFzc3dvcmQ6\r\n"):
                        return
                    password = f.readline()
                    log.write(password)
                    if not say("password", "235 Authentication successful\r\n"):
                        return
                elif verb == b"MAIL":
                    if not say("mail", "250 OK\r\n"):
                        return
                elif verb == b"RCPT":
                    if not say("rcpt", "250 OK\r\n"):
                        return
                elif verb == b"DATA":
                    if not say("data", "354 End data with <CR><LF>.<CR><LF>\r\n"):
                        return
                    got = 0
                    while True:
                        chunk = f.readline()
                        if not chunk:
                            return
                        got += len(chunk)
                        if mode == "close-in-data" and got > 2000:
                            conn.shutdown(socket.SHUT_RDWR)
                            conn.close()
                            return
                        if chunk == b".\r\n":
                            break
                    if not say("end", "250 OK queued\r\n"):
                        return
                elif verb == b"QUIT":
                    conn.sendall(b"221 Bye\r\n")
                    return
                else:
                    conn.sendall(b"502 Command not implemented\r\n")
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def accept_loop():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    sys.stdin.read()
    server.close()


def main():
    args = sys.argv[1:]
    kind, folder = args[0], args[1]
    os.makedirs(folder, exist_ok=True)
    if kind == "store":
        user = password = None
        refuse = set()
        rest = args[2:]
        while rest:
            key, value = rest[0], rest[1]
            rest = rest[2:]
            if key == "--user":
                user = value
            elif key == "--password":
                password = value
            elif key == "--refuse":
                refuse = set(value.split(","))
        run_store(folder, user, password, refuse)
    else:
        mode = args[2]
        step = args[3] if len(args) > 3 else ""
        code = args[4] if len(args) > 4 else ""
        run_script(folder, mode, step, code)


if __name__ == "__main__":
    main()
