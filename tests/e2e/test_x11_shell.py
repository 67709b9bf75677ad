"""The real program on an X desktop of its own (Xvfb, openbox, trayer): tray icon and start-up
popup, a second instance refused, a visit announced, minimising into the tray and restoring from
it, closing the window and SIGTERM ending the program with exit code 0.

Screenshots go to the test's temporary folder; with VISTELLE_SCREENSHOT_DIR set they are copied
there too (main-window.png, startup-popup.png)."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from vistelle_e2e import Program, free_port, machine_online, poll
from x11_session import SCREEN_HEIGHT, SCREEN_WIDTH, XSession

POPUP_SIZE = (243, 122)
CONTAINER_SIZE = (780, 600)
ALREADY_RUNNING = "Already running, exiting."


def visit(port, page, source="127.0.0.1"):
    with socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(source, 0)) as s:
        s.sendall(f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: {page}\r\n\r\n".encode())
        assert s.recv(64) == b"", "the program answered a visit"


class Desktop:
    """The program's windows on the test's desktop."""

    def __init__(self, x, program):
        self.x, self.program = x, program

    def windows(self):
        ids = set(self.x.windows_of(self.program.proc.pid))
        return [w for w in self.x.tree() if w.id in ids]

    def tray_icon(self):
        icons = self.x.tray_icons("Vistelle")
        return icons[0] if len(icons) == 1 else None

    def container(self):
        return next((w for w in self.windows() if (w.width, w.height) == CONTAINER_SIZE), None)

    def popup_at_rest(self):
        """The popup, once it stands still at the bottom right of the screen above the tray."""
        for w in self.windows():
            if (w.width, w.height) == POPUP_SIZE and self.x.viewable(w.id):
                before = self.x.geometry(w.id)
                time.sleep(0.3)
                g = self.x.geometry(w.id)
                if (g == before and g["x"] + g["width"] == SCREEN_WIDTH
                        and SCREEN_HEIGHT - 60 <= g["y"] + g["height"] <= SCREEN_HEIGHT):
                    return w
        return None

    def popup_gone(self):
        return not any((w.width, w.height) == POPUP_SIZE and self.x.viewable(w.id) for w in self.windows())

    def shown(self, wid):
        return self.x.viewable(wid) and self.x.wm_state(wid) == "Normal"

    def hidden(self, wid):
        # Hidden into the tray: unmapped and withdrawn, not just iconified by the window manager.
        return not self.x.viewable(wid) and self.x.wm_state(wid) in (None, "Withdrawn")


def second_instances(x, desk, container, home, settings, first):
    # Headless, the refusal goes to standard error.
    second = Program(settings=settings, home=home, env=x.program_env).start()
    poll(lambda: second.proc.poll() is not None, 10, "the headless second instance to end")
    assert second.proc.returncode == 0, f"second instance exit code {second.proc.returncode}"
    poll(lambda: any(ALREADY_RUNNING in line for line in second.errors), 2, "the refusal on standard error")
    # On the desktop, a second start is a user looking for the window: the first instance shows
    # and raises it, and the second one ends without a word.
    third = Program(settings=settings, home=home, args=(), env=x.program_env).start()
    poll(lambda: third.proc.poll() is not None, 10, "the second instance to end")
    assert third.proc.returncode == 0, f"second instance exit code {third.proc.returncode}"
    assert not any(ALREADY_RUNNING in line for line in third.errors), third.errors
    poll(lambda: desk.shown(container.id), 10, "the first instance's window shown by the second start")
    poll(lambda: x.run("xdotool", "getactivewindow").strip() == str(int(container.id, 16)), 10,
         "the first instance's window active")
    assert first.proc.poll() is None, "the first instance ended"


def copy_out(path, name):
    target = os.environ.get("VISTELLE_SCREENSHOT_DIR")
    if target:
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(path, os.path.join(target, name))


def address_file(home):
    return os.path.join(home, ".local", "share", "vistelle", "iptxt.txt")


def main():
    work = tempfile.mkdtemp(prefix="vistelle-x11-")
    port = free_port()
    settings = {"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "1",
                "EchoPageURL": "http://127.0.0.1:1/", "UpdateStatusURL": "http://127.0.0.1:1/",
                "UpdateVersionURL": "http://127.0.0.1:1/"}
    online = machine_online()
    with XSession() as x:
        program = Program(settings=settings, args=(), env=x.program_env)
        home = program.home
        program.start()
        desk = Desktop(x, program)
        try:
            icon = poll(desk.tray_icon, 10, "the tray icon in trayer")
            container = poll(desk.container, 10, "the container window")
            if online:
                popup = poll(desk.popup_at_rest, 10, "the start-up popup at the bottom right")
                shot = x.screenshot(os.path.join(work, "startup-popup.png"),
                                    crop=(SCREEN_WIDTH - 300, SCREEN_HEIGHT - 172, 300, 172))
                copy_out(shot, "startup-popup.png")
                print(f"start-up popup {popup}, tray icon {icon}; screenshot {shot}")
                poll(lambda: desk.hidden(container.id), 10, "the container hidden in the tray")
            else:
                print("no default route on this machine: offline start, no start-up popup expected")
                poll(lambda: desk.shown(container.id), 10, "the container shown (offline start)")

            second_instances(x, desk, container, home, settings, program)
            assert desk.tray_icon(), "the tray icon went away"

            # Restored from the tray, then visits: each is announced by the popup.
            if not desk.shown(container.id):
                x.click_window(desk.tray_icon())
                poll(lambda: desk.shown(container.id), 10, "the container restored by a tray click")
            poll(desk.popup_gone, 10, "the start-up popup to go")
            pages = ["https://www.example.com/", "https://www.example.com/blog/first-light.html",
                     "https://shop.example.com/cart?item=42", "https://www.example.com/about.html"]
            for i, page in enumerate(pages):
                visit(port, page, source=f"127.0.0.{2 + i % 3}")
            poll(desk.popup_at_rest, 10, "the visit popup")
            poll(desk.popup_gone, 10, "the visit popup to go")
            frame = x.frame_of(container.id)
            shot = x.screenshot(os.path.join(work, "main-window.png"),
                                crop=(frame.x, frame.y, frame.width, frame.height))
            copy_out(shot, "main-window.png")
            print(f"main window {frame}; screenshot {shot}")

            # Minimising hides the window into the tray; a left click on the icon brings it back.
            x.run("xdotool", "windowminimize", "--sync", container.id, check=True)
            poll(lambda: desk.hidden(container.id), 10, "the container hidden after minimising")
            x.click_window(desk.tray_icon())
            poll(lambda: desk.shown(container.id), 10, "the container restored by a tray click")

            # Closing the window ends the program, writes the address file and takes the icon away.
            if os.path.exists(address_file(home)):
                os.remove(address_file(home))
            x.run("xdotool", "windowactivate", "--sync", container.id, check=True)
            x.run("xdotool", "key", "--clearmodifiers", "alt+F4", check=True)
            poll(lambda: program.proc.poll() is not None, 10, "the program to end after closing its window")
            assert program.proc.returncode == 0, f"exit code {program.proc.returncode} after closing"
            assert not x.tray_icons("Vistelle"), "the tray icon is still there"
            assert os.path.exists(address_file(home)), "no address file after closing"
        finally:
            program.stop()

        # SIGTERM ends it in order too.
        program = Program(settings=settings, home=home, args=(), env=x.program_env)
        os.remove(address_file(home))
        program.start()
        try:
            poll(Desktop(x, program).tray_icon, 10, "the tray icon of the second run")
            program.proc.terminate()
            code = program.proc.wait(10)
            assert code == 0, f"exit code {code} after SIGTERM"
            with open(address_file(home), "rb") as f:
                written = f.read()
            # An address and a line end, or nothing (no echo page answered here).
            assert re.fullmatch(rb"(\d+\.\d+\.\d+\.\d+\r\n)?", written), f"address file holds {written!r}"
            poll(lambda: not x.tray_icons("Vistelle"), 5, "the tray icon to go after SIGTERM")
        finally:
            program.stop()

        # A port another program holds: the window stays up (beside the tray) and says why. (An
        # offline start shows the window anyway: only an online start tells.)
        taken = free_port()
        with socket.socket() as holder:
            holder.bind(("0.0.0.0", taken))
            holder.listen()
            program = Program(settings={**settings, "ListenPort": str(taken)}, home=home, args=(), env=x.program_env)
            program.start()
            try:
                desk = Desktop(x, program)
                poll(desk.tray_icon, 10, "the tray icon of the run without its port")
                container = poll(desk.container, 10, "the container window")
                poll(lambda: desk.shown(container.id), 10, "the window up with the port's problem")
                time.sleep(1)
                assert desk.shown(container.id), "the window went into the tray"
                if online:
                    print("the window stayed up for the port's problem")
            finally:
                program.stop()
    print(f"screenshots in {work}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
