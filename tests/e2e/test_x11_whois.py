"""The whois window of the real program on an X desktop of its own: a visit from 127.0.0.1, its
address selected in the visitor list, the "Whois" button pressed; the window asks the whois server
of this test (on loopback, set as WhoisServer1) about the visitor's name, then about a domain typed
into it, and shows the answer.

The screenshot goes to the test's temporary folder; with VISTELLE_SCREENSHOT_DIR set it is copied
there too (whois-window.png)."""
import os
import shutil
import socket
import socketserver
import sys
import tempfile
import threading

from vistelle_e2e import Program, free_port, machine_online, poll
from x11_session import XSession

CONTAINER_SIZE = (780, 600)
# Places in the main window, from the top left of its client area (its size is fixed; measure them
# again from a screenshot when its layout changes).
IP_CELL = (264, 315)  # the address of the first visitor
WHOIS_BUTTON = (648, 267)  # "Whois", left of "Save List"

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


def is_whois(window):
    # The desktop shows the program's name after the window's own title.
    return window.name == "Whois" or window.name.startswith("Whois \u2014 ")


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
            program = Program(settings=settings, args=(), env=x.program_env).start()
            try:
                def windows():
                    ids = set(x.windows_of(program.proc.pid))
                    return [w for w in x.tree() if w.id in ids]

                container = poll(lambda: next((w for w in windows() if (w.width, w.height) == CONTAINER_SIZE),
                                              None), 10, "the main window")
                # A visit once the program listens (until then the connection is refused); by then
                # the start-up has also sent the window into the tray.
                def visit():
                    try:
                        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                            s.sendall(b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: https://www.example.com/\r\n\r\n")
                            return s.recv(64) == b""
                    except ConnectionRefusedError:
                        return False
                poll(visit, 10, "a visit taken")
                poll(lambda: not x.viewable(container.id), 10, "the main window in the tray")

                def restored():
                    if x.viewable(container.id) and x.wm_state(container.id) == "Normal":
                        return True
                    icons = x.tray_icons("Vistelle")
                    if icons:
                        x.click_window(icons[0])
                    return False
                poll(restored, 15, "the main window restored from the tray", interval=1.0)

                origin = x.geometry(container.id)
                name = socket.gethostbyaddr("127.0.0.1")[0]
                expected = ".".join(name.split(".")[-2:])

                # The name lookup of the selected address runs in the background and the button
                # takes what it found; a window opened before that has no name and asks nothing.
                def ask():
                    x.click(origin["x"] + IP_CELL[0], origin["y"] + IP_CELL[1])
                    x.click(origin["x"] + WHOIS_BUTTON[0], origin["y"] + WHOIS_BUTTON[1])
                    window = poll(lambda: next((w for w in windows() if is_whois(w) and x.viewable(w.id)),
                                               None), 10, "the whois window")
                    try:
                        poll(lambda: server.queries, 2, "the whois query")
                        return window
                    except AssertionError:
                        x.run("xdotool", "key", "--clearmodifiers", "Escape", check=True)
                        poll(lambda: not x.viewable(window.id), 10, "the whois window to hide")
                        return None
                whois = poll(ask, 30, "a whois query for the selected visitor", interval=0.2)
                assert server.queries[0] == expected.encode() + b"\r\n", (name, server.queries)

                # Another domain typed into the window.
                x.run("xdotool", "windowactivate", "--sync", whois.id, check=True)
                x.run("xdotool", "key", "--clearmodifiers", "ctrl+a", check=True)
                x.run("xdotool", "type", "--delay", "20", "example.net", check=True)
                x.run("xdotool", "key", "--clearmodifiers", "Return", check=True)
                poll(lambda: len(server.queries) >= 2, 10, "the second whois query")
                assert server.queries[-1] == b"example.net\r\n", server.queries
                frame = x.frame_of(whois.id)
                shot = x.screenshot(os.path.join(work, "whois-window.png"),
                                    crop=(frame.x, frame.y, frame.width, frame.height))
                copy_out(shot, "whois-window.png")
                print(f"whois window {frame}; screenshot {shot}")

                # Escape hides it; the program goes on.
                x.run("xdotool", "key", "--clearmodifiers", "Escape", check=True)
                poll(lambda: not x.viewable(whois.id), 10, "the whois window to hide")
                assert program.proc.poll() is None, "the program ended"
            finally:
                program.stop()
    finally:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
