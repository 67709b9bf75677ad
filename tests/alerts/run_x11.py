#!/usr/bin/env python3
"""Runs a test program on a real X server: its own Xvfb on a free display, with trayer as the
notification-area host. Usage: run_x11.py TEST_PROGRAM [ARGS...]

Standard library only. Everything it starts is stopped again, whatever the test's outcome."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from xdisplay import start_xvfb, tray_command  # noqa: E402


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    for tool in ("Xvfb", "trayer"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: run scripts/deps.sh --test")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    # No session bus: Qt's tray icon then embeds itself in trayer (XEmbed), as on a plain X desktop.
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    trayer = subprocess.Popen(tray_command(), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        result = subprocess.run(sys.argv[1:], env=env, timeout=120)
        return result.returncode
    except subprocess.TimeoutExpired:
        print("test program timed out", file=sys.stderr)
        return 1
    finally:
        for process in (trayer, xvfb):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


if __name__ == "__main__":
    sys.exit(main())
