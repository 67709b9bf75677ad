"""The whois window of the real program on an X desktop of its own: a visit from 127.0.0.1, its
address selected in the visitor list, the "Whois" button pressed; the window asks the whois server
of this test (on loopback, set as WhoisServer1) about the visitor's name, then about a domain typed
into it, and shows the answer. The controls are found by their accessible names through AT-SPI, as
a screen reader finds them, and worked with xdotool.

The screenshot goes to the test's temporary folder; with VISTELLE_SCREENSHOT_DIR set it is copied
there too (whois-window.png)."""
import os
import shutil
import socket
import socketserver
import sys
import tempfile
import threading

from accessibility import Accessibility, SessionBus
from vistelle_e2e import Program, free_port, machine_online, poll
from x11_session import XSession

CONTAINER_SIZE = (780, 600)
POPUP_SIZE = (243, 122)

ANSWER = """Domain Name: {domain}
Registry Domain ID: 2336799_DOMAIN_NET-VRSN
Registrar WHOIS Server: whois.registrar.example
Updated Date: 2026-08-14T07:01:38Z
Creation Date: 1995-08-14T04:00:00Z
Registry Expiry Date: 2027-08-13T04:00:00Z
Registrar: Example Registrar, Inc.
Registrant Organization: Beispiel Werkstätten GmbH
Registrant Street: Bahnhofstraße 12
Registrant City: Zürich
Registrant Country: CH
Domain Status: clientTransferProhibited
Name Server: A.IANA-SERVERS.NET
Name Server: B.IANA-SERVERS.NET
DNSSEC: signedDelegation
>>> Last update of whois database: 2026-12-08T09:15:02Z <<<
"""


class WhoisServer(socketserver.ThreadingTCPServer):
    """Answers every query line with ANSWER for it (UTF-8, CR LF) and closes; keeps the queries."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        self.queries = []
        super().__init__(("127.0.0.1", 0), WhoisHandler)


class WhoisHandler(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline(1000)
        self.server.queries.append(line)
        domain = line.decode("utf-8", "replace").strip().upper()
        self.wfile.write(ANSWER.format(domain=domain).replace("\n", "\r\n").encode("utf-8"))


def copy_out(path, name):
    target = os.environ.get("VISTELLE_SCREENSHOT_DIR")
    if target:
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(path, os.path.join(target, name))


def main():
    if not machine_online():
        print("no default route on this machine: the visitor list looks up no names")
        return 77
    work = tempfile.mkdtemp(prefix="vistelle-whois-")
    server = WhoisServer()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = free_port()
    settings = {"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "0",
                "EchoPageURL": "http://127.0.0.1:1/", "UpdateStatusURL": "http://127.0.0.1:1/",
                "UpdateVersionURL": "http://127.0.0.1:1/",
                "WhoisServer1": f"127.0.0.1:{server.server_address[1]}"}
    try:
        with XSession() as x:
            bus = SessionBus(x.env)
            try:
                env = dict(x.program_env, DBUS_SESSION_BUS_ADDRESS=bus.address, **Accessibility.program_env())
                program = Program(settings=settings, args=(), env=env).start()
                try:
                    run(x, Accessibility(bus.address, x.display), program, server, port, work)
                finally:
                    program.stop()
            finally:
                bus.close()
    finally:
        server.shutdown()
        server.server_close()
    return 0


def run(x, a11y, program, server, port, work):
    def app():
        return a11y.application("vistelle")

    def wait(role, name=None, contains=None, within=None, timeout=15):
        return a11y.wait_for(lambda: within or app(), role, name, contains, timeout)

    def click(node):
        x.click(*a11y.centre(node))

    def windows():
        ids = set(x.windows_of(program.proc.pid))
        return [w for w in x.tree() if w.id in ids]

    poll(app, 20, "the program on the accessibility bus", interval=0.2)
    container = poll(lambda: next((w for w in windows() if (w.width, w.height) == CONTAINER_SIZE), None), 15,
                     "the main window")

    # A visit once the program listens (until then the connection is refused); by then the
    # start-up has also sent the window into the tray.
    def visit():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: https://www.example.com/\r\n\r\n")
                return s.recv(64) == b""
        except ConnectionRefusedError:
            return False
    poll(visit, 10, "a visit taken")
    poll(lambda: not x.viewable(container.id), 10, "the main window in the tray")
    # The start-up popup slides over the tray icon: clicks wait until it has gone.
    poll(lambda: not any((w.width, w.height) == POPUP_SIZE and x.viewable(w.id) for w in windows()),
         30, "the start-up popup to go")

    def shown():
        return x.viewable(container.id) and x.wm_state(container.id) == "Normal"

    # One click on the icon, then time to come back: a second click while the window is still
    # being mapped would send it into the tray again.
    def restored():
        if shown():
            return True
        icons = x.tray_icons("Vistelle")
        if icons:
            x.click_window(icons[0])
            try:
                poll(shown, 5, "the main window shown")
            except AssertionError:
                return False
        return shown()
    poll(restored, 30, "the main window restored from the tray", interval=1.0)

    name = socket.gethostbyaddr("127.0.0.1")[0]
    expected = ".".join(name.split(".")[-2:])
    # The visitor's address selected: its name comes from a lookup in the background.
    click(wait("table cell", "127.0.0.1"))
    wait("label", name)
    click(wait("push button", "Whois"))
    domain = wait("text", "Domain Name")
    answer = wait("text", "Whois answer")
    poll(lambda: "Registrant City: Zürich" in a11y.text(answer), 10, "the answer in the window")
    assert server.queries == [expected.encode() + b"\r\n"], (name, server.queries)
    assert a11y.text(domain) == expected, a11y.text(domain)
    assert f"Domain Name: {expected.upper()}\n" in a11y.text(answer), a11y.text(answer)

    # Another domain typed into the window, Enter queries.
    click(domain)
    x.run("xdotool", "key", "--clearmodifiers", "ctrl+a", "BackSpace", check=True)
    x.run("xdotool", "type", "--delay", "20", "example.net", check=True)
    x.run("xdotool", "key", "--clearmodifiers", "Return", check=True)
    poll(lambda: "Domain Name: EXAMPLE.NET" in a11y.text(answer), 10, "the second answer in the window")
    assert server.queries[-1] == b"example.net\r\n", server.queries

    whois = next(w for w in windows() if w.name and w.name.startswith("Whois") and x.viewable(w.id))
    # The title the window manager shows is the window's own, nothing appended.
    assert whois.name == "Whois", whois.name
    frame = x.frame_of(whois.id)
    shot = x.screenshot(os.path.join(work, "whois-window.png"), crop=(frame.x, frame.y, frame.width, frame.height))
    copy_out(shot, "whois-window.png")
    print(f"whois window {frame}; screenshot {shot}")

    # "Cancel" hides it; the program goes on.
    click(wait("push button", "Cancel"))
    poll(lambda: not x.viewable(whois.id), 10, "the whois window to hide")
    assert program.proc.poll() is None, "the program ended"


if __name__ == "__main__":
    sys.exit(main())
