#pragma once
// The analyser's constants, computed once to 60 digits and kept in the repository
// (audio/make_spectrum_tables.py), so that every build, native or WebAssembly,
// reads the same doubles instead of its own maths library's last bits.

// cos(2 pi k / 2048) for k = 0 .. 512.
extern const double kQuarterCosine[513];
// Mel-scale bin edges in Hz: bin b covers [kBinEdgeHz[b], kBinEdgeHz[b + 1]).
extern const double kBinEdgeHz[577];
// A bin reads byte k (1 .. 255) or more when its FFT power is at least
// kLevelThreshold[k - 1].
extern const double kLevelThreshold[255];
