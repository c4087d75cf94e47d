#pragma once
// Where corvanta-sim's per-frame spectrum comes from: a recorded file, silence, or a
// built-in piece of synthetic "music".
#include <cstdint>
#include <string>
#include <vector>

#include "world/sound.h"

// Where a run's spectra come from: the built-in synthetic music, silence, a file of
// spectrum records, or an audio file analysed frame by frame (track_spectra.h).
enum class SpectrumKind { kSynthetic, kSilence, kFile, kAudio };

struct SpectrumSource {
  SpectrumKind kind = SpectrumKind::kSilence;
  std::vector<uint8_t> records;  // the whole file, read once
  size_t record_count = 0;
  uint8_t current[kSpectrumBytes] = {};
};

// Reads and checks the file (non-empty, whole 1152-byte records). False with a
// message naming the problem otherwise.
bool open_spectrum(SpectrumKind kind, const std::string& path, SpectrumSource& source, std::string& error);

// The spectrum of the frame that starts with frame_count == frame; files loop.
const uint8_t* spectrum_for_frame(SpectrumSource& source, int64_t frame);

// Deterministic and platform-independent (integer arithmetic only): a looping song of
// beats, a bass line, chords, hats, a drop and quiet passages.
void synthetic_spectrum(int64_t frame, uint8_t out[kSpectrumBytes]);
