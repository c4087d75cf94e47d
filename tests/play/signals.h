#pragma once
// Test audio made in code, so the tests need no sample files and no extra tools.
// All of it interleaved stereo floats.
#include <cstdint>
#include <vector>

std::vector<float> tone_audio(int32_t rate, double hz, double seconds, double amplitude);
// Exponential sweep: equal time per octave.
std::vector<float> sweep_audio(int32_t rate, double from_hz, double to_hz, double seconds, double amplitude);
// Music-like: kick, snare, hats, a bass line, chords and a singing line at 120 beats a
// minute, in sections of eight bars that differ in loudness and in which voices play,
// with a quiet break. Deterministic.
// `from` seconds into the song: 0 starts with the quiet intro, 32 with the chorus.
std::vector<float> music_audio(int32_t rate, double seconds, double from = 0.0);
