"""A visit's sound, end to end: the real program plays through ALSA's default device into a
PulseAudio server of the test's own, and the test records the null sink's monitor.

- a page without a matching rule plays the default sound (the doorbell: about 1.6 s);
- a page that a rule matches plays the rule's sound;
- a second visit at once cuts the first visit's sound off;
- with "SoundAlert" 0 nothing plays.
Exits 77 (skipped) only when pulseaudio cannot start at all."""
import math
import os
import socket
import struct
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from pulse import PulseServer  # noqa: E402
from vistelle_e2e import Program, free_port, poll, send  # noqa: E402

ALPHA_HZ, ALPHA_S = 440.0, 3.0  # long: a cut stays visible on a slow machine
BETA_HZ, BETA_S = 880.0, 0.6


def write_tone(path, hz, seconds, rate=22050):
    frames = bytearray()
    count = int(rate * seconds)
    fade = int(rate * 0.005)
    for i in range(count):
        level = min(1.0, i / fade, (count - 1 - i) / fade)
        frames += struct.pack("<h", int(round(16000 * level * math.sin(2 * math.pi * hz * i / rate))))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def start_program(pulse, settings):
    port = free_port()
    program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "PopupAlert": "0", **settings})
    program.env = pulse.client_env(program.home, base=program.env)
    program.start()
    program.wait_line(f"Listening for connections on port: {port}")
    # The line comes just before the socket listens; a connection that sends nothing is no visit.
    poll(lambda: accepts(port), 10, "the listening socket")
    return program, port


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except ConnectionRefusedError:
        return False


def visit(program, port, page, count):
    send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: {page}\r\n\r\n".encode())
    program.wait_for(lambda lines: sum("Visit: " in l for l in lines) >= count, what=f"visit {count}")


def near(value, expected, tolerance):
    return abs(value - expected) <= tolerance


def rules_default_and_cut(pulse, sounds):
    alpha = os.path.join(sounds, "alpha tone.wav")  # a blank in the name on purpose
    beta = os.path.join(sounds, "beta.wav")
    write_tone(alpha, ALPHA_HZ, ALPHA_S)
    write_tone(beta, BETA_HZ, BETA_S)
    # One doorbell a second at most (the shortest window), so the visits below each ring.
    program, port = start_program(pulse, {
        "Contains0": "/alpha/", "CSound0": alpha,
        "Contains1": "/beta/", "CSound1": beta,
        "AlertWindowSeconds": "1",
    })
    try:
        with pulse.recording() as rec:
            visit(program, port, "http://site.example/index.html", 1)
            time.sleep(2.4)
            visit(program, port, "http://site.example/alpha/p.html", 2)
            time.sleep(ALPHA_S + 0.6)
            visit(program, port, "http://site.example/alpha/q.html", 3)
            time.sleep(1.2)
            visit(program, port, "http://site.example/beta/r.html", 4)
            time.sleep(1.5)
    finally:
        code = program.stop()
    assert code == 0, f"exit code {code}"
    bursts = rec.bursts()
    described = "; ".join(f"at {s:.2f} s: {n:.2f} s, {h:.0f} Hz to {t:.0f} Hz" for s, n, h, t in bursts)
    print(f"recorded {rec.seconds():.1f} s: {described}")
    assert len(bursts) == 3, described
    doorbell, rule, cut = bursts
    # The default sound: the doorbell's 1.6 s (its quiet fade-out ends a little earlier), ending on
    # its second strike, C6.
    assert 1.35 <= doorbell[1] <= 1.7 and near(doorbell[3], 1046.5, 60), described
    # The rule's sound: the whole tone.
    assert near(rule[1], ALPHA_S, 0.1) and near(rule[2], ALPHA_HZ, 25) and near(rule[3], ALPHA_HZ, 25), described
    # Cut off: the first tone for about 0.3 s, then the second whole; far shorter than both in a row
    # (or the first alone).
    assert near(cut[2], ALPHA_HZ, 25) and near(cut[3], BETA_HZ, 40), described
    assert BETA_S + 0.1 <= cut[1] <= ALPHA_S - 0.3, described


def burst_rings_once(pulse):
    # Fifty visits at once: one doorbell, not fifty (the default window of 10 s).
    program, port = start_program(pulse, {})
    try:
        with pulse.recording() as rec:
            for i in range(50):
                send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/{i}.html\r\n\r\n"
                     .encode())
            program.wait_for(lambda lines: sum("Visit: " in l for l in lines) >= 50, what="fifty visits")
            time.sleep(2.5)
    finally:
        code = program.stop()
    assert code == 0, f"exit code {code}"
    bursts = rec.bursts()
    assert 1 <= len(bursts) <= 2, bursts
    print(f"fifty visits: {len(bursts)} doorbell(s)")


def silent_when_sound_is_off(pulse):
    program, port = start_program(pulse, {"SoundAlert": "0"})
    try:
        with pulse.recording() as rec:
            visit(program, port, "http://site.example/index.html", 1)
            time.sleep(2.0)
    finally:
        code = program.stop()
    assert code == 0, f"exit code {code}"
    assert rec.seconds() >= 1.5, rec.seconds()
    assert rec.bursts() == [], rec.bursts()
    print(f"SoundAlert 0: {rec.seconds():.1f} s of silence")


def main():
    with PulseServer() as pulse, tempfile.TemporaryDirectory(prefix="vistelle-sounds-") as sounds:
        rules_default_and_cut(pulse, sounds)
        burst_rings_once(pulse)
        silent_when_sound_is_off(pulse)
    return 0


if __name__ == "__main__":
    sys.exit(main())
