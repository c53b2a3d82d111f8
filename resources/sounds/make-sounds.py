#!/usr/bin/env python3
"""Synthesises Brindle's three alarm sounds into this folder: bell.wav, chime.wav, digital.wav.

Only the standard library is used, and the output is the same on every run, so the committed
files can be checked against the script. Every sound starts and ends at silence with short
fades, because an alarm loops its sound and a jump at the seam would be heard as a click.

Run: python3 resources/sounds/make-sounds.py
"""

import math
import struct
import wave
from pathlib import Path

RATE = 22050
PEAK = 0.7  # about -3 dBFS, leaving headroom for the desktop's mixer
TAU = 2.0 * math.pi


def ramp(n, length):
    """A raised-cosine fade factor, 0 at n = 0 and 1 from n = length on."""
    if n >= length:
        return 1.0
    return 0.5 - 0.5 * math.cos(math.pi * n / length)


def seconds(s):
    return int(round(s * RATE))


def edges(samples, attack, release):
    """Fades the first `attack` and last `release` seconds so the loop seam is silent."""
    a, r = seconds(attack), seconds(release)
    total = len(samples)
    return [x * ramp(i, a) * ramp(total - 1 - i, r) for i, x in enumerate(samples)]


def normalise(samples):
    top = max(abs(x) for x in samples) or 1.0
    return [x * PEAK / top for x in samples]


def struck(frequency, partials, length, start=0.0):
    """An inharmonic struck tone: (ratio, amplitude, decay time in seconds) per partial.

    Each partial is doubled with a slightly detuned twin; the slow beating between them is the
    shimmer that makes a bell sound like metal rather than an organ.
    """
    out = [0.0] * seconds(length)
    first = seconds(start)
    attack = seconds(0.002)  # a mallet, not a discontinuity: no broadband click at the strike
    for ratio, amplitude, decay in partials:
        f = frequency * ratio
        if f * 1.01 >= RATE / 2:
            continue
        for twin, detune in ((1.0, 0.0), (0.6, 0.7 + 0.3 * ratio)):
            w = TAU * (f + detune) / RATE
            for n in range(len(out) - first):
                t = n / RATE
                envelope = math.exp(-t / decay) * ramp(n, attack)
                out[first + n] += twin * amplitude * envelope * math.sin(w * n)
    return out


def bell():
    # Ratios close to a cast bell's hum, prime, tierce, quint, nominal and upper partials; the
    # upper ones die away first, leaving the low hum ringing on.
    partials = [
        (0.5, 0.55, 1.10),
        (1.0, 0.80, 0.80),
        (1.183, 0.50, 0.55),
        (1.506, 0.30, 0.45),
        (2.0, 0.60, 0.40),
        (2.514, 0.25, 0.25),
        (2.662, 0.20, 0.22),
        (3.011, 0.18, 0.18),
        (4.166, 0.12, 0.12),
        (5.433, 0.08, 0.08),
    ]
    samples = struck(587.33, partials, 2.4)
    return edges(normalise(samples), attack=0.002, release=0.25)


def chime():
    # Three falling notes (G6, E6, C6) of a light, nearly harmonic tubular chime.
    partials = [(1.0, 1.0, 0.45), (2.76, 0.25, 0.15), (5.40, 0.10, 0.06)]
    samples = [0.0] * seconds(2.0)
    for start, frequency in ((0.0, 1567.98), (0.32, 1318.51), (0.64, 1046.50)):
        note = struck(frequency, partials, 2.0 - start)
        for n, x in enumerate(note):
            samples[seconds(start) + n] += x
    return edges(normalise(samples), attack=0.002, release=0.2)


def digital():
    # The alarm clock's beep-beep-beep-beep and a pause: a 2 kHz square wave built from its odd
    # harmonics below the Nyquist frequency, so it stays free of aliasing.
    frequency = 2048.0
    harmonics = [k for k in range(1, 40, 2) if frequency * k < RATE / 2 * 0.95]
    beep, gap, count = 0.07, 0.05, 4
    samples = [0.0] * seconds(1.2)
    fade = seconds(0.004)
    for b in range(count):
        first = seconds(b * (beep + gap))
        length = seconds(beep)
        for n in range(length):
            value = sum(math.sin(TAU * frequency * k * n / RATE) / k for k in harmonics)
            samples[first + n] = value * ramp(n, fade) * ramp(length - 1 - n, fade)
    return normalise(samples)


def write(path, samples):
    frames = b"".join(struct.pack("<h", max(-32767, min(32767, int(round(x * 32767))))) for x in samples)
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)


def main():
    folder = Path(__file__).resolve().parent
    for name, make in (("bell", bell), ("chime", chime), ("digital", digital)):
        write(folder / f"{name}.wav", make())


if __name__ == "__main__":
    main()
