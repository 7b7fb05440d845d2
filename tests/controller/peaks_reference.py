#!/usr/bin/env python3
"""Peak and RMS of N equal columns of an audio file, from ffmpeg's own decode (mono, 16 bits).

usage: peaks_reference.py FILE N   -> N lines "peak<TAB>rms" (fractions of full scale)
"""
import array
import math
import subprocess
import sys

path, width = sys.argv[1], int(sys.argv[2])
raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-ac", "1", "-"],
                     check=True, stdout=subprocess.PIPE).stdout
samples = array.array("h")
samples.frombytes(raw[: len(raw) // 2 * 2])
n = len(samples)
for c in range(width):
    part = samples[c * n // width:(c + 1) * n // width]
    peak = max((abs(s) for s in part), default=0) / 32768
    rms = math.sqrt(sum(s * s for s in part) / max(len(part), 1)) / 32768
    print(f"{peak:.5f}\t{rms:.5f}")
