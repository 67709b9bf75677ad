"""Small helpers for end-to-end tests that start the real vistelle binary."""
import os
import random
import socket
import subprocess
import tempfile
import threading
import time


def free_port():
    """A free TCP port in the program's 16-bit range (1024..32767)."""
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket(socket.AF_INET6 if socket.has_ipv6 else socket.AF_INET) as s:
            try:
                s.bind(("", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


class Program:
    """Runs vistelle with a throwaway home folder and collects its standard output lines."""

    def __init__(self, settings=None, args=("--headless",), env=None, home=None, prefix=(), binary=None):
        """env: variables to set on top of this process's environment (None removes one);
        prefix: a command that runs the program (ip netns exec NS)."""
        self.home = home or tempfile.mkdtemp(prefix="vistelle-e2e-")
        config = os.path.join(self.home, ".config")
        os.makedirs(config, exist_ok=True)
        runtime = os.path.join(self.home, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        if settings is not None:
            with open(os.path.join(config, "RizidirUduzidodirer.conf"), "w", encoding="utf-8") as f:
                f.write("[Settings]\n")
                for key, value in settings.items():
                    f.write(f"{key}={value}\n")
        self.env = dict(os.environ)
        self.env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": config,
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_RUNTIME_DIR": runtime,
        })
        for key, value in (env or {}).items():
            if value is None:
                self.env.pop(key, None)  # None: not set at all
            else:
                self.env[key] = value
        self.args = list(args)
        self.prefix = list(prefix)
        self.binary = binary  # None: $VISTELLE_BIN when started
        self.lines = []
        self.errors = []
        self._lock = threading.Lock()
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen([*self.prefix, self.binary or os.environ["VISTELLE_BIN"], *self.args], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True).start()
        threading.Thread(target=self._read, args=(self.proc.stderr, self.errors), daemon=True).start()
        return self

    def _read(self, stream, into):
        for line in stream:
            with self._lock:
                into.append(line.rstrip("\n"))

    def output(self):
        with self._lock:
            return list(self.lines)

    def wait_for(self, predicate, timeout=10.0, what="condition"):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate(self.output()):
                return self.output()
            if self.proc.poll() is not None and not predicate(self.output()):
                break
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {what}; output so far:\n" + "\n".join(self.output())
                             + "\nstderr:\n" + "\n".join(self.errors))

    def wait_line(self, text, timeout=10.0):
        return self.wait_for(lambda lines: any(text in l for l in lines), timeout, repr(text))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode if self.proc else None


def send(port, data, host="127.0.0.1", timeout=5.0):
    """Sends data, then reads until the program closes the connection; returns what came back."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        s.sendall(data)
        received = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                return received
            received += chunk


def machine_online():
    """Whether a default route exists, as the program's own connection query sees it."""
    try:
        with open("/proc/net/route", encoding="ascii") as f:
            if any(line.split()[1:2] == ["00000000"] for line in f.readlines()[1:]):
                return True
        with open("/proc/net/ipv6_route", encoding="ascii") as f:
            return any(line.startswith("0" * 32 + " 00") and not line.rstrip().endswith(" lo") for line in f)
    except OSError:
        return False


def poll(predicate, timeout=10.0, what="condition", interval=0.05):
    """Calls predicate until it returns a true value (returned) or the time is up (AssertionError)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)
