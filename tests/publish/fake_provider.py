#!/usr/bin/env python3
"""A small dynamic-DNS provider for the tests, on 127.0.0.1 only.

- an HTTPS account site (login page, service pages, host settings pages) with a certificate of a
  test certificate authority made at start-up with the openssl command;
- a plain-HTTP site: the update protocol (/nic/update, also on the HTTPS site), an echo page, text files for the update
  check, an address-receiving script, and a generic /text answer.

Usage: fake_provider.py --dir DIR --log FILE
Writes ca.pem (the authority of the server certificate) and other-ca.pem (an unrelated one) to
DIR, prints "READY <https-port> <http-port>" and serves until its standard input closes.
Every request is appended to FILE as one JSON line before it is answered:
{"site": "account"|"plain", "path": "/...?...", "headers": [[name-lower-case, value], ...]}
"""

import argparse
import json
import os
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOG_LOCK = threading.Lock()
STATE_LOCK = threading.Lock()
LOG_FILE = None

# The account's hosts: dynamic service first, in page order.
DYN_HOSTS = [
    ("good.test", "10.0.0.1"),
    ("nochg.test", "10.0.0.2"),
    ("capgood.test", "10.0.0.3"),
    ("badauth.test", "10.0.0.4"),
    ("empty.test", "10.0.0.5"),
    ("slow.test", "10.0.0.6"),
    ("huge.test", "10.0.0.7"),
    ("nomx.test", "10.0.0.8"),
    ("4you.test", "10.0.0.9"),
    ("Upper.Test", "10.0.0.10"),
]
STAT_HOSTS = [("static.test", "192.0.2.10")]
# Further hosts shown to the user "updater" only (answers that make a client wait or stop).
UPDATER_HOSTS = [("busy.test", "10.0.1.1"), ("abuse.test", "10.0.1.2"), ("down.test", "10.0.1.3")]
ADDRESSES = dict(DYN_HOSTS + STAT_HOSTS + UPDATER_HOSTS)

UPDATE_ANSWERS = {
    "good.test": lambda ip: "good " + ip,
    "nochg.test": lambda ip: "nochg",
    "capgood.test": lambda ip: "Good " + ip,
    "badauth.test": lambda ip: "badauth",
    "empty.test": lambda ip: "",
    "static.test": lambda ip: "good " + ip,
    "4you.test": lambda ip: "good " + ip,
    "Upper.Test": lambda ip: "nochg " + ip,
    "busy.test": lambda ip: "911",
    "abuse.test": lambda ip: "abuse",
}


