#pragma once
// Audio files decoded whole into memory (libsndfile). In a build without libsndfile,
// loading says so instead.
#include <string>

#include "audio/audio_track.h"

// Decodes whatever libsndfile reads (WAV, FLAC, Ogg Vorbis, MP3 and more). Files with
// more than two channels keep the first two. False with a one-line message naming the
// file and the problem: missing, unreadable, not audio, empty, or a sample rate outside
// the range the analysis takes (kMinSampleRate .. kMaxSampleRate).
bool audio_track_load(const std::string& path, AudioTrack& track, std::string& error);
