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


def start_openbox(env, timeout=20):
    """Starts the openbox window manager on env's display and waits until it has announced itself
    on the root window. On a loaded machine openbox may lose its first connection and exit; it is
    started again then, within the same time limit. Returns the running process; raises SystemExit
    when no window manager came up."""
    deadline = time.monotonic() + timeout
    wm = None
    while time.monotonic() < deadline:
        if wm is None or wm.poll() is not None:
            wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                             capture_output=True, text=True, timeout=10).stdout
        if "window id" in out and wm.poll() is None:
            return wm
        time.sleep(0.05)
    if wm.poll() is None:
        wm.kill()
        wm.wait()
    raise SystemExit("timed out waiting for openbox")
