"""Visits through an MQTT broker (a real mosquitto on loopback, TLS, passwords, ACL): a vistelled
publisher, two headless desktops subscribing. Every visit reaches each desktop once, in order, with
its fields; also when the broker, a desktop or the publisher is killed in the middle of a burst."""
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import threading
import time

from relay_broker import PASSWORD, Broker
from vistelle_e2e import Program, free_port, poll, send

TOPIC = "vistelle/mysite"


def history(program):
    return os.path.join(program.home, ".local", "share", "vistelle", "history.sqlite3")


def stored(program):
    """(relay id, page) of the relayed visits in a desktop's history, in key order."""
    if not os.path.exists(history(program)):
        return []
    try:
        db = sqlite3.connect(f"file:{history(program)}?mode=ro", uri=True)
        try:
            return db.execute("SELECT v.relay, p.text FROM visits v JOIN pages p ON p.id=v.page"
                              " WHERE v.kind=3 ORDER BY v.key").fetchall()
        finally:
            db.close()
    except sqlite3.Error:
        return []  # not there yet, or being created


def publisher(broker, home=None):
    """A started again program (home given) keeps its settings, and with them its installation id."""
    port = free_port()
    program = Program(settings=None if home else {
                          "ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0",
                          "RelayPublishURL": broker.url("site", TOPIC), "RelayPassword": PASSWORD,
                          "RelayCaFile": broker.ca},
                      args=(), binary=os.environ["VISTELLED_BIN"], home=home)
    program.port = port
    # A country file of the site's own, so that the visits have a country to relay.
    data = os.path.join(program.home, ".local", "share", "vistelle")
    os.makedirs(data, exist_ok=True)
    with open(os.path.join(data, "GeoIPCountryWhois.csv"), "w", encoding="utf-8") as f:
        f.write('"127.0.0.0","127.255.255.255",2130706432,2147483647,"ZZ",Loopback Land\n')
    return program


def desktop(broker, home=None):
    program = Program(settings=None if home else {
                          "ListenPort": str(free_port()), "usedyndns": "0", "SoundAlert": "0",
                          "RelaySubscribeURL": broker.url("desk", "vistelle/+"),
                          "RelayPassword": PASSWORD, "RelayCaFile": broker.ca},
                      home=home)
    return program


def relayed(program):
    return [l.split("Relayed visit: ", 1)[1] for l in program.output() if "Relayed visit: " in l]


def visit(port, n):
    send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:128.0) "
               f"Gecko/20100101 Firefox/128.0\r\nReferer: http://site.example/p{n}.html\r\n\r\n".encode())


def burst(port, numbers, clients=8):
    numbers = list(numbers)
    chunks = [numbers[i::clients] for i in range(clients)]
    threads = [threading.Thread(target=lambda c=c: [visit(port, n) for n in c]) for c in chunks]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def connected(program):
    program.wait_line("Relay (receiving): connected" if "--headless" in program.args
                      else "Relay (publishing): connected", timeout=20)


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmRSS:")) / 1024


def hostile():
    """Whatever else is published on the topic: dropped or made plain, noted once, and the desktop
    stays responsive with bounded memory."""
    broker = Broker().start()
    desk = desktop(broker)
    try:
        desk.start()
        connected(desk)
        port = int(next(l for l in desk.output() if "Listening for connections on port: " in l).rsplit(" ", 1)[1])
        pub = ["mosquitto_pub", "-V", "mqttv5", "-h", "localhost", "-p", str(broker.port), "--cafile", broker.ca,
               "-u", "site", "-P", PASSWORD, "-t", f"{TOPIC}/visits", "-q", "1"]
        good = ('{"v":1,"id":"%s","time":"2026-12-09T10:15:02.123Z","address":"203.0.113.7",'
                '"page":"http://e.example/\u001b]0;owned\u0007\u202e","country":"DE","countryName":"Germany",'
                '"tls":true,"host":"visits.example"}')
        for message in ("x" * 20000, "{not json", '{"v":1,"id":5,"time":"2026-12-09T10:15:02.123Z"}',
                        '[1,2,3]', good % ("a" * 32)):
            subprocess.run(pub + ["-m", message], check=True, timeout=20)
        desk.wait_line("Relayed visit: 203.0.113.7 -> http://e.example/\ufffd]0;owned\ufffd\ufffd")
        # 10,000 messages that are no visits, as fast as the broker takes them.
        flood = subprocess.run(pub + ["-l"], input="\n".join(f'{{"v":1,"id":"{i}"}}' for i in range(10000)) + "\n",
                               text=True, timeout=60)
        assert flood.returncode == 0
        # The desktop still takes visits at once.
        send(port, b"GET / HTTP/1.1\r\nReferer: http://own.example/after-flood\r\n\r\n")
        desk.wait_line("-> http://own.example/after-flood", timeout=10)
        assert rss_mb(desk.proc.pid) < 300, rss_mb(desk.proc.pid)
        dropped = [l for l in desk.output() if "Relay: dropped" in l]
        assert len(dropped) == 1, dropped
        relayed_lines = [l for l in desk.output() if "Relayed visit: " in l]
        assert len(relayed_lines) == 1, relayed_lines
    finally:
        desk.stop()
        broker.cleanup()