def make_certificates(directory):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, cwd=directory,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for name, cn in (("ca", "Vistelle Test CA"), ("other-ca", "Unrelated Test CA")):
        run("req", "-x509", *ec, "-keyout", name + ".key", "-out", name + ".pem", "-days", "3",
            "-subj", "/CN=" + cn, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(directory, "server.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial", "4242",
        "-out", "server.pem", "-days", "3", "-extfile", "server.ext")


def row(service, host, address):
    cells = '<td><a href="/services/%s/%s">%s</a></td>' % (service, host, host)
    if address is not None:
        cells += "<td>%s</td>" % address
    else:
        cells += "<td>(none)</td>"
    return '<tr class="light">%s<td><a href="#">Edit</a></td></tr>\n' % cells


def service_page(service, user):
    with STATE_LOCK:
        listed = DYN_HOSTS + (UPDATER_HOSTS if user == "updater" else []) if service == "dyndns" else STAT_HOSTS
        hosts = [(h, ADDRESSES[h]) for h, _ in listed]
    rows = []
    for index, (host, address) in enumerate(hosts):
        text = row(service, host, address)
        if index == 1:
            # Row class and tags in upper case count as well.
            text = text.replace('<tr class="light">', '<TR CLASS="LIGHT">').replace("</tr>", "</TR>")
        rows.append(text)
    if service == "dyndns":
        if user == "dup":
            rows.append(row(service, "good.test", "10.9.9.9"))
        if user == "noaddr":
            rows.append(row(service, "bare.test", None))
    body = ('<html><head><title>My Services - %s</title></head><body>\n'
            '<table><tr class="dark"><th>Hostname</th><th>IP 1.1.1.1</th></tr>\n%s</table>\n'
            '<tr class="light">unclosed row at the end\n</body></html>') % (service, "".join(rows))
    return body


def host_page(service, host):
    if host == "nomx.test":
        field = '<input type="text" name="wildcard" value="OFF">'
    elif host == "static.test":
        field = '<input type="text" name="mx" value="">'
    else:
        field = '<input type="text" name="mx" value="mail.example.com">'
    return "<html><body><h1>%s</h1><form>%s</form></body></html>" % (host, field)


class Handler(BaseHTTPRequestHandler):
    site = "plain"

    def log_message(self, fmt, *args):
        pass

    def record(self):
        entry = {"site": self.site, "path": self.path,
                 "headers": [[k.lower(), v] for k, v in self.headers.items()]}
        with LOG_LOCK:
            LOG_FILE.write(json.dumps(entry) + "\n")
            LOG_FILE.flush()

    def answer(self, status, body, headers=()):
        data = body.encode("utf-8") if isinstance(body, str) else body
        try:
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True, encoding="latin-1")
        first = lambda key, default="": query.get(key, [default])[0]
        try:
            if self.site == "account":
                self.account(url.path, first)
            else:
                self.plain(url.path, first)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def session_user(self):
        cookie = self.headers.get("Cookie", "")
        if cookie.startswith("ACS_ID=sess-"):
            return cookie[len("ACS_ID=sess-"):]
        return None

    def account(self, path, first):
        if path == "/nic/update":
            # The update protocol is served over https as well.
            self.plain(path, first)
            return
        if path == "/account/login.html":
            user = first("username")
            if user == "refused":
                self.answer(200, '<html><body><p class="error">Login failed.</p></body></html>',
                            [("Set-Cookie", "ACS_ID=refused-session; path=/")])
            elif user == "nocookie":
                self.answer(200, "<html><body>Welcome</body></html>", [("Set-Cookie", "tracking=1; path=/")])
            elif user == "multicookie":
                self.answer(200, "<html><body>Welcome</body></html>",
                            [("Set-Cookie", "lang=en; path=/"),
                             ("Set-Cookie", "ACS_ID=sess-multicookie"),
                             ("Set-Cookie", "theme=dark; path=/")])
            elif user == "bare":
                self.answer(200, "<html><body>Welcome</body></html>", [("Set-Cookie", "ACS_ID=sess-bare")])
            else:
                self.answer(200, "<html><body>Welcome</body></html>",
                            [("Set-Cookie", "ACS_ID=sess-%s; path=/; secure; HttpOnly" % user)])
            return
        parts = path.strip("/").split("/")
        if len(parts) >= 2 and parts[0] == "services" and parts[1] in ("dyndns", "statdns"):
            user = self.session_user()
            if user is None:
                self.answer(403, "<html><body>Please log in</body></html>")
            elif len(parts) == 2 and path.endswith("/"):
                self.answer(200, service_page(parts[1], user))
            elif len(parts) == 3:
                self.answer(200, host_page(parts[1], parts[2]))
            else:
                self.answer(404, "not found")
            return
        self.answer(404, "not found")

    def plain(self, path, first):
        if path == "/nic/update":
            host, ip = first("hostname"), first("myip")
            if host == "slow.test":
                time.sleep(float(first("delay", "3")))
                self.answer(200, "good " + ip)
                return
            if host == "down.test":
                self.answer(503, "Service Unavailable")
                return
            if host == "huge.test":
                self.answer(200, b"good " + b"x" * (2 << 20))
                return
            answer = UPDATE_ANSWERS.get(host, lambda _: "nohost")(ip)
            if answer.startswith("good") or answer.startswith("nochg"):
                with STATE_LOCK:
                    ADDRESSES[host] = ip
            self.answer(200, answer)
        elif path == "/__reset":
            with STATE_LOCK:
                ADDRESSES.clear()
                ADDRESSES.update(dict(DYN_HOSTS + STAT_HOSTS + UPDATER_HOSTS))
            self.answer(200, "reset")
        elif path == "/echo/plain":
            self.answer(200, "203.0.113.7\n")
        elif path == "/echo/html":
            self.answer(200, "<html><head><title>Current IP Check</title></head>"
                             "<body>Current IP Address: 203.0.113.7</body></html>")
        elif path == "/echo/early":
            self.answer(200, "<html><body><h1>Your address</h1> 203.0.113.7</body></html>")
        elif path == "/echo/none":
            self.answer(200, "<html><body>no address here</body></html>")
        elif path == "/text":
            time.sleep(float(first("delay", "0")))
            self.answer(int(first("status", "200")), first("body"))
        elif path == "/big":
            self.answer(200, b"7" * int(first("bytes", "0")))
        elif path == "/redirect":
            self.answer(302, "moved", [("Location", "/text?body=redirected")])
        elif path == "/sendip.asp":
            self.answer(200, "<html><body>ip updated to: 127.0.0.1</body></html>")
        elif path == "/sendip-bad.asp":
            self.answer(200, "<html><body>Hello</body></html>")
        else:
            self.answer(404, "not found")


class AccountHandler(Handler):
    site = "account"


class TlsServer(ThreadingHTTPServer):
    daemon_threads = True
    context = None

    def finish_request(self, request, client_address):
        # The handshake runs in the request's own thread, so a client that refuses the
        # certificate cannot hold up the others.
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(tls, client_address)

    def handle_error(self, request, client_address):
        pass


class PlainServer(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass


def main():
    global LOG_FILE
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    make_certificates(args.dir)
    LOG_FILE = open(args.log, "a", encoding="utf-8")

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(args.dir, "server.pem"), os.path.join(args.dir, "server.key"))
    tls = TlsServer(("127.0.0.1", 0), AccountHandler)
    tls.context = context
    plain = PlainServer(("127.0.0.1", 0), Handler)
    for server in (tls, plain):
        threading.Thread(target=server.serve_forever, daemon=True).start()

    print("READY %d %d" % (tls.server_address[1], plain.server_address[1]), flush=True)
    # Serve until the test closes our standard input (or ends).
    sys.stdin.read()
    os._exit(0)


if __name__ == "__main__":
    main()
