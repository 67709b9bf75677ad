"""A mosquitto broker of a test's own on loopback: TLS with a test CA, a password file, an ACL that
lets the site's publisher write its prefix and the desktops read, persistence on."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from vistelle_e2e import free_port, poll

PASSWORD = "s3cret-relay"


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Broker:
    def __init__(self):
        self.mosquitto = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
        if not os.path.exists(self.mosquitto):
            raise FileNotFoundError("mosquitto")
        self.dir = tempfile.mkdtemp(prefix="vistelle-broker-")
        os.chmod(self.dir, 0o755)
        self.port = free_port()
        d = self.dir
        self.ca = os.path.join(d, "ca.pem")
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Relay test CA",
            "-keyout", os.path.join(d, "ca.key"), "-out", self.ca)
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
            "-keyout", os.path.join(d, "server.key"), "-out", os.path.join(d, "server.csr"))
        with open(os.path.join(d, "ext"), "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
        run("openssl", "x509", "-req", "-in", os.path.join(d, "server.csr"), "-CA", self.ca,
            "-CAkey", os.path.join(d, "ca.key"), "-CAcreateserial", "-days", "2",
            "-extfile", os.path.join(d, "ext"), "-out", os.path.join(d, "server.pem"))
        passwords = os.path.join(d, "passwords")
        open(passwords, "w").close()
        for user in ("site", "desk"):
            run("mosquitto_passwd", "-b", passwords, user, PASSWORD)
        with open(os.path.join(d, "acl"), "w") as f:
            f.write("user site\ntopic write vistelle/mysite/#\n\nuser desk\ntopic read vistelle/#\n")
        os.makedirs(os.path.join(d, "data"))
        with open(os.path.join(d, "mosquitto.conf"), "w") as f:
            f.write(f"""per_listener_settings false
user {"root" if os.geteuid() == 0 else os.environ.get("USER", "nobody")}
listener {self.port} 127.0.0.1
cafile {self.ca}
certfile {d}/server.pem
keyfile {d}/server.key
allow_anonymous false
password_file {passwords}
acl_file {d}/acl
persistence true
persistence_location {d}/data/
autosave_interval 1
max_queued_messages 0
max_inflight_messages 0
log_dest file {d}/broker.log
""")
        for name in os.listdir(d):
            os.chmod(os.path.join(d, name), 0o755 if name == "data" else 0o644)
        self.proc = None

    def url(self, user, prefix):
        return f"mqtts://{user}@localhost:{self.port}/{prefix}"

    def start(self):
        self.proc = subprocess.Popen([self.mosquitto, "-c", os.path.join(self.dir, "mosquitto.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.5).close()
                return True
            except OSError:
                return False
        poll(listening, timeout=10, what="the broker listening")
        return self

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait()

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


    def wait_a_save(self):
        """Until mosquitto saved its state again (every second: autosave_interval 1)."""
        db = os.path.join(self.dir, "data", "mosquitto.db")
        since = time.time()
        poll(lambda: os.path.exists(db) and os.path.getmtime(db) > since, timeout=10, what="the broker's save")
