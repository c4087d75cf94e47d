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
