"""Screen readers see a name on every control of the main window: the real program on an X display
of its own, with Qt's accessibility bridge on, is read back over AT-SPI (pyatspi) in a session bus
of the test's own."""
import os
import shutil
import subprocess
import sys
import time

from vistelle_e2e import Program, free_port

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from xdisplay import start_xvfb  # noqa: E402

SYSTEM_PYTHON = "/usr/bin/python3"  # the interpreter Debian's python3-pyatspi belongs to
CONTROL_ROLES = {"push button", "toggle button", "check box", "radio button", "combo box", "spin button",
                 "text", "entry", "password text", "table", "tree table", "list", "slider", "page tab"}


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def program_tree(pyatspi):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "vistelle":
            return [(n.getRoleName(), n.name, depth) for n, depth in walk(app)]
    return None


def inner():
    import pyatspi  # noqa: F401 (Debian's python3-pyatspi)
    xvfb, display = start_xvfb()
    program = Program(settings={"ListenPort": str(free_port()), "usedyndns": "0", "SoundAlert": "0",
                                "PopupAlert": "0"}, args=(),
                      env={"DISPLAY": display, "QT_QPA_PLATFORM": "xcb", "WAYLAND_DISPLAY": None,
                           "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
    try:
        program.start()
        deadline = time.monotonic() + 40
        tree = None
        while time.monotonic() < deadline:
            tree = program_tree(pyatspi)
            if tree and any(role == "push button" and name == "Exit" for role, name, _ in tree):
                break
            time.sleep(0.5)
        assert tree, "the program never showed up on the accessibility bus"
        print("\n".join(f"{'  ' * depth}{role}: {name!r}" for role, name, depth in tree))
        controls = [(role, name) for role, name, _ in tree if role in CONTROL_ROLES]
        nameless = [role for role, name in controls if not name]
        assert not nameless, f"controls without a name: {nameless}"
        names = {name for _, name in controls}
        for expected in ("Exit", "Listen on port", "Clear Event Log", "Save List", "Load List", "Clear List",
                         "Latest Events", "Visitors"):
            assert expected in names, f"{expected!r} not among {sorted(names)}"
    finally:
        program.stop()
        xvfb.terminate()
        xvfb.wait()
    return 0


def main():
    if os.environ.get("VISTELLE_A11Y_BUS") == "1":
        return inner()
    missing = [t for t in ("Xvfb", "dbus-run-session") if not shutil.which(t)]
    if missing or subprocess.run([SYSTEM_PYTHON, "-c", "import pyatspi"], capture_output=True).returncode != 0:
        raise SystemExit(f"missing {' '.join(missing) or 'python3-pyatspi'}: run scripts/deps.sh --test")
    # A session bus of the test's own, where the accessibility bus starts on demand.
    env = dict(os.environ, VISTELLE_A11Y_BUS="1")
    return subprocess.run(["dbus-run-session", "--", SYSTEM_PYTHON, os.path.abspath(__file__)], env=env,
                          timeout=150).returncode


if __name__ == "__main__":
    sys.exit(main())
