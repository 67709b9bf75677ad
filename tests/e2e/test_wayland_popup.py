"""A Wayland session with XWayland (headless weston): the program, left to choose its platform,
runs on XWayland, and its popup rests in the lower right corner of the screen, where the desktop
cannot put it for a Wayland window. Needs weston, Xwayland and xwininfo (exit 77 otherwise)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from vistelle_e2e import Program, free_port, poll

SKIP = 77
WIDTH, HEIGHT = 1280, 900
POPUP = (243, 122)
_GEOMETRY = re.compile(r'^\s*0x[0-9a-f]+ "Vistelle": \(.*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)')


def popup_place(display):
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env={**os.environ, "DISPLAY": display},
                          capture_output=True, text=True).stdout
    for line in tree.splitlines():
        m = _GEOMETRY.match(line)
        if m and (int(m.group(1)), int(m.group(2))) == POPUP:
            return int(m.group(3)), int(m.group(4))
    return None


def main():
    if not all(shutil.which(tool) for tool in ("weston", "Xwayland", "xwininfo")):
        print("needs weston, Xwayland and xwininfo: skipped")
        return SKIP
    work = tempfile.mkdtemp(prefix="vistelle-wayland-")
    runtime = os.path.join(work, "run")
    os.makedirs(runtime, mode=0o700)
    log_path = os.path.join(work, "weston.log")
    with open(log_path, "w") as log:
        weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--xwayland", "--socket=vistelle-test",
                                   f"--width={WIDTH}", f"--height={HEIGHT}", "--idle-time=0"],
                                  env={**os.environ, "XDG_RUNTIME_DIR": runtime}, stdout=log, stderr=log)
    program = None
    try:
        def display():
            with open(log_path) as f:
                m = re.search(r"xserver listening on display (:\d+)", f.read())
            return m.group(1) if m else None
        x_display = poll(display, 15, "weston's XWayland display")
        port = free_port()
        program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0"}, args=(),
                          env={"WAYLAND_DISPLAY": "vistelle-test", "DISPLAY": x_display, "XDG_SESSION_TYPE": "wayland",
                               "QT_QPA_PLATFORM": None, "XDG_RUNTIME_DIR": runtime})
        program.start()
        # The start-up popup slides up and rests at the lower right corner.
        at_rest = (WIDTH - POPUP[0], HEIGHT - POPUP[1] - 30)
        poll(lambda: popup_place(x_display) == at_rest, 15, f"the popup at rest at {at_rest}",
             interval=0.1)
        print(f"popup {POPUP[0]}x{POPUP[1]} at {at_rest} on XWayland display {x_display}")
    finally:
        if program and program.proc and program.proc.poll() is None:
            program.proc.terminate()
            try:
                program.proc.wait(10)
            except subprocess.TimeoutExpired:
                program.proc.kill()
        weston.terminate()
        try:
            weston.wait(10)
        except subprocess.TimeoutExpired:
            weston.kill()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
