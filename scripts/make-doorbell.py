#!/usr/bin/env python3
"""Writes data/doorbell.wav: a short two-tone chime ("ding-dong"), 22050 Hz, mono, 16-bit.

Standard library only; the result is committed, so this runs only when the sound is redesigned:
    python3 scripts/make-doorbell.py [output.wav]
"""
import math
import struct
import sys
import wave
from pathlib import Path

RATE = 22050
LENGTH_S = 1.6
# (start s, fundamental Hz, level): a bright E6 strike, then a lower C6.
STRIKES = [(0.00, 1318.5, 0.55), (0.42, 1046.5, 0.60)]
# Partials of a small bell (relative frequency, relative level, decay per second).
PARTIALS = [(1.0, 1.0, 3.2), (2.0, 0.35, 5.0), (3.01, 0.18, 7.5), (4.17, 0.08, 10.0)]


def sample(t):
    value = 0.0
    for start, freq, level in STRIKES:
        age = t - start
        if age < 0:
            continue
        attack = min(1.0, age / 0.004)  # 4 ms attack, no click
        for ratio, rel, decay in PARTIALS:
            value += level * rel * attack * math.exp(-decay * age) * math.sin(2 * math.pi * freq * ratio * age)
    return value


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "data" / "doorbell.wav"
    count = int(RATE * LENGTH_S)
    raw = [sample(i / RATE) for i in range(count)]
    peak = max(abs(v) for v in raw) or 1.0
    fade = int(RATE * 0.05)
    frames = bytearray()
    for i, v in enumerate(raw):
        if i > count - fade:
            v *= (count - i) / fade
        frames += struct.pack("<h", int(round(v / peak * 0.8 * 32767)))
    with wave.open(str(out), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))
    print(f"{out}: {count} frames, {count / RATE:.2f} s")


if __name__ == "__main__":
    main()
