"""The dynamic-DNS password in the desktop's keyring: with GNOME Keyring on a session bus of the
test's own, a password found in the settings file moves into the keyring (secret-tool finds it)
and out of the file, and the next start finds it there. Without a secret service the file keeps
it and the log says so. Needs dbus-daemon, gnome-keyring-daemon and secret-tool (exit 77 else)."""
import os
import shutil
import subprocess
import sys
import tempfile

from vistelle_e2e import Program

SKIP = 77
SETTINGS = {"ListenPort": "0", "usedyndns": "0", "SoundAlert": "0", "PopupAlert": "0", "dypass": "s3cret pass"}


def settings_text(program):
    with open(os.path.join(program.home, ".config", "RizidirUduzidodirer.conf"), encoding="utf-8") as f:
        return f.read()


def run_until(program, line):
    program.start()
    try:
        program.wait_line(line, timeout=15)
    finally:
        program.stop()


def main():
    if not all(shutil.which(tool) for tool in ("dbus-daemon", "gnome-keyring-daemon", "secret-tool")):
        print("needs dbus-daemon, gnome-keyring-daemon and secret-tool: skipped")
        return SKIP
    work = tempfile.mkdtemp(prefix="vistelle-keyring-")
    env = {"HOME": work, "XDG_DATA_HOME": os.path.join(work, "share"), "XDG_RUNTIME_DIR": os.path.join(work, "run"),
           "DISPLAY": None, "WAYLAND_DISPLAY": None}
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                           text=True, env={**os.environ, **{k: v for k, v in env.items() if v is not None}})
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        process_env = {k: v for k, v in {**os.environ, **env}.items() if v is not None}
        subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"], input="test", text=True,
                       env=process_env, check=True, capture_output=True)

        # Moved into the keyring, out of the file.
        first = Program(settings=SETTINGS, env=env)
        run_until(first, "The dynamic-DNS password was moved from the settings file to the desktop's keyring")
        assert "dypass" not in settings_text(first), settings_text(first)
        found = subprocess.run(["secret-tool", "lookup", "server", "vistelle", "user", "dypass"], env=process_env,
                               capture_output=True, text=True, check=True).stdout
        assert found == "s3cret pass", repr(found)
        # The next start finds it there and moves nothing.
        second = Program(settings={k: v for k, v in SETTINGS.items() if k != "dypass"}, home=first.home, env=env)
        second.start()
        try:
            second.wait_line("Listening for connections on port: 0")
        finally:
            second.stop()
        assert not [l for l in second.output() if "keyring" in l or "secret service" in l], second.output()

        # No secret service on the bus: the file keeps the password, and the log says so.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(work, "no-bus")
        third = Program(settings=SETTINGS, env=env)
        run_until(third, "the dynamic-DNS password stays in the settings file")
        assert "dypass=s3cret pass" in settings_text(third), settings_text(third)
    finally:
        bus.terminate()
        bus.wait()
        # The keyring daemon ends with its bus.
        shutil.rmtree(work, ignore_errors=True)
    print("password moved into the keyring and found there; without a secret service it stays in the file")
    return 0


if __name__ == "__main__":
    sys.exit(main())
