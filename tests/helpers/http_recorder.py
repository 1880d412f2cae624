#!/usr/bin/env python3
"""A web server on 127.0.0.1 for the upload and download tests.

It records every request in a log, one line per fact, so that the tests can
check what arrived without trusting the sender:
  REQUEST <method> <path>
  HEADER <name>: <value>
  FIELD <name> <value>
  PART <name> <filename> <content-type> <size> <sha256>
  END
and it misbehaves on request, by path:
  /file/<name>  the file <name> of --serve-dir
  /hang         reads the request and never answers
  /huge         claims 10 GB and sends zeros until the client hangs up
  /endless      sends zeros with no length until the client hangs up
  /loop         redirects to itself
  /error500     answers 500 with a text
  anything else answers a POST with "OK <n> parts" and a GET with 404.

  http_recorder.py --port-file F --log F [--serve-dir D] [--tls CERT KEY]
"""
import argparse
import email.parser
import email.policy
import hashlib
import http.server
import os
import ssl
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, lines):
        with self.server.log_lock, open(self.server.log_path, "a", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    def head_lines(self):
        lines = [f"REQUEST {self.command} {self.path}"]
        lines += [f"HEADER {k}: {v}" for k, v in self.headers.items()]
        return lines

    def answer(self, status, text, extra=()):
        body = text.encode()
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def stream_zeros(self, length_header):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if length_header:
            self.send_header("Content-Length", str(10 * 1024 ** 3))
        else:
            self.send_header("Connection", "close")
        self.end_headers()
        chunk = b"\0" * 65536
        try:
            while True:
                self.wfile.write(chunk)
        except OSError:
            pass
        self.close_connection = True

    def misbehave(self):
        if self.path == "/hang":
            time.sleep(3600)
            return True
        if self.path in ("/huge", "/endless"):
            self.stream_zeros(self.path == "/huge")
            return True
        if self.path == "/loop":
            self.answer(302, "again", [("Location", "/loop")])
            return True
        if self.path == "/error500":
            self.answer(500, "server broke")
            return True
        return False

    def do_GET(self):
        self.record(self.head_lines() + ["END"])
        if self.misbehave():
            return
        if self.path.startswith("/file/") and self.server.serve_dir:
            name = os.path.basename(self.path[len("/file/"):])
            try:
                data = open(os.path.join(self.server.serve_dir, name), "rb").read()
            except OSError:
                self.answer(404, "no such file")
                return
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            return
        self.answer(404, "no such file")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        lines = self.head_lines()
        parts = 0
        ctype = self.headers.get("Content-Type", "")
        if ctype.startswith("multipart/form-data"):
            msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
                b"Content-Type: " + ctype.encode() + b"\r\n\r\n" + body)
            for part in msg.iter_parts():
                parts += 1
                name = part.get_param("name", header="content-disposition")
                filename = part.get_param("filename", header="content-disposition")
                data = part.get_payload(decode=True) or b""
                if filename is None:
                    lines.append(f"FIELD {name} {data.decode(errors='replace')}")
                else:
                    lines.append(f"PART {name} {filename} {part.get_content_type()} {len(data)} "
                                 f"{hashlib.sha256(data).hexdigest()}")
        self.record(lines + ["END"])
        if self.misbehave():
            return
        self.answer(200, f"OK {parts} parts")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--serve-dir")
    ap.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    a = ap.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log_path, server.log_lock, server.serve_dir = a.log, threading.Lock(), a.serve_dir
    if a.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.tls[0], a.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    tmp = a.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(tmp, a.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
