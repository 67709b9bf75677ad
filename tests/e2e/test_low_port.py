"""A port below 1024 for a normal user: the program run as user "nobody" listens on one when its
binary has the capability cap_net_bind_service (what the package's postinst grants), and without it
says what failed and what to do. Needs root (setcap, setpriv); exit 77 (skipped) otherwise."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from vistelle_e2e import Program, poll

SKIP = 77


def free_low_port():
    for port in range(1023, 900, -1):
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", port))
            except OSError:
                continue
            return port
    raise RuntimeError("no free port below 1024")


def main():
    if os.geteuid() != 0 or not shutil.which("setcap") or not shutil.which("setpriv"):
        print("needs root, setcap and setpriv: skipped")
        return SKIP
    work = tempfile.mkdtemp(prefix="vistelle-lowport-")
    os.chmod(work, 0o755)
    capped = os.path.join(work, "vistelle-capped")
    plain = os.path.join(work, "vistelle-plain")
    for copy in (capped, plain):
        shutil.copy2(os.environ["VISTELLE_BIN"], copy)
        os.chmod(copy, 0o755)
    subprocess.run(["setcap", "cap_net_bind_service=+ep", capped], check=True)
    port = free_low_port()
    # The build tree must be readable by "nobody" (its libraries are loaded from there).
    probe = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", plain, "--version"],
                           capture_output=True, text=True, env={**os.environ, "XDG_RUNTIME_DIR": work})
    if probe.returncode != 0:
        print(f"the build tree cannot be run by user nobody ({probe.stderr.strip()[:200]}): skipped")
        shutil.rmtree(work, ignore_errors=True)
        return SKIP

    with_cap = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "0"},
                       home=os.path.join(work, "capped"))
    without = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "0"},
                      home=os.path.join(work, "plain"))
    for program in (with_cap, without):
        subprocess.run(["chown", "-R", "nobody:nogroup", program.home], check=True)
    nobody = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--")
    try:
        os.environ["VISTELLE_BIN"] = capped
        with_cap.prefix = list(nobody)
        with_cap.start()
        with_cap.wait_line(f"Listening for connections on port: {port}")
        poll(lambda: socket.create_connection(("127.0.0.1", port), timeout=2).close() is None, 10,
             "the capped program listening")
        assert not [l for l in with_cap.output() if "Bind error" in l], with_cap.output()
        with_cap.stop()

        os.environ["VISTELLE_BIN"] = plain
        without.prefix = list(nobody)
        without.start()
        without.wait_line(f"Port {port} needs the permission to use ports below 1024: choose a port from 1024 in "
                          f"Settings, or run: sudo setcap cap_net_bind_service=+ep")
        without.stop()
    finally:
        for program in (with_cap, without):
            if program.proc and program.proc.poll() is None:
                program.proc.kill()
        shutil.rmtree(work, ignore_errors=True)
    print(f"port {port}: listened with the capability, told what to do without it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
