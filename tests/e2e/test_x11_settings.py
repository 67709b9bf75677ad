"""The server settings and the host manager, driven like a user with xdotool on an X desktop of
its own (Xvfb, openbox, trayer) against the fake dynamic-DNS provider (HTTPS with its own test
authority, on loopback). The controls are found by their accessible names through AT-SPI, as a
screen reader finds them, then clicked and typed into with xdotool.

From the main window: "Settings..." sets the port, the account and host name and the address
script; OK brings the main window back listening on the new port and the address script is
called; the provider's icon opens the host manager, which logs in, lists the hosts and updates
one by hand, with the message in the skinned message box; the main window's address label and log
follow. The host manager is dragged with the right mouse button by its skinned title bar.

Screenshots go to the test's temporary folder; with VISTELLE_SCREENSHOT_DIR set they are copied
there too (settings-window.png, host-manager-login.png, host-manager-hosts.png, message-box.png).
Exits with 77 (skipped) when the machine has no default route: the windows refuse to log in
offline."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

from accessibility import Accessibility, SessionBus
from vistelle_e2e import Program, free_port, machine_online, poll
from x11_session import XSession, SCREEN_WIDTH, SCREEN_HEIGHT

SOURCE_ROOT = os.environ.get("VISTELLE_SOURCE_ROOT",
                             os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
FAKE_PROVIDER = os.path.join(SOURCE_ROOT, "tests", "publish", "fake_provider.py")
NOWHERE = "http://127.0.0.1:1/"
CONTAINER_SIZE = (780, 600)


class FakeProvider:
    def __init__(self, work):
        self.dir = os.path.join(work, "provider")
        os.makedirs(self.dir)
        self.log = os.path.join(self.dir, "requests.jsonl")
        self.proc = subprocess.Popen([sys.executable, FAKE_PROVIDER, "--dir", self.dir, "--log", self.log],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        words = self.proc.stdout.readline().split()
        if len(words) != 3 or words[0] != "READY":
            self.close()
            raise SystemExit("the fake provider did not start")
        self.account = f"https://127.0.0.1:{words[1]}/"
        self.plain_port = int(words[2])
        self.plain = f"http://127.0.0.1:{words[2]}"
        self.ca = os.path.join(self.dir, "ca.pem")

    def paths(self):
        import json
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line)["path"] for line in f if line.strip()]

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def copy_out(path, name):
    target = os.environ.get("VISTELLE_SCREENSHOT_DIR")
    if target:
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(path, os.path.join(target, name))


def open_menu(x, icon, program):
    """Opens the tray icon's menu and waits until it is on the screen: keys pressed before it is
    mapped go to no menu (a fixed half second was too short on a busy machine). The menu is the
    program's window without a frame (override-redirect) that the click brought up."""
    def shown():
        return {wid for wid in x.windows_of(program.proc.pid)
                if all(state in x.attributes(wid) for state in ("IsViewable", "Override Redirect State: yes"))}
    before = shown()
    x.click_window(icon, button=3)
    poll(lambda: shown() - before, 10, "the tray icon's menu")
    time.sleep(0.2)  # Qt takes the keyboard once the menu is mapped


class User:
    """Finds controls through the accessibility tree and works them with xdotool."""

    def __init__(self, x, a11y, app_name):
        self.x, self.a11y, self.app_name = x, a11y, app_name

    def app(self):
        return self.a11y.application(self.app_name)

    def wait(self, role, name=None, contains=None, within=None, timeout=15):
        return self.a11y.wait_for(lambda: within or self.app(), role, name, contains, timeout)

    def click(self, node, button=1):
        self.x.click(*self.a11y.centre(node), button=button)

    def fill(self, node, text):
        self.click(node)
        self.x.run("xdotool", "key", "--clearmodifiers", "ctrl+a", "BackSpace", check=True)
        if text:
            self.x.run("xdotool", "type", "--delay", "15", text, check=True)

    def window_of(self, node):
        """The top-level window that holds node (the child of the application object)."""
        while node is not None:
            parent = node.get_parent()
            if parent is None or parent.get_role_name() == "application":
                return node
            node = parent
        return None

    def screenshot(self, window, path, framed=False):
        """The window as it is on the screen; framed: with the frame that the window manager put
        around it (the active window's _NET_FRAME_EXTENTS)."""
        x, y, w, h = self.a11y.extents(window)
        if framed:
            active = self.x.run("xdotool", "getactivewindow").strip()
            extents = self.x.run("xprop", "-id", active, "_NET_FRAME_EXTENTS") if active else ""
            if "=" in extents:
                left, right, top, bottom = (int(v) for v in extents.split("=")[1].split(","))
                x, y, w, h = x - left, y - top, w + left + right, h + top + bottom
        return self.x.screenshot(path, crop=(x, y, w, h))

    def log_text(self):
        """The main window's event log."""
        for candidate in self.a11y.walk(self.app()):
            try:
                if candidate.get_role_name() == "text" and "Software Started" in self.a11y.text(candidate):
                    return self.a11y.text(candidate)
            except Exception:
                continue
        return ""


