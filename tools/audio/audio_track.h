#pragma once
// A whole audio file decoded into memory, as the player and the renderer-to-video
// both want it: random access by sample position, no decoder state to keep in step
// with the audio device. A three-minute stereo track at 44.1 kHz takes some 64 MB.
#include <cstdint>
#include <string>
#include <vector>

struct AudioTrack {
  int32_t sample_rate = 0;
  int64_t frames = 0;          // sample frames: one left and one right value each
  std::vector<float> samples;  // interleaved left, right, -1..1; a mono file fills both
  std::string name;            // the file name without its folder, for titles
};

// Decodes whatever libsndfile reads (WAV, FLAC, Ogg Vorbis, MP3 and more). Files with
// more than two channels keep the first two. False with a one-line message naming the
// file and the problem: missing, unreadable, not audio, or empty.
bool audio_track_load(const std::string& path, AudioTrack& track, std::string& error);

// Writes interleaved stereo floats as a 16-bit PCM WAV file. For tests and for making
// demonstration tracks; false with a message when the file cannot be written.
bool audio_write_wav(const std::string& path, int32_t sample_rate, const std::vector<float>& interleaved,
                     std::string& error);
