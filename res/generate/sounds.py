#!/usr/bin/env python3
"""Synthesises the two bundled sound schemes, "Classic" and "Chimes": start,
erase, loop, error, done and fail, each a 16-bit PCM mono WAV at 22050 Hz, into
OUT/sounds/<scheme>/ (OUT defaults to res/).

Only the Python standard library is used, and the output is deterministic. The
WAV files it writes are committed; the build uses them as they are, so run this
only after changing a sound:

    python3 res/generate/sounds.py [OUT]

erase and loop repeat while the device erases and writes: every partial and the
envelope complete whole cycles within the file, so the repeat joins without a
click. Every other sound fades in and out, so it starts and ends in silence.
"""

import math
import os
import struct
import sys
import wave

RES = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RATE = 22050  # samples per second
PEAK = 0.7  # every sound is scaled to this fraction of full scale


def write_wav(path, samples):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    peak = max(1e-9, max(abs(s) for s in samples))
    scale = PEAK * 32767 / peak
    frames = b"".join(struct.pack("<h", int(round(s * scale))) for s in samples)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)
    print(f"  {path}  {len(samples) / RATE:.2f} s")


# ---------------------------------------------------------------- synthesis


def fade(samples, ms=8):
    n = min(len(samples) // 2, int(RATE * ms / 1000))
    for i in range(n):
        g = i / n
        samples[i] *= g
        samples[-1 - i] *= g
    return samples


def tone(freq, seconds, partials=((1, 1.0),), decay=0.0):
    n = int(RATE * seconds)
    return [sum(a * math.sin(2 * math.pi * freq * k * i / RATE) for k, a in partials)
            * math.exp(-decay * i / RATE) for i in range(n)]


def sequence(notes, partials=((1, 1.0),), decay=0.0, gap=0.02):
    samples = []
    for freq, seconds in notes:
        samples += fade(tone(freq, seconds, partials, decay))
        samples += [0.0] * int(RATE * gap)
    return samples


def seamless(freqs, seconds, pulses):
    """Whole numbers of cycles of every frequency and of the pulse envelope."""
    n = int(RATE * seconds)
    return [sum(math.sin(2 * math.pi * f * i / RATE) for f in freqs)
            * (0.55 + 0.45 * math.cos(2 * math.pi * pulses * i / n)) for i in range(n)]


SQUARE = ((1, 1.0), (3, 0.33), (5, 0.2))
BELL = ((1, 1.0), (2.76, 0.5), (5.4, 0.25))
REPEATING = ("erase", "loop")


def schemes():
    return {
        "Classic": {
            "start": sequence([(660, 0.12), (880, 0.18)], SQUARE),
            "erase": seamless([220, 330], 1.0, 2),
            "loop": seamless([440], 0.5, 4),
            "error": sequence([(330, 0.18), (220, 0.3)], SQUARE),
            "done": sequence([(523, 0.12), (659, 0.12), (784, 0.12), (1047, 0.3)], SQUARE),
            "fail": sequence([(392, 0.2), (311, 0.2), (196, 0.45)], SQUARE),
        },
        "Chimes": {
            "start": sequence([(784, 0.5)], BELL, decay=6.0),
            "erase": seamless([262, 393], 1.0, 1),
            "loop": seamless([524, 784], 0.5, 2),
            "error": sequence([(466, 0.25), (440, 0.45)], BELL, decay=5.0),
            "done": sequence([(1047, 0.3), (1319, 0.3), (1568, 0.6)], BELL, decay=4.0),
            "fail": sequence([(587, 0.35), (415, 0.8)], BELL, decay=3.0),
        },
    }


# ---------------------------------------------------------------- main


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    if len(args) > 1 or (args and args[0].startswith("-")):
        sys.exit("usage: sounds.py [OUT]  (default: res/)")
    out = os.path.join(args[0] if args else RES, "sounds")
    print(f"sounds.py: writing the sound schemes into {out}")
    for scheme, sounds in schemes().items():
        for name, samples in sounds.items():
            if name not in REPEATING:
                samples = fade(samples)
            write_wav(os.path.join(out, scheme, name + ".wav"), samples)
    print("sounds.py: done")


if __name__ == "__main__":
    main()
