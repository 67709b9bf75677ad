#!/usr/bin/env python3
"""Runs a test program on a real X server: its own Xvfb on a free display, with trayer as the
notification-area host, and with --wm the openbox window manager.
Usage: run_x11.py [--wm] TEST_PROGRAM [ARGS...]

Standard library only. Everything it starts is stopped again, whatever the test's outcome."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from xdisplay import start_openbox, start_xvfb, tray_command  # noqa: E402


def main():
    args = sys.argv[1:]
    wm = args[:1] == ["--wm"]
    if wm:
        args = args[1:]
    if not args:
        sys.exit(__doc__)
    for tool in ("Xvfb", "trayer") + (("openbox", "xprop") if wm else ()):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: run scripts/deps.sh --test")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    # No session bus: Qt's tray icon then embeds itself in trayer (XEmbed), as on a plain X desktop.
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    started = [xvfb]
    try:
        if wm:
            started.append(start_openbox(env))
        started.append(subprocess.Popen(tray_command(), env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))
        result = subprocess.run(args, env=env, timeout=120)
        return result.returncode
    except subprocess.TimeoutExpired:
        print("test program timed out", file=sys.stderr)
        return 1
    finally:
        for process in reversed(started):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


if __name__ == "__main__":
    sys.exit(main())