def main():
    try:
        broker = Broker().start()
    except FileNotFoundError:
        print("mosquitto is not installed: skipped")
        return 77
    programs = []
    try:
        hostile()  # within the try: a failure there stops this broker too
        pub = publisher(broker).start()
        a = desktop(broker).start()
        b = desktop(broker).start()
        programs += [pub, a, b]
        for p in programs:
            connected(p)
        pub.wait_line(f"Listening for connections on port: {pub.port}")
        broker.wait_a_save()  # the desktops' sessions are on the broker's disk

        # 1,000 visits, one client after the other, so their order is known: each desktop gets each
        # once, in order, with its fields. Another tool reading the topic sees the JSON object.
        other = subprocess.Popen(["mosquitto_sub", "-V", "mqttv5", "-h", "localhost", "-p", str(broker.port),
                                  "--cafile", broker.ca, "-u", "desk", "-P", PASSWORD, "-t", f"{TOPIC}/visits",
                                  "-C", "1", "-W", "30", "-i", "relay-test-reader"], stdout=subprocess.PIPE, text=True)
        poll(lambda: "as relay-test-reader" in open(os.path.join(broker.dir, "broker.log")).read(), timeout=10,
             what="the other reader connected")
        for n in range(1000):
            visit(pub.port, n)
        message = json.loads(other.communicate(timeout=30)[0])
        assert re.fullmatch(r"[0-9a-f]{32}", message.pop("id")), message
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", message.pop("time")), message
        assert re.fullmatch(r"http://site\.example/p\d+\.html", message.pop("page")), message
        assert message == {"v": 1, "address": "127.0.0.1", "country": "ZZ",
                           "countryName": "Loopback Land", "tls": False, "host": "me"}, message
        for d in (a, b):
            d.wait_for(lambda ls: sum("Relayed visit: " in l for l in ls) >= 1000, timeout=60, what="1,000 visits")
            assert relayed(d) == [f"127.0.0.1 -> http://site.example/p{n}.html" for n in range(1000)], relayed(d)[:5]
        lists = [l for l in a.output() if l.startswith("List: ")]
        assert lists and lists[-1].endswith("| 127.0.0.1 Loopback Land (relayed) | http://site.example/p999.html"), \
            lists[-1:]
        poll(lambda: len(stored(a)) == 1000, timeout=10, what="the desktop's history")
        rows = stored(a)
        assert len({r[0] for r in rows}) == 1000 and rows[0][1] == "http://site.example/p0.html", rows[:2]

        # The broker killed (SIGKILL) in the middle of a burst and started again.
        killer = threading.Timer(0.3, broker.kill)
        killer.start()
        burst(pub.port, range(1000, 1600))
        killer.join()
        pub.wait_line("Relay (publishing): retrying")
        broker.start()
        # The broker away for a minute (VISTELLE_RELAY_OUTAGE_S) while visits come: they wait in the
        # publisher's history and arrive afterwards; the log tells of the outage once.
        broker.wait_a_save()
        broker.stop()
        outage_start = time.monotonic()
        burst(pub.port, range(1600, 1700))
        pub.wait_line("Relay (publishing): retrying")
        time.sleep(max(0.0, float(os.environ.get("VISTELLE_RELAY_OUTAGE_S", "60")) - (time.monotonic() - outage_start)))
        broker.start()
        for d in (a, b):
            d.wait_for(lambda ls: "127.0.0.1 -> http://site.example/p1699.html" in relayed(d), timeout=40,
                       what="the visits of the outage")
        retrying = [l for l in pub.output() if "Relay (publishing): retrying" in l]
        assert len(retrying) <= 3, retrying
        # A desktop killed in the middle of a burst, started again a little later.
        burst_done = threading.Event()
        def kill_b():
            poll(lambda: len(relayed(b)) > 1800 or burst_done.is_set(), timeout=30, what="b's first visits")
            b.proc.send_signal(signal.SIGKILL)
        killer = threading.Thread(target=kill_b)
        killer.start()
        burst(pub.port, range(1700, 2600))
        burst_done.set()
        killer.join()
        b.proc.wait()
        b_home = b.home
        # The publisher killed in the middle of a burst and started again.
        def kill_pub():
            poll(lambda: len(relayed(a)) > 2700, timeout=30, what="a's visits of the last burst")
            pub.proc.send_signal(signal.SIGKILL)
        killer = threading.Thread(target=kill_pub)
        killer.start()
        try:
            burst(pub.port, range(2600, 3200))
        except OSError:
            pass  # the visits that met the killed publisher are not its to send
        killer.join()
        pub.proc.wait()
        pub2 = publisher(broker, home=pub.home).start()
        pub2.port = pub.port
        programs.append(pub2)
        b2 = desktop(broker, home=b_home).start()
        programs.append(b2)

        # What the publisher's history holds reaches both desktops, each visit once.
        db = sqlite3.connect(f"file:{history(pub2)}?mode=ro", uri=True)
        pages = {p for (p,) in db.execute("SELECT p.text FROM visits v JOIN pages p ON p.id=v.page")}
        db.close()
        assert len(pages) >= 2600, len(pages)
        for d in (a, b2):
            poll(lambda: {p for (_, p) in stored(d)} >= pages, timeout=60, what="every visit of the history")
            rows = stored(d)
            ids, texts = [r[0] for r in rows], [r[1] for r in rows]
            twice = sorted({t for t in texts if texts.count(t) > 1})[:5]
            assert len(rows) == len(set(ids)) == len(set(texts)), \
                f"counted twice: {len(rows)} rows, {len(set(ids))} ids, {len(set(texts))} pages, e.g. {twice}"
        # The inbox was written from the first start on (before the history made the data folder).
        for d in (a, b2):
            assert not [l for l in d.output() if "Relay: cannot write" in l], d.output()[:8]
        # b's backlog (the visits of its absence) was announced once.
        b2.wait_line("visits while you were away")
        away = [l for l in b2.output() if "while you were away" in l]
        assert len(away) == 2 and away[1].startswith("Popup: "), away
    finally:
        for p in programs:
            p.stop()
        broker.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
