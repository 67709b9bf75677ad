"""The program's controls as a screen reader sees them (AT-SPI over D-Bus), so an end-to-end test
can find a control by its role and accessible name, read its text and click it where it is on the
screen. Needs the system's Python with GObject introspection (python3-gi, gir1.2-atspi-2.0 from
python3-pyatspi) and at-spi2-core; the test starts a session bus of its own (dbus-daemon) and the
program with Qt's accessibility switched on."""
import os
import subprocess

from vistelle_e2e import poll


class SessionBus:
    """A private D-Bus session bus (the accessibility bus is started from it on demand)."""

    def __init__(self, env):
        self.proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.proc.stdout.readline().strip()
        if not self.address:
            self.close()
            raise SystemExit("dbus-daemon did not start")

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Accessibility:
    """The accessibility tree of one program, reached through the given session bus and display."""

    def __init__(self, bus_address, display):
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus_address
        os.environ["DISPLAY"] = display
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self.Atspi = Atspi
        Atspi.init()

    @staticmethod
    def program_env():
        """Variables that make a Qt program show itself to screen readers."""
        return {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1", "NO_AT_BRIDGE": None}

    def application(self, name):
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and (app.get_name() or "").lower() == name.lower():
                return app
        return None

    def walk(self, node, depth=0):
        if node is None or depth > 40:
            return
        yield node
        try:
            count = node.get_child_count()
        except Exception:  # the object went away meanwhile
            return
        for i in range(count):
            try:
                child = node.get_child_at_index(i)
            except Exception:
                continue
            yield from self.walk(child, depth + 1)

    def showing(self, node):
        states = node.get_state_set()
        return states.contains(self.Atspi.StateType.SHOWING) and states.contains(self.Atspi.StateType.VISIBLE)

    def find(self, root, role, name=None, contains=None):
        """The first showing object of this role ("push button", "text", "label", "frame", ...)
        whose name is name (blanks and a trailing colon aside) or contains contains."""
        if root is None:
            return None
        self.Atspi.Accessible.clear_cache(root)
        for node in self.walk(root):
            try:
                if node.get_role_name() != role or not self.showing(node):
                    continue
                label = (node.get_name() or "").strip()
                if name is not None and label.rstrip(":") != name.rstrip(":"):
                    continue
                if contains is not None and contains not in label:
                    continue
                return node
            except Exception:
                continue
        return None

    def wait_for(self, root_fn, role, name=None, contains=None, timeout=15):
        what = f"{role} {name or contains!r}"
        try:
            return poll(lambda: self.find(root_fn(), role, name, contains), timeout, what, interval=0.2)
        except AssertionError as error:
            raise AssertionError(f"{error}; the controls on the screen:\n{self.dump(root_fn())}") from None

    def dump(self, root):
        """Role and name of every showing object under root, indented by depth (for failures)."""
        lines = []

        def visit(node, depth):
            try:
                if self.showing(node) or depth == 0:
                    lines.append(f"{'  ' * depth}{node.get_role_name()} {node.get_name()!r}")
                for i in range(node.get_child_count()):
                    visit(node.get_child_at_index(i), depth + 1)
            except Exception:
                pass
        if root is not None:
            visit(root, 0)
        return "\n".join(lines[:300])

    def extents(self, node):
        r = node.get_extents(self.Atspi.CoordType.SCREEN)
        return r.x, r.y, r.width, r.height

    def centre(self, node):
        x, y, w, h = self.extents(node)
        return x + w // 2, y + h // 2

    def text(self, node):
        """The whole text of a text object."""
        return node.get_text(0, node.get_character_count())
