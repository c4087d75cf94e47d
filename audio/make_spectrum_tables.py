#!/usr/bin/env python3
"""Writes audio/spectrum_tables.cpp: every constant of the spectrum analysis that
would otherwise come from the maths library at run time (sine and cosine for the FFT
and the window, the mel scale's bin edges, the decibel steps).

Maths libraries may differ in the last bit of a sine or a logarithm (glibc's and the
WebAssembly build's do), and a last bit can flip a byte of the spectrum. So the values
are worked out here once, with 60-digit decimal arithmetic, rounded to the nearest
double, and kept in the repository: every build reads the same numbers.

Run from the repository's top: python3 audio/make_spectrum_tables.py
"""
from decimal import Decimal, getcontext
import os

getcontext().prec = 60

# The sizes and scale the analyser uses (audio/audio_spectrum.h).
WINDOW = 2048
SPECTRUM_BINS = 576
WORLD_BINS = 100
LOWEST_HZ, WORLD_TOP_HZ, HIGHEST_HZ = 20, 4000, 16000
FLOOR_DB = -80

PI = Decimal("3.14159265358979323846264338327950288419716939937510582097494459")


def cos(x):
    """Taylor series; |x| <= pi/2 here, so 80 terms are far more than enough."""
    term, total, n = Decimal(1), Decimal(1), 0
    while True:
        n += 2
        term = -term * x * x / (n * (n - 1))
        if abs(term) < Decimal(10) ** -58:
            return total
        total += term


def mel(hz):
    return 2595 * (1 + Decimal(hz) / 700).log10()


def hz(m):
    return 700 * (Decimal(10) ** (m / 2595) - 1)


def bin_edge(b):
    low, top, high = mel(LOWEST_HZ), mel(WORLD_TOP_HZ), mel(HIGHEST_HZ)
    if b <= WORLD_BINS:
        return hz(low + (top - low) * b / WORLD_BINS)
    return hz(top + (high - top) * (b - WORLD_BINS) / (SPECTRUM_BINS - WORLD_BINS))


def threshold(k):
    """Byte k or more when the power is at least this: the truncation of
    255 / 80 x (dBFS + 80), where a full-scale sine at a bin centre has
    |X| = (the window's sum) / 2 = WINDOW / 4, its power (WINDOW / 4)^2."""
    reference = Decimal(WINDOW // 4) ** 2
    db = Decimal(-FLOOR_DB) * k / 255 + FLOOR_DB
    return reference * Decimal(10) ** (db / 10)


def literal(value):
    return float(value).hex()


def table(name, count, values, comment):
    lines = [f"// {comment}", f"const double {name}[{count}] = {{"]
    row = []
    for v in values:
        row.append(literal(v) + ",")
        if len(row) == 3:
            lines.append("    " + " ".join(row))
            row = []
    if row:
        lines.append("    " + " ".join(row))
    lines.append("};")
    return "\n".join(lines)


def main():
    quarter = WINDOW // 4
    parts = [
        "// Written by audio/make_spectrum_tables.py: edit that, not this.",
        '#include "audio/spectrum_tables.h"',
        "",
        # The last is exactly 0 (cos pi / 2), not what is left of a 60-digit pi.
        table("kQuarterCosine", quarter + 1,
              (cos(2 * PI * k / WINDOW) if k < quarter else 0 for k in range(quarter + 1)),
              f"cos(2 pi k / {WINDOW}), k = 0 .. {quarter}: a quarter wave, the rest by symmetry."),
        "",
        table("kBinEdgeHz", SPECTRUM_BINS + 1, (bin_edge(b) for b in range(SPECTRUM_BINS + 1)),
              "The lower edge of each spectrum bin in Hz, and the top of the last."),
        "",
        table("kLevelThreshold", 255, (threshold(k) for k in range(1, 256)),
              "The FFT power at and above which a spectrum byte reads 1, 2, .. 255."),
        "",
    ]
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "spectrum_tables.cpp")
    with open(out, "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
