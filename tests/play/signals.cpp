#include "signals.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A fixed noise source; std:: distributions differ between library versions.
struct Noise {
  uint32_t state = 12345u;
  float next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
  }
};

double note_hz(int32_t semitones_from_a4) { return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0); }

}  // namespace

std::vector<float> tone_audio(int32_t rate, double hz, double seconds, double amplitude) {
  const int64_t frames = static_cast<int64_t>(seconds * rate);
  std::vector<float> out(static_cast<size_t>(2 * frames));
  for (int64_t i = 0; i < frames; ++i) {
    const float v = static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / rate));
    out[static_cast<size_t>(2 * i)] = v;
    out[static_cast<size_t>(2 * i + 1)] = v;
  }
  return out;
}

std::vector<float> sweep_audio(int32_t rate, double from_hz, double to_hz, double seconds, double amplitude) {
  const int64_t frames = static_cast<int64_t>(seconds * rate);
  const double k = std::log(to_hz / from_hz) / seconds;
  std::vector<float> out(static_cast<size_t>(2 * frames));
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2.0 * kPi * from_hz * (std::exp(k * t) - 1.0) / k;
    const float v = static_cast<float>(amplitude * std::sin(phase));
    out[static_cast<size_t>(2 * i)] = v;
    out[static_cast<size_t>(2 * i + 1)] = v;
  }
  return out;
}

std::vector<float> music_audio(int32_t rate, double seconds, double from) {
  const int64_t frames = static_cast<int64_t>(seconds * rate);
  std::vector<float> out(static_cast<size_t>(2 * frames));
  Noise noise;
  const double beat = 0.5;  // seconds
  const int32_t bass_line[8] = {-33, -33, -28, -28, -31, -31, -26, -29};
  const int32_t chords[4][3] = {{-12, -8, -5}, {-7, -3, 0}, {-10, -7, -3}, {-9, -5, -2}};
  const int32_t melody[16] = {0, 3, 7, 5, 3, 2, 0, -2, 0, 3, 5, 7, 10, 7, 5, 3};
  double voice_phase = 0.0;
  for (int64_t i = 0; i < frames; ++i) {
    const double t = from + static_cast<double>(i) / rate;
    const int64_t beat_index = static_cast<int64_t>(t / beat);
    const double in_beat = t - beat_index * beat;
    const int64_t bar = beat_index / 4;
    const int64_t section = (bar / 8) % 6;  // 0 intro, 1 verse, 2 chorus, 3 break, 4 verse, 5 chorus
    const bool drums = section != 0 && section != 3;
    const double gain = section == 3 ? 0.25 : (section == 2 || section == 5 ? 1.0 : 0.7);

    double left = 0.0;
    double right = 0.0;
    if (drums) {
      // Kick on every beat: a falling sine.
      const double kick_hz = 50.0 + 100.0 * std::exp(-in_beat * 30.0);
      const double kick = std::sin(2.0 * kPi * kick_hz * in_beat) * std::exp(-in_beat * 8.0);
      // Snare on beats 2 and 4, hats on every half beat.
      const double snare = (beat_index % 2 == 1) ? (noise.next() * 0.6 + std::sin(2.0 * kPi * 190.0 * in_beat) * 0.4) *
                                                       std::exp(-in_beat * 18.0)
                                                 : 0.0;
      const double half = std::fmod(in_beat, beat / 2);
      const double hat = noise.next() * std::exp(-half * 60.0) * 0.25;
      left += 0.5 * kick + 0.3 * snare + 0.6 * hat;
      right += 0.5 * kick + 0.3 * snare + 0.4 * hat;
    }
    if (section != 0) {
      const double bass_hz = note_hz(bass_line[(beat_index / 2) % 8]);
      const double bass = std::sin(2.0 * kPi * bass_hz * t) + 0.3 * std::sin(4.0 * kPi * bass_hz * t);
      left += 0.25 * bass;
      right += 0.25 * bass;
    }
    const int32_t* chord = chords[bar % 4];
    double pad = 0.0;
    for (int32_t n = 0; n < 3; ++n) pad += std::sin(2.0 * kPi * note_hz(chord[n]) * t);
    left += 0.06 * pad;
    right += 0.08 * pad;
    if (section == 1 || section == 2 || section == 4 || section == 5) {
      // A voice: a melody with vibrato and a few harmonics, swelling on each note.
      const double hz = note_hz(melody[beat_index % 16]) * (1.0 + 0.01 * std::sin(2.0 * kPi * 5.5 * t));
      voice_phase += 2.0 * kPi * hz / rate;
      const double swell = std::sin(kPi * in_beat / beat);
      const double voice =
          (std::sin(voice_phase) + 0.5 * std::sin(2.0 * voice_phase) + 0.25 * std::sin(3.0 * voice_phase)) * swell;
      left += 0.12 * voice;
      right += 0.14 * voice;
    }
    out[static_cast<size_t>(2 * i)] = static_cast<float>(0.6 * gain * left);
    out[static_cast<size_t>(2 * i + 1)] = static_cast<float>(0.6 * gain * right);
  }
  return out;
}
