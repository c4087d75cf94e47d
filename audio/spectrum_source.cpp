#include "audio/spectrum_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

uint32_t mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

// 0..255, reproducible per (frame, bin, voice).
int32_t noise(int64_t frame, int32_t bin, uint32_t voice) {
  uint32_t f = static_cast<uint32_t>(frame);
  return static_cast<int32_t>(mix(f * 0x9e3779b1u ^ static_cast<uint32_t>(bin) * 0x85ebca77u ^ voice) & 0xff);
}

int32_t clamp_byte(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

int32_t decay(int32_t start, int32_t per_frame, int32_t t) {
  int32_t v = start - per_frame * t;
  return v > 0 ? v : 0;
}

// A peak of height `height` at `centre`, falling linearly over `width` bins each side.
int32_t peak(int32_t bin, int32_t centre, int32_t height, int32_t width) {
  int32_t d = bin > centre ? bin - centre : centre - bin;
  return d >= width ? 0 : height * (width - d) / width;
}

// Timing at a nominal 30 frames a second: a beat every 16 frames (about 112 beats a
// minute), four beats a bar, eight bars a section, eight sections a song.
constexpr int32_t kBeat = 16;
constexpr int32_t kBar = 4 * kBeat;
constexpr int32_t kSection = 8 * kBar;
constexpr int32_t kSong = 8 * kSection;

enum Section { kIntro, kVerse, kChorus, kQuiet, kBuild, kDrop, kVerse2, kOutro };

struct Voices {
  int32_t gain;  // 0..256, master level of the section at this frame
  bool kick, snare, hats, bass, chords;
  int32_t kick_every;  // frames between kicks
};

Voices voices_at(int32_t section, int32_t in_section) {
  const int32_t ramp = in_section * 256 / kSection;  // 0..255 across the section
  switch (section) {
    case kIntro: return {96 + ramp / 4, false, false, true, false, true, kBeat};
    case kVerse: return {200, true, false, true, true, true, kBeat};
    case kChorus: return {256, true, true, true, true, true, kBeat};
    case kQuiet: return {40, false, false, false, false, true, kBeat};
    case kBuild: {
      // Kicks come closer together as the build rises into the drop.
      int32_t every = in_section < kSection / 2 ? kBeat : (in_section < 3 * kSection / 4 ? kBeat / 2 : kBeat / 4);
      return {120 + ramp / 2, true, in_section >= kSection / 2, true, false, true, every};
    }
    case kDrop:
      // The breath before the drop: two bars of silence.
      if (in_section < 2 * kBar) return {0, false, false, false, false, false, kBeat};
      return {256, true, true, true, true, true, kBeat};
    case kVerse2: return {210, true, true, false, true, true, kBeat};
    default: {
      // Fading out to a bar of silence before the song starts again.
      int32_t g = 200 - ramp * 200 / 256;
      if (in_section >= kSection - kBar) g = 0;
      return {g, true, false, false, true, true, kBeat};
    }
  }
}

}  // namespace

void synthetic_spectrum(int64_t frame, uint8_t out[kSpectrumBytes]) {
  const int64_t song = frame / kSong;
  const int32_t in_song = static_cast<int32_t>(frame % kSong);
  const int32_t section = in_song / kSection;
  const int32_t in_section = in_song % kSection;
  const int32_t bar = in_song / kBar;
  const int32_t beat = in_song / kBeat;
  const Voices v = voices_at(section, in_section);

  // Each pass through the song is transposed a little, so long runs are not one loop.
  const int32_t transpose = static_cast<int32_t>(mix(static_cast<uint32_t>(song) + 17u) % 5);
  static const int32_t kChordRoots[4] = {12, 17, 14, 19};  // bins of the chord roots
  static const int32_t kBassLine[8] = {3, 3, 5, 3, 6, 5, 4, 2};
  const int32_t root = kChordRoots[bar % 4] + transpose;
  const int32_t bass_bin = kBassLine[beat % 8] + transpose / 2;

  const int32_t t_kick = in_song % v.kick_every;
  const int32_t t_beat = in_song % kBeat;
  const int32_t t_half = in_song % (kBeat / 2);
  const int32_t t_bar = in_song % kBar;
  const bool snare_beat = (beat % 4) == 1 || (beat % 4) == 3;
  // Chords swell across the first half of each bar and sag across the second.
  const int32_t swell = t_bar < kBar / 2 ? 60 + t_bar * 2 : 60 + (kBar - t_bar) * 2;

  for (int32_t bin = 0; bin < kSpectrumChannelBytes; ++bin) {
    int32_t level = 0;
    if (v.kick) level += peak(bin, 1, decay(230, 30, t_kick), 12);
    if (v.bass) level += peak(bin, bass_bin, decay(150, 6, t_beat), 4);
    if (v.chords) {
      for (int32_t h = 1; h <= 5; ++h) level += peak(bin, root * h, swell / h, 3);
    }
    if (v.snare && snare_beat) {
      int32_t env = decay(140, 20, t_beat);
      if (bin >= 15 && bin < 90) level += env * noise(frame, bin, 1) / 255;
    }
    if (v.hats) {
      int32_t env = decay(90, 30, t_half);
      if (bin >= 45 && bin < 220) level += env * noise(frame, bin, 2) / 255;
    }
    // Higher bins are quieter, as in recorded music; a faint floor of noise under all.
    level = level * 256 / (256 + bin * 2);
    level = level * v.gain / 256;
    if (v.gain > 0) level += noise(frame, bin, 3) % 4;
    out[bin] = static_cast<uint8_t>(clamp_byte(level));
    // The second channel is the first, a touch different; the world reads only channel 0.
    out[kSpectrumChannelBytes + bin] = static_cast<uint8_t>(clamp_byte(level - (noise(frame, bin, 4) % 8)));
  }
}

bool open_spectrum(SpectrumKind kind, const std::string& path, SpectrumSource& source, std::string& error) {
  source.kind = kind;
  std::memset(source.current, 0, sizeof source.current);
  if (kind != SpectrumKind::kFile) return true;

  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot read spectrum file '" + path + "': " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    source.records.insert(source.records.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = "cannot read spectrum file '" + path + "'";
    return false;
  }
  if (source.records.empty()) {
    error = "spectrum file '" + path + "' is empty";
    return false;
  }
  if (source.records.size() % kSpectrumBytes != 0) {
    error = "spectrum file '" + path + "' holds " + std::to_string(source.records.size()) +
            " bytes, not a whole number of " + std::to_string(kSpectrumBytes) + "-byte records";
    return false;
  }
  source.record_count = source.records.size() / kSpectrumBytes;
  return true;
}

const uint8_t* spectrum_for_frame(SpectrumSource& source, int64_t frame) {
  switch (source.kind) {
    case SpectrumKind::kFile:
      return source.records.data() + static_cast<size_t>(frame % static_cast<int64_t>(source.record_count)) * kSpectrumBytes;
    case SpectrumKind::kSynthetic:
      synthetic_spectrum(frame, source.current);
      return source.current;
    case SpectrumKind::kSilence:
    default:
      return source.current;
  }
}
