#!/usr/bin/python3
"""HTTP and HTTPS upload server for the delivery tests, on 127.0.0.1 only.

  http_peer.py <dir> [--tls | --cgi]
With --tls a self-signed certificate for 127.0.0.1 is made with openssl in
<dir>/cert.pem first. With --cgi it serves <dir> instead, running the
programs in <dir>/cgi-bin as CGI programs (as "nobody" when started as
root). Paths otherwise:
  /upload...  parses the multipart/form-data body with Python's email
              parser and stores each part: <dir>/<n>/fields/<name>,
              <dir>/<n>/files/<field name>/<file name>, the request's
              content type and authorization in <dir>/<n>/; answers 200
  /fail       answers 500 Internal Server Error
  /loop       answers 302 to itself
  /slow       reads the body, then never answers
As a proxy (the request names a whole address) it serves the same paths and
keeps the request's Proxy-Authorization.
Prints "READY <port>" when it listens; ends when its standard input closes.
"""
import email.parser
import email.policy
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time

folder = sys.argv[1]
tls = "--tls" in sys.argv[2:]
cgi = "--cgi" in sys.argv[2:]
counter = [0]
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = b""
        while len(data) < length:
            chunk = self.rfile.read(min(1 << 20, length - len(data)))
            if not chunk:
                break
            data += chunk
        return data

    def answer(self, code, text, extra=()):
        self.send_response(code, text)
        for key, value in extra:
            self.send_header(key, value)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        body = self.read_body()
        # Through a proxy the path is the whole address.
        if "://" in self.path:
            self.path = "/" + self.path.split("://", 1)[1].split("/", 1)[1] if "/" in self.path.split("://", 1)[1] else "/"
            self.proxied = True
        if self.path.startswith("/fail"):
            return self.answer(500, "Internal Server Error")
        if self.path.startswith("/loop"):
            return self.answer(302, "Found", [("Location", self.path)])
        if self.path.startswith("/slow"):
            time.sleep(3600)
            return
        with lock:
            counter[0] += 1
            n = counter[0]
        out = os.path.join(folder, str(n))
        os.makedirs(os.path.join(out, "fields"), exist_ok=True)
        os.makedirs(os.path.join(out, "files"), exist_ok=True)
        content_type = self.headers.get("Content-Type", "")
        with open(os.path.join(out, "content_type"), "w") as f:
            f.write(content_type)
        with open(os.path.join(out, "authorization"), "w") as f:
            f.write(self.headers.get("Authorization", ""))
        with open(os.path.join(out, "proxy_authorization"), "w") as f:
            f.write(self.headers.get("Proxy-Authorization", ""))
        with open(os.path.join(out, "path"), "w") as f:
            f.write(self.path)
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + body)
        defects = list(message.defects)
        order = []
        for part in message.iter_parts():
            defects += list(part.defects)
            name = part.get_param("name", header="content-disposition")
            filename = part.get_param("filename", header="content-disposition")
            payload = part.get_payload(decode=True)
            if filename is None:
                with open(os.path.join(out, "fields", name), "wb") as f:
                    f.write(payload)
            else:
                os.makedirs(os.path.join(out, "files", name), exist_ok=True)
                with open(os.path.join(out, "files", name, filename), "wb") as f:
                    f.write(payload)
            order.append(name)
        with open(os.path.join(out, "order"), "w") as f:
            f.write("\n".join(order))
        with open(os.path.join(out, "defects"), "w") as f:
            f.write("\n".join(type(d).__name__ for d in defects))
        self.answer(200, "OK")


class CgiHandler(http.server.CGIHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    os.makedirs(folder, exist_ok=True)
    if cgi:
        os.chdir(folder)  # the CGI programs run in the served folder
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), CgiHandler if cgi else Handler)
    server.daemon_threads = True
    if tls:
        cert = os.path.join(folder, "cert.pem")
        key = os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("READY", server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


main()
