"""An X desktop of its own for an end-to-end test: Xvfb on a free display, the openbox window
manager and trayer as the notification-area host, with small queries on its windows through the
X utilities (xwininfo, xprop, xdotool, import). Standard library only."""
import os
import re
import shutil
import subprocess

import sys

from vistelle_e2e import poll

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from xdisplay import start_openbox, start_xvfb, tray_command  # noqa: E402

SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768
TOOLS = ("Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "import")

# 0x600010 "Vistelle": ("vistelle" "vistelle")  243x122+781+616  +781+616
_TREE_LINE = re.compile(r'^(\s*)(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((.*?)\)\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+'
                        r'\s+\+(-?\d+)\+(-?\d+)')


class Window:
    def __init__(self, wid, name, wm_class, width, height, x, y, depth):
        self.id, self.name, self.wm_class = wid, name, wm_class
        self.width, self.height, self.x, self.y, self.depth = width, height, x, y, depth

    def __repr__(self):
        return f"<{self.id} {self.name!r} {self.width}x{self.height}+{self.x}+{self.y}>"


class XSession:
    def __init__(self):
        missing = [t for t in TOOLS if not shutil.which(t)]
        if missing:
            raise SystemExit(f"missing {' '.join(missing)}: run scripts/deps.sh --test")
        self._procs = []
        self.display = None
        self.env = None  # the whole environment of the desktop's programs
        self.program_env = None  # the variables that differ from this process's

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start(self):
        xvfb, self.display = start_xvfb(SCREEN_WIDTH, SCREEN_HEIGHT)
        self._procs.append(xvfb)
        # No session bus: Qt's tray icon embeds itself in trayer (XEmbed), as on a plain X desktop.
        self.program_env = {"DISPLAY": self.display, "QT_QPA_PLATFORM": "xcb", "WAYLAND_DISPLAY": None,
                            "DBUS_SESSION_BUS_ADDRESS": None}
        self.env = {k: v for k, v in dict(os.environ, **self.program_env).items() if v is not None}
        self._procs.append(start_openbox(self.env))
        self._procs.append(subprocess.Popen(tray_command(), env=self.env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL))
        poll(self.tray_panel, 10, "trayer's panel")

    def close(self):
        for process in reversed(self._procs):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self._procs = []

    def run(self, *args, check=False):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=20)
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def tree(self, root="-root"):
        """Every window under root (with absolute positions), in xwininfo's order."""
        args = ["xwininfo", "-tree", "-root"] if root == "-root" else ["xwininfo", "-tree", "-id", root]
        windows = []
        for line in self.run(*args).splitlines():
            m = _TREE_LINE.match(line)
            if m:
                indent, wid, name, wm_class, w, h, x, y = m.groups()
                windows.append(Window(wid, name, wm_class, int(w), int(h), int(x), int(y), len(indent)))
        return windows

    def frame_of(self, wid):
        """The top-level window that holds wid (the window manager's frame around it)."""
        top = None
        windows = self.tree()
        shallowest = min(w.depth for w in windows)
        for w in windows:
            if w.depth == shallowest:
                top = w
            if w.id == wid:
                return top
        return None

    def tray_panel(self):
        return next((w for w in self.tree() if w.name == "panel" and '"trayer"' in w.wm_class), None)

    def tray_icons(self, name):
        """The icons named name that trayer holds."""
        panel = self.tray_panel()
        if not panel:
            return []
        return [w for w in self.tree(panel.id) if w.name == name and self.viewable(w.id)]

    def attributes(self, wid):
        return self.run("xwininfo", "-id", wid)

    def viewable(self, wid):
        return "Map State: IsViewable" in self.attributes(wid)

    def wm_state(self, wid):
        """Normal, Iconic, Withdrawn, or None without WM_STATE."""
        m = re.search(r"window state: (\w+)", self.run("xprop", "-id", wid, "WM_STATE"))
        return m.group(1) if m else None

    def geometry(self, wid):
        info = self.attributes(wid)
        value = {key: int(re.search(rf"{label}:\s+(-?\d+)", info).group(1))
                 for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                                    ("width", "Width"), ("height", "Height"))}
        return value

    def windows_of(self, pid):
        """Ids (as xwininfo writes them) of the windows that carry the process number pid."""
        return [hex(int(wid)) for wid in self.run("xdotool", "search", "--pid", str(pid)).split()]

    def click(self, x, y, button=1):
        self.run("xdotool", "mousemove", "--sync", str(x), str(y), check=True)
        self.run("xdotool", "click", str(button), check=True)

    def click_window(self, window, button=1):
        self.click(window.x + window.width // 2, window.y + window.height // 2, button)

    def screenshot(self, path, crop=None):
        """The whole screen, or crop = (x, y, width, height) of it, as a PNG file."""
        args = ["import", "-window", "root"]
        if crop:
            x, y, w, h = crop
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        self.run(*args, path, check=True)
        return path
