"""A PulseAudio server of a test's own, with one null sink "vnull" whose monitor records what was
played, and the ALSA set-up that sends ALSA's "default" device and mixer to it (as on a Debian
desktop). Standard library only.

    with PulseServer() as pulse:          # SystemExit(77) when pulseaudio cannot start at all
        env = pulse.client_env(home)       # writes home/.asoundrc; PULSE_SERVER for the client
        with pulse.recording() as rec:     # parec on vnull.monitor
            ...                            # play
        rec.bursts()                       # [(start s, length s, Hz at start, Hz at end), ...]
"""
import array
import os
import re
import shutil
import subprocess
import tempfile
import time

SKIP = 77
RATE = 44100
SINK = "vnull"


class PulseServer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="vistelle-pulse-")
        self.socket = os.path.join(self.dir, "native")
        self.proc = None
        self.log = os.path.join(self.dir, "pulseaudio.log")

    def __enter__(self):
        for tool in ("pulseaudio", "pactl", "parec"):
            if not shutil.which(tool):
                print(f"SKIP: {tool} is missing (scripts/deps.sh --test)")
                raise SystemExit(SKIP)
        home = os.path.join(self.dir, "home")
        runtime = os.path.join(self.dir, "run")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        env.pop("PULSE_SERVER", None)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        with open(self.log, "w") as log:
            self.proc = subprocess.Popen(
                ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                 "--disable-shm=yes", "-L", f"module-null-sink sink_name={SINK}",
                 "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
                 "-L", "module-always-sink"],
                env=env, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                break
            if os.path.exists(self.socket) and self._pactl("info").returncode == 0:
                return self
            time.sleep(0.1)
        self.stop()
        with open(self.log) as log:
            print("SKIP: pulseaudio did not start:\n" + log.read()[-2000:])
        raise SystemExit(SKIP)

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    @property
    def server(self):
        return f"unix:{self.socket}"

    def _pactl(self, *args):
        return subprocess.run(["pactl", "--server", self.server, *args], capture_output=True, text=True, timeout=10)

    def client_env(self, home, base=None):
        """The environment of an ALSA client of this server: home/.asoundrc routes ALSA's default
        device and mixer to PulseAudio, PULSE_SERVER names the server."""
        os.makedirs(home, exist_ok=True)
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n")
        env = dict(os.environ if base is None else base)
        env.update(HOME=home, PULSE_SERVER=self.server)
        return env

    def sink_volume(self):
        """The sink's volume per channel, in PulseAudio's units (65536 = 100 %)."""
        out = self._pactl("get-sink-volume", SINK).stdout
        return [int(v) for v in re.findall(r":\s*(\d+)\s*/", out)]

    def set_sink_volume(self, value):
        self._pactl("set-sink-volume", SINK, str(value))

    def recording(self):
        return Recording(self)


class Recording:
    """parec on the sink's monitor: 16-bit mono at 44100 Hz, small latency so nothing is held back."""

    def __init__(self, pulse):
        self.pulse = pulse
        self.path = os.path.join(pulse.dir, f"rec-{time.monotonic_ns()}.raw")
        self.samples = array.array("h")

    def __enter__(self):
        self.file = open(self.path, "wb")
        self.proc = subprocess.Popen(
            ["parec", "--server", self.pulse.server, "-d", f"{SINK}.monitor", "--raw", "--format=s16le",
             f"--rate={RATE}", "--channels=1", "--latency-msec=20"], stdout=self.file)
        # parec delivers silence as soon as it records.
        deadline = time.monotonic() + 10
        while os.path.getsize(self.path) == 0 and time.monotonic() < deadline:
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        # SIGINT lets parec write out what it holds.
        self.proc.send_signal(2)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.file.close()
        with open(self.path, "rb") as f:
            data = f.read()
        self.samples = array.array("h")
        self.samples.frombytes(data[:len(data) // 2 * 2])
        os.remove(self.path)

    def seconds(self):
        return len(self.samples) / RATE

    def bursts(self, gap=0.3, threshold=30):
        """The sounds in the recording: stretches whose samples exceed threshold, split where it
        stays at or below it for more than gap seconds. Each is (start s, length s, frequency Hz of
        its first 0.1 s, frequency Hz of its last 0.1 s); frequencies by counting zero crossings."""
        s = self.samples
        loud = [i for i in range(len(s)) if abs(s[i]) > threshold]
        if not loud:
            return []

        def frequency(part):
            crossings = sum(1 for a, b in zip(part, part[1:]) if (a < 0) != (b < 0))
            return crossings / 2 / (len(part) / RATE) if len(part) > 1 else 0.0

        result = []
        start = prev = loud[0]
        tenth = RATE // 10
        for i in loud[1:] + [None]:
            if i is None or i - prev > gap * RATE:
                head = s[start:min(prev + 1, start + tenth)]
                tail = s[max(start, prev - tenth):prev + 1]
                result.append((start / RATE, (prev - start) / RATE, frequency(head), frequency(tail)))
                start = i
            prev = i
        return result
