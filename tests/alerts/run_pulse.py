#!/usr/bin/env python3
"""Runs a test program against a PulseAudio server of its own (null sink "vnull"), with ALSA's
default device and mixer going to it. Usage: run_pulse.py TEST_PROGRAM [ARGS...]

Exits 77 (skipped) only when pulseaudio cannot start at all. Standard library only; the server
is stopped again whatever the test's outcome."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from pulse import PulseServer  # noqa: E402


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with PulseServer() as pulse, tempfile.TemporaryDirectory(prefix="vistelle-pulse-home-") as home:
        env = pulse.client_env(home)
        env.setdefault("QT_QPA_PLATFORM", "offscreen")
        try:
            return subprocess.run(sys.argv[1:], env=env, timeout=100).returncode
        except subprocess.TimeoutExpired:
            print("test program timed out", file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main())
