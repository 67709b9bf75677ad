"""Offline start and reconnection of the real program in a network namespace of its own: started
with only loopback up, it finds no connection and does not listen; once the namespace gets a
default route, the connection monitor's next tick runs the online start-up steps, the program
listens and logs a visit sent inside the namespace. Needs root and `ip netns`; skipped otherwise
(exit code 77)."""
import os
import shutil
import subprocess
import sys

from vistelle_e2e import Program, free_port

SKIP = 77
NS = f"vistelle-e2e-{os.getpid()}"

VISIT = """
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) as s:
    s.sendall(b"GET /t.gif HTTP/1.1\\r\\nHost: me\\r\\nReferer: http://netns.example/back.html\\r\\n\\r\\n")
    sys.exit(0 if s.recv(16) == b"" else 1)
"""


def ip(*args):
    subprocess.run(["ip", *args], check=True, capture_output=True, text=True, timeout=20)


def usable():
    if os.geteuid() != 0:
        return "not root"
    if not shutil.which("ip"):
        return "the ip tool is missing (iproute2)"
    probe = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True)
    if probe.returncode != 0:
        return f"`ip netns` is unavailable: {probe.stderr.strip()}"
    return None


def give_default_route():
    """A link with an address and a default route inside the namespace: a dummy interface, or a
    veth pair where the kernel has no dummy driver."""
    try:
        ip("-n", NS, "link", "add", "d0", "type", "dummy")
        device = "d0"
    except subprocess.CalledProcessError:
        ip("-n", NS, "link", "add", "d0", "type", "veth", "peer", "name", "d1")
        ip("-n", NS, "link", "set", "d1", "up")
        device = "d0"
    ip("-n", NS, "addr", "add", "10.77.0.2/24", "dev", device)
    ip("-n", NS, "link", "set", device, "up")
    ip("-n", NS, "route", "add", "default", "via", "10.77.0.1", "dev", device)


def main():
    reason = usable()
    if reason:
        print(f"SKIP: network-namespace test not run: {reason}")
        return SKIP
    try:
        ip("netns", "add", NS)
    except subprocess.CalledProcessError as error:
        print(f"SKIP: cannot create a network namespace: {error.stderr.strip()}")
        return SKIP
    program = None
    try:
        ip("-n", NS, "link", "set", "lo", "up")
        port = free_port()
        program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0",
                                    "EchoPageURL": "http://127.0.0.1:1/", "UpdateStatusURL": "http://127.0.0.1:1/",
                                    "UpdateVersionURL": "http://127.0.0.1:1/"},
                          prefix=("ip", "netns", "exec", NS)).start()
        listening = f"Listening for connections on port: {port}"

        # Offline start: the start-up lines, then the monitor's offline line; nothing listens.
        program.wait_line("No connection detected")
        program.wait_line("No Connection Detected. [", timeout=12)
        lines = program.output()
        assert not any("Listening for connections on port" in l for l in lines), "listening while offline"
        assert not any(l.startswith("Popup: ") for l in lines), "start-up popup while offline"

        # Online: the next tick runs the online steps once: listening, the popup.
        give_default_route()
        program.wait_line(listening, timeout=12)
        program.wait_line("Popup: Vistelle | Current IP: ", timeout=5)
        result = subprocess.run(["ip", "netns", "exec", NS, sys.executable, "-c", VISIT, str(port)],
                                capture_output=True, text=True, timeout=20)
        assert result.returncode == 0, f"the visit failed: {result.stderr.strip()}"
        program.wait_line("Visit: 127.0.0.1 -> http://netns.example/back.html")
        assert sum(listening in l for l in program.output()) == 1, "listened more than once"

        program.proc.terminate()
        code = program.proc.wait(10)
        assert code == 0, f"exit code {code} after SIGTERM"
        print("\n".join(program.output()))
        return 0
    finally:
        if program:
            program.stop()
        subprocess.run(["ip", "netns", "del", NS], capture_output=True)


if __name__ == "__main__":
    sys.exit(main())
