#!/usr/bin/env python3
"""Debian's pebble (an ACME test CA) on loopback for one test.

The test's own CA (made with openssl) signs pebble's TLS certificate; pebble validates HTTP-01
challenges at http://NAME:HTTP_PORT/ and resolves every name to 127.0.0.1 through
pebble-challtestsrv's DNS (from the same package), so names other than localhost work too.

As a module: `with PebbleCA(http_port) as ca: ca.directory, ca.ca_file, ca.root_pem()`.
As a program (for the C++ tests): `pebble_ca.py HTTP_PORT` prints
"READY <directory URL> <CA file>" and runs until its standard input closes.
"""
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_ca(folder):
    """A CA and a certificate for localhost / 127.0.0.1 signed by it; returns (ca, cert, key)."""
    ca_key, ca = os.path.join(folder, "ca-key.pem"), os.path.join(folder, "ca.pem")
    key, csr, cert = (os.path.join(folder, n) for n in ("key.pem", "req.pem", "cert.pem"))
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
        "-subj", "/CN=Vistelle test CA", "-keyout", ca_key, "-out", ca)
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=localhost",
        "-keyout", key, "-out", csr)
    ext = os.path.join(folder, "ext.cnf")
    with open(ext, "w", encoding="ascii") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nextendedKeyUsage=serverAuth\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-days", "2",
        "-extfile", ext, "-out", cert)
    return ca, ca_key, cert, key


class PebbleCA:
    def __init__(self, http_port, folder=None):
        self.http_port = http_port
        self.folder = folder or tempfile.mkdtemp(prefix="vistelle-pebble-")
        os.makedirs(self.folder, exist_ok=True)
        self.processes = []
        self.directory = None
        self.management = None

    def __enter__(self):
        self.ca_file, self.ca_key, cert, key = make_ca(self.folder)
        acme_port, management_port, dns_port, dns_management_port = (free_port() for _ in range(4))
        config = os.path.join(self.folder, "pebble.json")
        with open(config, "w", encoding="ascii") as f:
            json.dump({"pebble": {
                "listenAddress": f"127.0.0.1:{acme_port}",
                "managementListenAddress": f"127.0.0.1:{management_port}",
                "certificate": cert, "privateKey": key,
                "httpPort": self.http_port, "tlsPort": free_port(),
                "ocspResponderURL": "", "externalAccountBindingRequired": False}}, f)
        log = open(os.path.join(self.folder, "pebble.log"), "w", encoding="utf-8")
        self.processes.append(subprocess.Popen(
            ["pebble-challtestsrv", "-dns01", f"127.0.0.1:{dns_port}", "-http01", "", "-https01", "",
             "-tlsalpn01", "", "-management", f"127.0.0.1:{dns_management_port}", "-defaultIPv6", ""],
            stdout=log, stderr=subprocess.STDOUT, start_new_session=True))
        env = dict(os.environ, PEBBLE_VA_NOSLEEP="1")
        self.processes.append(subprocess.Popen(
            ["pebble", "-config", config, "-dnsserver", f"127.0.0.1:{dns_port}"],
            stdout=log, stderr=subprocess.STDOUT, env=env, cwd=self.folder, start_new_session=True))
        self.directory = f"https://127.0.0.1:{acme_port}/dir"
        self.management = f"https://127.0.0.1:{management_port}"
        context = ssl.create_default_context(cafile=self.ca_file)
        deadline = time.monotonic() + 30
        while True:
            try:
                with urllib.request.urlopen(self.directory, context=context, timeout=2) as answer:
                    json.load(answer)
                break
            except OSError:
                if time.monotonic() > deadline or any(p.poll() is not None for p in self.processes):
                    self.__exit__(None, None, None)
                    raise RuntimeError("pebble did not start: " + open(log.name, encoding="utf-8").read())
                time.sleep(0.1)
        return self

    def root_pem(self):
        """The root that pebble issues under (made new at every start)."""
        context = ssl.create_default_context(cafile=self.ca_file)
        with urllib.request.urlopen(self.management + "/roots/0", context=context, timeout=5) as answer:
            return answer.read().decode("ascii")

    def __exit__(self, *exc):
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.processes = []
        return False


def available():
    return shutil.which("pebble") and shutil.which("pebble-challtestsrv") and shutil.which("openssl")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with PebbleCA(int(sys.argv[1])) as ca:
        print("READY", ca.directory, ca.ca_file, flush=True)
        sys.stdin.read()
    return 0


if __name__ == "__main__":
    sys.exit(main())
