"""An https site watched with a certificate the program obtained by itself.

pebble (an ACME test CA) runs on loopback and validates its HTTP-01 challenges at the program's
listening port, where the program's own listener answers them; the program gets a certificate for
vistelle.test and serves TLS with it. A real headless Chromium then loads an https page carrying
the README's snippet (http://vistelle.test:PORT/t.gif): on an https page the browser upgrades the
reference to https on the same port, so the visit arrives as a TLS handshake. Chromium trusts
pebble's root (and the test CA of the page's own certificate) through a throwaway NSS database,
and resolves vistelle.test to 127.0.0.1, then to ::1 for the IPv6 round.

The name is not localhost because browsers treat http://localhost as secure and never upgrade it:
a page on localhost would reach the program in plain text and prove nothing about TLS.
"""
import functools
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))

from pebble_ca import PebbleCA, available  # noqa: E402
from vistelle_e2e import Program, free_port  # noqa: E402

SKIP = 77
NAME = "vistelle.test"


class DualStackServer(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6

    def server_bind(self):
        self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        super().server_bind()


def serve_https(directory, cert, key):
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=directory)
    handler.log_message = lambda *args: None
    server = DualStackServer(("::", 0), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def page_certificate(ca, folder):
    """A certificate for NAME signed by the test CA that pebble's own certificate comes from."""
    key, csr, cert, ext = (os.path.join(folder, n) for n in ("page-key.pem", "page.csr", "page.pem", "page.cnf"))
    with open(ext, "w", encoding="ascii") as f:
        f.write(f"subjectAltName=DNS:{NAME}\nextendedKeyUsage=serverAuth\n")
    for args in (["req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", f"/CN={NAME}",
                  "-keyout", key, "-out", csr],
                 ["x509", "-req", "-in", csr, "-CA", ca.ca_file, "-CAkey", ca.ca_key, "-CAcreateserial", "-days", "2",
                  "-extfile", ext, "-out", cert]):
        subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def browser_home(ca, folder):
    """A home folder whose NSS database trusts pebble's root and the test CA, for this test only."""
    home = os.path.join(folder, "browser-home")
    nssdb = os.path.join(home, ".pki", "nssdb")
    os.makedirs(nssdb)
    root = os.path.join(folder, "pebble-root.pem")
    with open(root, "w", encoding="ascii") as f:
        f.write(ca.root_pem())
    subprocess.run(["certutil", "-d", "sql:" + nssdb, "-N", "--empty-password"], check=True)
    for nick, path in (("pebble-root", root), ("test-ca", ca.ca_file)):
        subprocess.run(["certutil", "-d", "sql:" + nssdb, "-A", "-t", "C,,", "-n", nick, "-i", path], check=True)
    return home


def load(browser, url, home, address):
    env = dict(os.environ, HOME=home)
    profile = tempfile.mkdtemp(prefix="vistelle-browser-", dir=home)
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    f"--host-resolver-rules=MAP {NAME} {address}", "--user-data-dir=" + profile,
                    # A desktop browser's name: headless Chromium's own is a crawler's.
                    "--user-agent=Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                    "Chrome/131.0.0.0 Safari/537.36",
                    "--virtual-time-budget=5000", "--dump-dom", url],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=90, check=False)


def main():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser or not available() or not shutil.which("certutil"):
        print("chromium, pebble or certutil (libnss3-tools) is not installed: skipped")
        return SKIP
    port = free_port()
    folder = tempfile.mkdtemp(prefix="vistelle-tls-")
    with PebbleCA(port, folder=os.path.join(folder, "pebble")) as ca:
        program = Program(settings={
            "ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0",
            "AcmeDomain": NAME, "AcmeDirectoryURL": ca.directory, "AcmeEmail": "owner@example.org",
            "CAFile": ca.ca_file}).start()
        try:
            program.wait_line(f"Listening for connections on port: {port}")
            program.wait_line(f"TLS certificate for {NAME} obtained, valid until ", timeout=90)
            stored = os.path.join(program.home, ".local", "share", "vistelle", "tls")
            assert os.stat(stored).st_mode & 0o777 == 0o700, oct(os.stat(stored).st_mode)
            for name in ("account-key.pem", "certificate-key.pem", "certificate.pem"):
                mode = os.stat(os.path.join(stored, name)).st_mode & 0o777
                assert mode == 0o600, (name, oct(mode))
            # pebble's validation requests were answered, and none of them is a visit.
            assert not any("Visit: " in line for line in program.output()), program.output()

            site = os.path.join(folder, "site")
            os.makedirs(site)
            with open(os.path.join(site, "watched.html"), "w", encoding="utf-8") as f:
                f.write(f'<!DOCTYPE html><html><body><h1>Watched</h1><img src="http://{NAME}:{port}/t.gif" '
                        'referrerpolicy="unsafe-url" alt="" width="1" height="1" hidden></body></html>')
            server = serve_https(site, *page_certificate(ca, folder))
            origin = f"https://{NAME}:{server.server_address[1]}"
            home = browser_home(ca, folder)

            for address, visitor in (("127.0.0.1", "127.0.0.1"), ("[::1]", "::1")):
                page = f"{origin}/watched.html?via={visitor}"
                load(browser, page, home, address)
                program.wait_line(f"Visit: {visitor} -> {page}", timeout=30)
                program.wait_line(f"List: ", timeout=5)
                program.wait_line(f"Popup: Visitor: {visitor} | Visited page: {origin}/  watched.html?via={visitor}")
                lines = program.output()
                assert any(line.startswith("List: ") and f" | {visitor} | {page}" in line for line in lines), lines
            lines = program.output()
            loaded = "TLS certificate loaded from " + os.path.join(stored, "certificate.pem") + f" for {NAME}, valid until "
            assert any(loaded in line for line in lines), lines
            assert not any("TLS connection refused" in line or "handshake failed" in line for line in lines), lines
            server.shutdown()
        finally:
            code = program.stop()
        print("\n".join(program.output()))
    assert code == 0, f"exit code {code}"
    return 0


if __name__ == "__main__":
    sys.exit(main())
