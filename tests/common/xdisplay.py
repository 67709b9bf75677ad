"""Starting an X server of a test's own: Xvfb on a free display. Standard library only."""
import os
import subprocess
import time


def start_xvfb(width=1024, height=768):
    """Starts Xvfb on the first free display; returns (process, ":N"). Raises SystemExit when the
    server does not come up within 15 s."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
                             "-nolisten", "tcp", "-noreset"],
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
        xvfb.wait()
        raise SystemExit("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def tray_command():
    """trayer as the notification-area host at the bottom right."""
    return ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "96",
            "--heighttype", "pixel", "--height", "28", "--transparent", "false", "--tint", "0x1b2636",
            "--SetDockType", "true", "--SetPartialStrut", "true"]
