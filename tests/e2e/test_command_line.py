"""--help and --version answer on the console and exit at once, also with a display that cannot be
reached; a wrong option ends the program with status 2."""
import os
import subprocess
import sys


def run(*args, display=":9999"):
    env = dict(os.environ, DISPLAY=display, WAYLAND_DISPLAY="")
    env.pop("QT_QPA_PLATFORM", None)
    # --help and --version touch no folder: without a runtime folder nothing warns.
    env.pop("XDG_RUNTIME_DIR", None)
    return subprocess.run([os.environ["VISTELLE_BIN"], *args], env=env, capture_output=True, text=True,
                          timeout=30)


def main():
    help_ = run("--help")
    assert help_.returncode == 0, (help_.returncode, help_.stderr)
    for word in ("--headless", "--version", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                 "XDG_RUNTIME_DIR"):
        assert word in help_.stdout, (word, help_.stdout)
    # The folders searched for data: the user's, then the installed one beside the binary.
    data_home = os.environ["XDG_DATA_HOME"]
    beside = os.path.normpath(os.path.join(os.path.dirname(os.environ["VISTELLE_BIN"]), "..", "share", "vistelle"))
    assert help_.stdout.index(data_home + "/vistelle") < help_.stdout.index(beside), help_.stdout
    assert help_.stderr == "", help_.stderr

    version = run("--version")
    assert version.returncode == 0 and version.stderr == "", (version.returncode, version.stderr)
    assert version.stdout.startswith("vistelle ") and version.stdout.count("\n") == 3, version.stdout
    assert "IP Geolocation by DB-IP, https://db-ip.com" in version.stdout, version.stdout
    assert "crawler-user-agents" in version.stdout, version.stdout

    # Qt reads its own options (-display, -platform, ...) while it connects to the display, so a
    # wrong option is found only after that; here there is no display at all.
    wrong = run("--no-such-option", display="")
    assert wrong.returncode == 2, wrong.returncode
    assert wrong.stdout == "", wrong.stdout
    assert "no-such-option" in wrong.stderr and "--help" in wrong.stderr, wrong.stderr
    print(help_.stdout + version.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
