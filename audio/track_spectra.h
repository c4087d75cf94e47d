#pragma once
// corvanta-sim's audio input: a decoded track and its analyser, giving the spectrum of
// any video frame exactly as corvanta-play computes it while playing. In a build
// without libsndfile, opening says so instead.
#include <cstdint>
#include <string>

#include "audio/audio_spectrum.h"
#include "audio/audio_file.h"

struct TrackSpectra {
  AudioTrack track;
  SpectrumAnalyser analyser;
  uint8_t current[kSpectrumBytes];
};

bool track_spectra_open(TrackSpectra& spectra, const std::string& path, std::string& error);
// The frames that start within the track: 0 .. count - 1.
int64_t track_spectra_frames(const TrackSpectra& spectra);
const uint8_t* track_spectra_frame(TrackSpectra& spectra, int64_t frame);
