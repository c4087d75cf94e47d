#pragma once
// corvanta-sim's audio input: a decoded track fed through an audio stream, giving each
// video frame's spectrum exactly as any host that feeds the same samples in pieces gets
// it. In a build without libsndfile, opening says so instead.
#include <cstdint>
#include <string>

#include "audio/audio_file.h"
#include "audio/audio_stream.h"

struct TrackSpectra {
  AudioTrack track;
  AudioStream stream;
  int64_t fed = 0;    // sample frames of the track fed to the stream
  int64_t frame = 0;  // the next frame
  uint8_t current[kSpectrumBytes];
};

bool track_spectra_open(TrackSpectra& spectra, const std::string& path, std::string& error);
// The frames that start within the track: 0 .. count - 1.
int64_t track_spectra_frames(const TrackSpectra& spectra);
// The next frame's spectrum, from frame 0 on; past the track's last frame, silence's.
const uint8_t* track_spectra_next(TrackSpectra& spectra);