def visit(port):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: https://www.example.com/new-port.html\r\n\r\n")
        assert s.recv(64) == b"", "the program answered a visit"


def main():
    if not machine_online():
        print("no default route on this machine: the windows refuse to log in offline")
        return 77
    work = tempfile.mkdtemp(prefix="vistelle-x11-settings-")
    provider = FakeProvider(work)
    first_port, new_port = free_port(), free_port()
    while new_port == first_port:
        new_port = free_port()
    settings = {"ListenPort": str(first_port), "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "0",
                "EchoPageURL": provider.plain + "/echo/plain", "AccountSiteURL": provider.account,
                "UpdateHostURL": provider.plain, "CAFile": provider.ca, "ProviderName": "FakeDNS",
                "ProviderSiteURL": provider.account, "UpdateStatusURL": NOWHERE, "UpdateVersionURL": NOWHERE}
    try:
        with XSession() as x:
            bus = SessionBus(x.env)
            try:
                env = dict(x.program_env, DBUS_SESSION_BUS_ADDRESS=bus.address, **Accessibility.program_env())
                program = Program(settings=settings, args=(), env=env)
                program.start()
                try:
                    run(x, Accessibility(bus.address, x.display), program, provider, new_port, work)
                finally:
                    code = program.stop()
                print(f"program ended with {code}; screenshots in {work}")
            finally:
                bus.close()
    finally:
        provider.close()
    return 0


