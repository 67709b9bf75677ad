"""Wayland sessions of today's desktops, headless: weston, GNOME's mutter and sway (wlroots), each
with XWayland. The program, left to choose its platform, runs on XWayland, and its popup rests in
the lower right corner of the screen, where the compositor would not put a Wayland window. On sway
a screenshot (grim) shows it there too (copied to VISTELLE_SCREENSHOT_DIR when that is set). A weston session without XWayland gets the visits as
desktop notifications (a notification server of the test's own), since there the popup cannot be
placed.

    test_wayland_popup.py weston|mutter|sway|weston-without-xwayland

Needs the compositor, Xwayland and xwininfo (sway also grim and xhost); exit 77 otherwise."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from vistelle_e2e import Program, free_port, poll

SKIP = 77
WIDTH, HEIGHT = 1280, 900
POPUP = (243, 122)
AT_REST = (WIDTH - POPUP[0], HEIGHT - POPUP[1] - 30)
_GEOMETRY = re.compile(r'^\s*0x[0-9a-f]+ "Vistelle": \(.*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)')
TOOLS = {"weston": ["weston", "Xwayland", "xwininfo"], "mutter": ["mutter", "dbus-run-session", "Xwayland", "xwininfo"],
         "sway": ["sway", "setpriv", "Xwayland", "xwininfo", "grim", "xhost"],
         "weston-without-xwayland": ["weston", "dbus-daemon"]}


def popup_place(x_env):
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=x_env, capture_output=True, text=True).stdout
    for line in tree.splitlines():
        m = _GEOMETRY.match(line)
        if m and (int(m.group(1)), int(m.group(2))) == POPUP:
            return int(m.group(3)), int(m.group(4))
    return None


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Session:
    """A headless compositor; env: what a program of the session has (WAYLAND_DISPLAY, DISPLAY, ...)."""

    def __init__(self, kind, work):
        self.kind, self.work, self.procs, self.env = kind, work, [], {}
        self.runtime = os.path.join(work, "run")
        os.makedirs(self.runtime, mode=0o700)
        x11_sockets()
        try:
            getattr(self, "_start_" + kind.replace("-", "_"))()
        except BaseException:
            self.close()  # a compositor that started but did not come up is not left behind
            raise

    def _spawn(self, command, env, log_name):
        log = open(os.path.join(self.work, log_name), "w")
        # A group of its own: what the compositor starts (mutter's session bus, XWayland and session
        # command) is stopped with it.
        self.procs.append(subprocess.Popen(command, env=env, stdout=log, stderr=log, start_new_session=True))

    def _weston(self, xwayland):
        command = ["weston", "--backend=headless-backend.so", "--socket=vistelle-test", f"--width={WIDTH}",
                   f"--height={HEIGHT}", "--idle-time=0"] + (["--xwayland"] if xwayland else [])
        self._spawn(command, {**os.environ, "XDG_RUNTIME_DIR": self.runtime}, "weston.log")
        self.env = {"WAYLAND_DISPLAY": "vistelle-test", "XDG_RUNTIME_DIR": self.runtime, "DISPLAY": None}
        if xwayland:
            log = os.path.join(self.work, "weston.log")
            self.env["DISPLAY"] = poll(lambda: (re.findall(r"xserver listening on display (:\d+)", read(log))
                                                or [None])[0], 15, "weston's XWayland display")
        else:
            poll(lambda: os.path.exists(os.path.join(self.runtime, "vistelle-test")), 15, "weston's socket")

    def _start_weston(self):
        self._weston(xwayland=True)

    def _start_weston_without_xwayland(self):
        self._weston(xwayland=False)

    def _start_mutter(self):
        # mutter runs a command in its session: it writes the session's variables for the test.
        env_file = os.path.join(self.work, "session.env")
        self._spawn(["dbus-run-session", "--", "mutter", "--headless", "--wayland", "--virtual-monitor",
                     f"{WIDTH}x{HEIGHT}", "--", "sh", "-c", f'env > "{env_file}.part" && mv "{env_file}.part" '
                     f'"{env_file}" && exec sleep 600'], {**os.environ, "XDG_RUNTIME_DIR": self.runtime}, "mutter.log")
        poll(lambda: os.path.exists(env_file), 20, "mutter's session")
        values = dict(line.split("=", 1) for line in read(env_file).splitlines() if "=" in line)
        self.env = {k: values[k] for k in ("WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY") if k in values}
        self.env["XDG_RUNTIME_DIR"] = self.runtime

    def _start_sway(self):
        # sway refuses to run as root: it runs as nobody, with a runtime folder of nobody's, and lets
        # root's programs onto its XWayland display.
        os.chmod(self.work, 0o755)
        os.chown(self.runtime, 65534, -1)
        config = os.path.join(self.work, "sway.config")
        env_file = os.path.join(self.runtime, "session.env")
        with open(config, "w") as f:
            f.write(f"xwayland enable\noutput HEADLESS-1 resolution {WIDTH}x{HEIGHT}\n"
                    f'exec sh -c \'env > "{env_file}.part" && xhost +si:localuser:root && mv "{env_file}.part" '
                    f'"{env_file}"\'\n')
        os.chmod(config, 0o644)
        self._spawn(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "-i",
                     "PATH=/usr/bin:/bin", f"HOME={self.work}", f"XDG_RUNTIME_DIR={self.runtime}",
                     "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "sway", "-c",
                     config], None, "sway.log")
        poll(lambda: os.path.exists(env_file), 20, "sway's session")
        values = dict(line.split("=", 1) for line in read(env_file).splitlines() if "=" in line)
        self.env = {k: values[k] for k in ("WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK")}
        self.env["XDG_RUNTIME_DIR"] = self.runtime

    def x_env(self):
        return {**os.environ, **{k: v for k, v in self.env.items() if v is not None}}

    def screenshot(self, path):
        # grim speaks to the compositor as its user.
        subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "-i",
                        f"XDG_RUNTIME_DIR={self.runtime}", f"WAYLAND_DISPLAY={self.env['WAYLAND_DISPLAY']}",
                        "grim", "-t", "ppm", path], check=True, timeout=30)

    def close(self):
        for proc in reversed(self.procs):
            signal_group(proc.pid, signal.SIGTERM)
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
            # What is left of the group after a while (dbus-run-session does not pass the signal on).
            try:
                poll(lambda: not signal_group(proc.pid, 0), 5, "the end of the compositor's processes")
            except AssertionError:
                signal_group(proc.pid, signal.SIGKILL)
            proc.wait()


def x11_sockets():
    """The folder of X displays' sockets, writable by all as the system's tmpfiles.d makes it at boot.
    On a machine without it (a container), the first X server makes it: weston's XWayland makes it
    writable by root only, after which mutter refuses to start XWayland and sway (running as
    nobody) finds no display."""
    folder = "/tmp/.X11-unix"
    os.makedirs(folder, exist_ok=True)
    if os.geteuid() == 0 and os.stat(folder).st_mode & 0o7777 != 0o1777:
        os.chmod(folder, 0o1777)


def signal_group(group, number):
    """Sends the signal to the process group; False when no process of it is left."""
    try:
        os.killpg(group, number)
        return True
    except ProcessLookupError:
        return False


def ppm_pixel(path, x, y):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)  # P6 width height maxval pixels
    width = int(fields[1])
    header = len(data) - len(fields[4])
    at = header + (y * width + x) * 3
    return tuple(data[at:at + 3])


def popup_on_screen(session, work):
    """The screenshot shows the popup's face in the corner: not the desktop's plain background."""
    shot = os.path.join(session.runtime, "screen.ppm")  # grim writes as nobody
    session.screenshot(shot)
    background = ppm_pixel(shot, 10, 10)
    inside = [ppm_pixel(shot, AT_REST[0] + dx, AT_REST[1] + dy) for dx, dy in ((40, 40), (120, 60), (200, 90))]
    if all(p != background for p in inside):
        if os.environ.get("VISTELLE_SCREENSHOT_DIR"):
            os.makedirs(os.environ["VISTELLE_SCREENSHOT_DIR"], exist_ok=True)
            shutil.copyfile(shot, os.path.join(os.environ["VISTELLE_SCREENSHOT_DIR"], "sway-popup.ppm"))
        return True
    return False


def main():
    kind = sys.argv[1]
    missing = [t for t in TOOLS[kind] if not shutil.which(t)]
    if missing:
        print(f"needs {' '.join(missing)}: skipped")
        return SKIP
    work = tempfile.mkdtemp(prefix=f"vistelle-{kind}-")
    session = Session(kind, work)
    program = bus = services = None
    try:
        port = free_port()
        settings = {"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0"}
        env = dict(session.env, XDG_SESSION_TYPE="wayland", QT_QPA_PLATFORM=None)
        if kind == "weston-without-xwayland":
            from accessibility import SessionBus
            from test_desktop_bus import DesktopServices
            bus = SessionBus(os.environ)
            services = DesktopServices(bus.address)
            env["DBUS_SESSION_BUS_ADDRESS"] = bus.address
        program = Program(settings=settings, args=(), env=env).start()
        if services:
            # The start-up's "Current IP" announcement comes as a notification.
            poll(lambda: services.notes, 20, "the start-up notification")
            assert services.notes[0][1] == "Vistelle", services.notes
            print(f"notification {services.notes[0][1]!r}: {services.notes[0][2]!r}")
            return 0
        poll(lambda: popup_place(session.x_env()) == AT_REST, 20, f"the popup at rest at {AT_REST}", interval=0.1)
        if kind == "sway":
            poll(lambda: popup_on_screen(session, work), 10, "the popup on the screenshot", interval=0.3)
        print(f"{kind}: popup {POPUP[0]}x{POPUP[1]} at {AT_REST} on XWayland display {session.env['DISPLAY']}")
    finally:
        if program and program.proc and program.proc.poll() is None:
            program.proc.terminate()
            try:
                program.proc.wait(10)
            except subprocess.TimeoutExpired:
                program.proc.kill()
        if services:
            services.close()
        if bus:
            bus.close()
        session.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
