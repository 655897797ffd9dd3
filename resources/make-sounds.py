#!/usr/bin/env python3
"""Writes the two notification sounds as small WAV files:
Sentorix.sound (a document changed: two rising tones) and
Sentorix.alert (a document could not be retrieved: two low tones)."""
import math
import struct
import sys
import wave

RATE = 22050


def tone(freqs, length=0.14, gap=0.05, volume=0.5):
    samples = []
    for f in freqs:
        n = int(RATE * length)
        for i in range(n):
            fade = min(1.0, i / 200, (n - i) / 200)
            samples.append(volume * fade * math.sin(2 * math.pi * f * i / RATE))
        samples.extend([0.0] * int(RATE * gap))
    return samples


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


folder = sys.argv[1] if len(sys.argv) > 1 else "."
write(f"{folder}/Sentorix.sound", tone([660, 880]))
write(f"{folder}/Sentorix.alert", tone([330, 247], length=0.2))
