#!/usr/bin/env python3
"""Under Xvfb with the openbox window manager: pressing on the title bar and moving the pointer moves
the window, with the left button through the window manager's move and with the right button by the
bar itself; the skinned button sees the pointer come and go. Starts its own X server on a free
display. Usage: x11_drag_test.py PROBE"""
import os
import queue
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from xdisplay import start_openbox, start_xvfb  # noqa: E402


def main():
    probe_bin = sys.argv[1]
    for tool in ("Xvfb", "openbox", "xdotool", "xprop"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} missing: run scripts/deps.sh --test")
    procs = []
    try:
        xvfb, display = start_xvfb()
        procs.append(xvfb)
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        procs.append(start_openbox(env))

        probe = subprocess.Popen([probe_bin], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        procs.append(probe)
        lines = queue.Queue()
        threading.Thread(target=lambda: [lines.put(l.strip()) for l in probe.stdout], daemon=True).start()
        seen = []

        def expect(pred, timeout, what):
            end = time.monotonic() + timeout
            while time.monotonic() < end:
                try:
                    line = lines.get(timeout=0.1)
                except queue.Empty:
                    continue
                seen.append(line)
                if pred(line):
                    return line
            raise SystemExit(f"timed out waiting for {what}; probe said: {seen}")

        ready = expect(lambda l: l.startswith("READY"), 15, "the probe window")
        x0, y0 = (int(v) for v in ready.split()[1:3])

        def xdo(*args):
            subprocess.run(["xdotool", *args], env=env, check=True)

        # Hover over the button and away again.
        xdo("mousemove", str(x0 + 20 + 50), str(y0 + 50 + 20))
        expect(lambda l: l == "IN", 5, "IN")
        xdo("mousemove", str(x0 + 280), str(y0 + 110))
        xdo("mousemove", str(x0 + 600), str(y0 + 400))
        expect(lambda l: l == "OUT", 5, "OUT")

        # Press on the title bar, move, release.
        xdo("mousemove", str(x0 + 150), str(y0 + 12))
        time.sleep(0.2)
        xdo("mousedown", "1")
        expect(lambda l: l.startswith("MOVE_REQUESTED"), 5, "the move request")
        expect(lambda l: l.startswith("UP"), 5, "MouseUp")
        for _ in range(12):
            xdo("mousemove_relative", "--", "10", "8")
            time.sleep(0.05)
        time.sleep(0.2)
        xdo("mouseup", "1")
        requested = [l for l in seen if l.startswith("MOVE_REQUESTED")][-1]
        order = [l for l in seen if l.split()[0] in ("DOWN", "MOVE_REQUESTED", "UP")]
        if order[:3] != ["DOWN 1", requested, "UP 1"]:
            raise SystemExit(f"wrong order of the drag: {order}")
        moved = expect(lambda l: l.startswith("POS") and abs(int(l.split()[1]) - (x0 + 120)) <= 12
                       and abs(int(l.split()[2]) - (y0 + 96)) <= 12, 5, "the window at its new place")
        print(f"window moved from {x0},{y0} to {moved[4:]} ({requested})")

        # The right button drags too: openbox's move follows the left button only, so the bar
        # moves the window itself, and MouseUp comes with the release.
        x1, y1 = (int(v) for v in moved.split()[1:3])
        seen.clear()
        xdo("mousemove", str(x1 + 150), str(y1 + 12))
        time.sleep(0.2)
        xdo("mousedown", "3")
        expect(lambda l: l == "DOWN 2", 5, "DOWN 2")
        for _ in range(10):
            xdo("mousemove_relative", "--", "-8", "6")
            time.sleep(0.05)
        time.sleep(0.2)
        xdo("mouseup", "3")
        expect(lambda l: l == "UP 2", 5, "UP 2 after the release")
        if any(l.startswith("MOVE_REQUESTED") for l in seen):
            raise SystemExit(f"the right button asked the window system for its move: {seen}")
        positions = [l for l in seen if l.startswith("POS")]
        last = positions[-1] if positions else f"POS {x1} {y1}"
        lx, ly = (int(v) for v in last.split()[1:3])
        if abs(lx - (x1 - 80)) > 12 or abs(ly - (y1 + 60)) > 12:
            raise SystemExit(f"the right button did not move the window to {x1 - 80},{y1 + 60}: {seen}")
        print(f"right-button drag moved it from {x1},{y1} to {lx},{ly}")
        return 0
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()


if __name__ == "__main__":
    sys.exit(main())
