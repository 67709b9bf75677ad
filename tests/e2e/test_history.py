"""The visit history of the real program: no visit older than a second is lost to kill -9, the next
run goes on with the same file, and a damaged file or a read-only data folder never stops visits."""
import glob
import os
import shutil
import signal
import sqlite3
import subprocess
import threading
import time

from vistelle_e2e import Program, free_port, poll, send

SETTINGS = {"SoundAlert": "0", "PopupAlert": "0", "usedyndns": "0"}


def stored_pages(home):
    path = os.path.join(home, ".local", "share", "vistelle", "history.sqlite3")
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    try:
        return [row[0] for row in db.execute(
            "SELECT p.text FROM visits v JOIN pages p ON p.id = v.page ORDER BY v.key")]
    finally:
        db.close()


def visit(port, page):
    send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: {page}\r\n\r\n".encode())


def start(settings, **kwargs):
    port = free_port()
    program = Program(settings={"ListenPort": str(port), **settings}, **kwargs).start()
    program.wait_line(f"Listening for connections on port: {port}")
    return program, port


def kill_during_burst():
    program, port = start(SETTINGS)
    closed = []  # (moment the program closed the connection, page)
    lock = threading.Lock()
    running = threading.Event()
    running.set()

    def client(n):
        i = 0
        while running.is_set():
            page = f"http://site.example/c{n}/{i}"
            try:
                visit(port, page)
            except OSError:
                return
            with lock:
                closed.append((time.monotonic(), page))
            i += 1

    clients = [threading.Thread(target=client, args=(n,)) for n in range(4)]
    for c in clients:
        c.start()
    time.sleep(3.0)
    killed_at = time.monotonic()
    program.proc.send_signal(signal.SIGKILL)
    program.proc.wait()
    running.clear()
    for c in clients:
        c.join()

    stored = set(stored_pages(program.home))
    old = [page for moment, page in closed if moment < killed_at - 1.0]
    missing = [page for page in old if page not in stored]
    print(f"kill -9 after {len(closed)} visits: {len(stored)} stored, {len(old)} older than 1 s, "
          f"{len(missing)} of those missing")
    assert old, "no visit was older than a second"
    assert not missing, missing[:10]

    # The next run goes on with the same file.
    again = Program(settings={"ListenPort": str(port), **SETTINGS}, home=program.home).start()
    try:
        again.wait_line(f"Listening for connections on port: {port}")
        visit(port, "http://site.example/after-restart")
        poll(lambda: "http://site.example/after-restart" in stored_pages(again.home), 5, "the visit after the restart")
        assert set(old) <= set(stored_pages(again.home))
        assert not [l for l in again.output() if "History not saved" in l], again.output()
    finally:
        assert again.stop() == 0


def damaged_file():
    home_program = Program(settings={})
    data = os.path.join(home_program.home, ".local", "share", "vistelle")
    os.makedirs(data, mode=0o700)
    garbage = os.urandom(3000) * 4
    with open(os.path.join(data, "history.sqlite3"), "wb") as f:
        f.write(garbage)
    program, port = start(SETTINGS, home=home_program.home)
    try:
        for i in range(3):
            visit(port, f"http://site.example/d{i}")
        lines = program.wait_line("History not saved: ")
        program.wait_for(lambda out: sum("Visit: " in l for l in out) == 3, 5, "three visit lines")
        poll(lambda: len(stored_pages(program.home)) == 3, 5, "three stored visits")
        time.sleep(0.5)
        notes = [l for l in program.output() if "History not saved: " in l]
        assert len(notes) == 1, notes
        kept = glob.glob(os.path.join(data, "history.sqlite3.damaged-*"))
        assert len(kept) == 1, os.listdir(data)
        with open(kept[0], "rb") as f:
            assert f.read() == garbage
        assert os.path.basename(kept[0]) in notes[0], notes
    finally:
        assert program.stop() == 0


def read_only_folder():
    home_program = Program(settings={})
    data = os.path.join(home_program.home, ".local", "share", "vistelle")
    os.makedirs(data, mode=0o700)
    prefix = ()
    if os.geteuid() == 0:
        # Root writes into any folder: a read-only bind mount in a mount namespace of its own.
        if not shutil.which("unshare") or subprocess.run(
                ["unshare", "-m", "true"], stderr=subprocess.DEVNULL).returncode != 0:
            print("read-only folder: skipped (no mount namespace for root)")
            return
        prefix = ("unshare", "-m", "sh", "-c",
                  'mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" && shift && exec "$@"', "sh", data)
    else:
        os.chmod(data, 0o500)
    program, port = start(SETTINGS, home=home_program.home, prefix=prefix)
    try:
        for i in range(3):
            visit(port, f"http://site.example/r{i}")
        program.wait_for(lambda out: sum("Visit: " in l for l in out) == 3, 5, "three visit lines")
        program.wait_line("History not saved: ")
        visit(port, "http://site.example/r3")
        program.wait_for(lambda out: sum("Visit: " in l for l in out) == 4, 5, "the fourth visit line")
        time.sleep(0.5)
        notes = [l for l in program.output() if "History not saved: " in l]
        assert len(notes) == 1, notes
        assert "Read-only file system" in notes[0] or "Permission denied" in notes[0], notes
    finally:
        assert program.stop() == 0
        os.chmod(data, 0o700)


def main():
    kill_during_burst()
    damaged_file()
    read_only_folder()
    print("ok")


if __name__ == "__main__":
    main()
