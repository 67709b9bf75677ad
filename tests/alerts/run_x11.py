#!/usr/bin/env python3
"""Runs a test program on a real X server: its own Xvfb on a free display, with trayer as the
notification-area host. Usage: run_x11.py TEST_PROGRAM [ARGS...]

Standard library only. Everything it starts is stopped again, whatever the test's outcome."""
import os
import shutil
import subprocess
import sys
import time


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 15
    with os.fdopen(read_fd, "rb", buffering=0) as pipe:
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


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
    trayer = subprocess.Popen(
        ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "96",
         "--heighttype", "pixel", "--height", "28", "--transparent", "false", "--tint", "0x1b2636",
         "--SetDockType", "true", "--SetPartialStrut", "true"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