def run(x, a11y, program, provider, new_port, work):
    user = User(x, a11y, "vistelle")
    poll(user.app, 20, "the program on the accessibility bus", interval=0.2)

    # The program starts into the tray; a click on the icon brings the main window.
    icon = poll(lambda: (x.tray_icons("Vistelle") or [None])[0], 15, "the tray icon")

    def container():
        ids = set(x.windows_of(program.proc.pid))
        return next((w for w in x.tree() if w.id in ids and (w.width, w.height) == CONTAINER_SIZE), None)
    frame = poll(container, 15, "the main window")
    poll(lambda: not x.viewable(frame.id) and x.wm_state(frame.id) in (None, "Withdrawn"), 15,
         "the main window hidden in the tray")

    # The right button's menu (Qt keeps popup menus out of the accessibility tree; a screen reader
    # follows them by focus): picked with the keyboard as such a user does, it does what it says.
    open_menu(x, icon, program)
    shot = x.screenshot(os.path.join(work, "tray-menu.png"), crop=(SCREEN_WIDTH - 320, SCREEN_HEIGHT - 260, 320, 260))
    copy_out(shot, "tray-menu.png")
    x.run("xdotool", "key", "--clearmodifiers", "Down", "Down", "Down", "Return", check=True)  # History...
    user.wait("push button", "Export...", timeout=20)  # the history window
    history = x.run("xdotool", "search", "--name", "^History$", check=True).split()[0]
    x.run("xdotool", "windowactivate", "--sync", history, check=True)
    x.run("xdotool", "key", "--clearmodifiers", "alt+F4", check=True)
    poll(lambda: a11y.find(user.app(), "push button", "Export...") is None, 10, "the history window to close")
    open_menu(x, icon, program)
    x.run("xdotool", "key", "--clearmodifiers", "Down", "Return", check=True)  # Show
    settings_button = user.wait("push button", "Settings...")

    # "Settings...": the main window goes, the settings window comes.
    user.click(settings_button)
    port_box = user.wait("text", "Local Port")
    settings_window = user.window_of(port_box)
    # At the top-left corner with its title bar on the screen.
    poll(lambda: 0 < a11y.extents(settings_window)[1] <= 40 and 0 <= a11y.extents(settings_window)[0] <= 10, 10,
         "the settings window at the top-left corner below its title bar")
    poll(lambda: a11y.find(user.app(), "push button", "Settings...") is None, 10, "the main window hidden")
    user.fill(port_box, str(new_port))
    user.click(user.wait("check box", "Use FakeDNS", within=settings_window))
    user.fill(user.wait("text", "Username", within=settings_window), "alice")
    user.fill(user.wait("password text", "Password", within=settings_window), "secret")
    user.fill(user.wait("text", "Dynamic IP Name", within=settings_window), "good.test")
    user.click(user.wait("check box", "ASP sites with non-static IP's", within=settings_window))
    warning = user.wait("label", contains="Use ONLY to track ASP pages")
    user.click(user.wait("push button", "OK", within=user.window_of(warning)))
    poll(lambda: a11y.find(user.app(), "label", contains="Use ONLY to track ASP pages") is None, 10,
         "the ASP warning to close")
    user.fill(user.wait("text", "Server Host/IP", within=settings_window), f"127.0.0.1:{provider.plain_port}")
    user.fill(user.wait("text", "IP Script Path", within=settings_window), "/sendip.asp")
    shot = user.screenshot(settings_window, os.path.join(work, "settings-window.png"), framed=True)
    copy_out(shot, "settings-window.png")

    # OK: the main window again, listening on the new port; the address script is called.
    user.click(user.wait("push button", "OK", within=settings_window))
    user.wait("push button", "Settings...")
    poll(lambda: f"Listening for connections on port: {new_port}" in user.log_text(), 10, "the new port in the log")
    visit(new_port)
    poll(lambda: "/new-port.html" in user.log_text(), 10, "the visit on the new port in the log")
    poll(lambda: "/sendip.asp" in provider.paths(), 10, "the call of the address script")
    program_config = os.path.join(program.home, ".config", "RizidirUduzidodirer.conf")
    with open(program_config, encoding="utf-8") as f:
        stored = f.read()
    for line in (f"ListenPort={new_port}", "dyuser=alice", "dyname=good.test", "usedyndns=1", "useasp=1",
                 "MainSettings=OK"):
        assert line in stored, f"{line} not stored:\n{stored}"

    # The provider's icon: the host manager, with the stored account.
    user.click(user.wait("push button", "FakeDNS Update"))
    prompt = user.wait("label", "Please login to FakeDNS.")
    manager = user.window_of(prompt)
    assert a11y.text(user.wait("text", "Username", within=manager)) == "alice"
    shot = user.screenshot(manager, os.path.join(work, "host-manager-login.png"))
    copy_out(shot, "host-manager-login.png")
    user.click(user.wait("push button", "Login >>", within=manager))
    user.wait("label", "(select host to view current IP)", timeout=20)
    hosts = user.wait("combo box", "Select a hostname to update", within=manager)
    user.fill(hosts, "good.test")
    user.wait("label", "Current IP: 10.0.0.1", within=manager)
    user.fill(user.wait("text", "Enter the new IP address", within=manager), "198.51.100.23")
    shot = user.screenshot(manager, os.path.join(work, "host-manager-hosts.png"))
    copy_out(shot, "host-manager-hosts.png")

    # The update; its message in the skinned message box, answered with its skinned OK.
    user.click(user.wait("push button", "Update IP Address >>", within=manager))
    # good.test is the host the program keeps at this PC: the window says so first.
    kept = user.wait("label", contains="Vistelle keeps good.test pointing at this PC")
    user.click(user.wait("push button", "OK", within=user.window_of(kept)))
    message = user.wait("label", "The IP address of good.test was successfully updated to: 198.51.100.23", timeout=20)
    box = user.window_of(message)
    ok = user.wait("push button", "OK", within=box)
    # The box takes the keyboard: its left button has the focus (and shows the focus rectangle).
    poll(lambda: ok.get_state_set().contains(a11y.Atspi.StateType.FOCUSED), 10, "the focus on the box's OK")
    time.sleep(0.3)  # the focus rectangle is painted
    shot = user.screenshot(box, os.path.join(work, "message-box.png"))
    copy_out(shot, "message-box.png")
    user.click(ok)
    user.wait("label", "Current IP: 198.51.100.23", within=manager)
    updates = [urllib.parse.parse_qs(urllib.parse.urlsplit(p).query) for p in provider.paths()
               if p.startswith("/nic/update")]
    assert [(u["hostname"], u["myip"]) for u in updates] == [(["good.test"], ["198.51.100.23"])], updates
    poll(lambda: "Updated IP Manually" in user.log_text(), 10, "the log line of the manual update")
    user.wait("label", "Current IP:198.51.100.23")  # the main window's address label

    # The title bar drags the borderless window with the right button too (openbox).
    mx, my, _, _ = a11y.extents(manager)
    x.run("xdotool", "mousemove", "--sync", str(mx + 60), str(my + 12), check=True)
    x.run("xdotool", "mousedown", "3", check=True)
    for _ in range(10):
        x.run("xdotool", "mousemove_relative", "--", "6", "4", check=True)
        time.sleep(0.03)
    x.run("xdotool", "mouseup", "3", check=True)
    poll(lambda: abs(a11y.extents(manager)[0] - (mx + 60)) <= 6 and abs(a11y.extents(manager)[1] - (my + 40)) <= 6,
         10, "the host manager moved by its title bar")

    # Its skinned close button unloads it.
    user.click(user.wait("push button", "Close", within=manager))
    poll(lambda: a11y.find(user.app(), "label", contains="(select host") is None
         and a11y.find(user.app(), "label", contains="Current IP: 198") is None, 10, "the host manager closed")


if __name__ == "__main__":
    sys.exit(main())
