"""Drives the relay benchmark (see run.sh): the direct and the relayed run of each round."""
import os
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

build, requests, clients, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
program = os.path.join(build, "app", "vistelle")
daemon = os.path.join(build, "engine", "vistelled")
client = os.path.join(build, "bench", "intake", "bench_intake_client")
mosquitto = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
work = tempfile.mkdtemp(prefix="vistelle-relay-bench-")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1] % 12000 + 20000


def listening(port, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if subprocess.run(["ss", "-Hltn", f"sport = :{port}"], capture_output=True, text=True).stdout.strip():
            return
        time.sleep(0.05)
    raise RuntimeError(f"nothing listens on {port}")


def cpu_seconds(pid):
    """Processor time (user and system) a process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Running:
    """A program with its standard output read line by line, each line's arrival time kept."""

    def __init__(self, binary, args, home, settings):
        for d in (".config", ".local/share", "run"):
            os.makedirs(os.path.join(home, d), exist_ok=True)
        os.chmod(os.path.join(home, "run"), 0o700)
        with open(os.path.join(home, ".config", "RizidirUduzidodirer.conf"), "w") as f:
            f.write("[Settings]\n" + "".join(f"{k}={v}\n" for k, v in settings.items()))
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config",
                   XDG_DATA_HOME=f"{home}/.local/share", XDG_RUNTIME_DIR=f"{home}/run")
        self.home = home
        self.lines = []
        self.proc = subprocess.Popen([binary, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append((time.time(), line))

    def wait(self, predicate, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and not predicate():
            time.sleep(0.02)
        return predicate()

    def count(self, text):
        return sum(text in l for _, l in self.lines)

    def cpu(self):
        return cpu_seconds(self.proc.pid)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(20)


def load(port, tag):
    out = subprocess.run([client, str(port), str(requests), str(clients), tag], capture_output=True, text=True).stdout
    return dict(kv.split("=") for kv in out.split("RESULT ", 1)[1].split())


def direct(round_):
    port = free_port()
    p = Running(program, ["--headless"], f"{work}/direct-{round_}",
                {"ListenPort": port, "SoundAlert": 0, "PopupAlert": 0})
    try:
        listening(port)
        before = p.cpu()
        result = load(port, f"direct{round_}")
        p.wait(lambda: p.count("Visit: ") >= requests, 30)
        return float(result["rate"]), requests - p.count("Visit: "), p.cpu() - before
    finally:
        p.stop()


def relayed(round_):
    bport = free_port()
    bdir = f"{work}/broker-{round_}"
    os.makedirs(bdir)
    with open(f"{bdir}/mosquitto.conf", "w") as f:
        f.write(f"listener {bport} 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n"
                f"max_inflight_messages 0\npersistence false\n"
                f"user {'root' if os.geteuid() == 0 else os.environ.get('USER', 'nobody')}\n")
    broker = subprocess.Popen([mosquitto, "-c", f"{bdir}/mosquitto.conf"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    pport = free_port()
    common = {"SoundAlert": 0, "PopupAlert": 0, "usedyndns": 0}
    try:
        listening(bport)
        sub = Running(program, ["--headless"], f"{work}/desk-{round_}",
                      dict(common, ListenPort=free_port(), RelaySubscribeURL=f"mqtt://localhost:{bport}/bench/+"))
        pub = Running(daemon, [], f"{work}/site-{round_}",
                      dict(common, ListenPort=pport, RelayPublishURL=f"mqtt://localhost:{bport}/bench/site"))
        try:
            listening(pport)
            for p, text in ((sub, "Relay (receiving): connected"), (pub, "Relay (publishing): connected")):
                if not p.wait(lambda: p.count(text) > 0, 20):
                    raise RuntimeError(f"no '{text}'")
            before = pub.cpu() + sub.cpu() + cpu_seconds(broker.pid)
            start = time.time()
            load(pport, f"relay{round_}")
            sub.wait(lambda: sub.count("Relayed visit: ") >= requests, 60)
            used = pub.cpu() + sub.cpu() + cpu_seconds(broker.pid) - before
            arrived = [(t, l) for t, l in sub.lines if "Relayed visit: " in l]
            seconds = (arrived[-1][0] - start) if arrived else float("inf")
            pages = [l.rsplit(" -> ", 1)[1].strip() for _, l in arrived]
            # The publisher's visit times, from its history.
            db = sqlite3.connect(f"file:{pub.home}/.local/share/vistelle/history.sqlite3?mode=ro", uri=True)
            sent = {page: key // 1024 / 1000.0 for key, page in
                    db.execute("SELECT v.key, p.text FROM visits v JOIN pages p ON p.id=v.page")}
            db.close()
            delays = sorted((t - sent[l.rsplit(" -> ", 1)[1].strip()]) * 1000 for t, l in arrived
                            if l.rsplit(" -> ", 1)[1].strip() in sent)
            p99 = delays[min(len(delays) - 1, int(len(delays) * 0.99))] if delays else float("inf")
            return len(arrived) / seconds, p99, requests - len(set(pages)), len(pages) - len(set(pages)), used
        finally:
            pub.stop()
            sub.stop()
    finally:
        broker.terminate()
        broker.wait(10)


print(f"Relay: {requests} visits from {clients} concurrent loopback clients, {rounds} rounds; "
      f"relayed: vistelled -> mosquitto -> vistelle --headless; {os.cpu_count()} processors")
print("  CPU s: processor time of the program (direct) or of publisher, broker and desktop (relayed)")
print(f"  {'':28} {'per second':>10} {'p99 ms':>8} {'lost':>6} {'twice':>6} {'CPU s':>6}")
direct_rates, relay_rates, p99s, lost_all, twice_all = [], [], [], 0, 0
try:
    for r in range(1, rounds + 1):
        rate, lost, used = direct(r)
        direct_rates.append(rate)
        print(f"  {f'round {r}: direct':28} {rate:10.0f} {'':>8} {lost:6d} {'':>6} {used:6.2f}")
        rate, p99, lost, twice, used = relayed(r)
        relay_rates.append(rate)
        p99s.append(p99)
        lost_all += lost
        twice_all += twice
        print(f"  {f'round {r}: relayed':28} {rate:10.0f} {p99:8.1f} {lost:6d} {twice:6d} {used:6.2f}")
finally:
    shutil.rmtree(work, ignore_errors=True)
ratio = statistics.median(relay_rates) / statistics.median(direct_rates)
p99 = statistics.median(p99s)
met = ratio >= 0.8 and p99 < 100 and lost_all == 0 and twice_all == 0
print(f"  median rate: direct {statistics.median(direct_rates):.0f}/s, relayed {statistics.median(relay_rates):.0f}/s;"
      f" median p99 {p99:.1f} ms; lost {lost_all}, twice {twice_all}")
print(f"  rate ratio relayed / direct (medians): {ratio:.2f}   goal >= 0.8, p99 < 100 ms, none lost or twice: "
      f"{'met' if met else 'NOT met'}")
