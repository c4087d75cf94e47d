// Writes a music-like test track: play_make_track OUT.wav SECONDS [RATE].
// For trying corvanta-play and measuring it on a track of any length.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "signals.h"
#include "tools/audio/audio_track.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: play_make_track OUT.wav SECONDS [RATE]\n");
    return 2;
  }
  const double seconds = std::atof(argv[2]);
  const int32_t rate = argc == 4 ? std::atoi(argv[3]) : 44100;
  if (seconds <= 0.0 || rate < 8000) {
    std::fprintf(stderr, "play_make_track: want SECONDS > 0 and RATE >= 8000\n");
    return 2;
  }
  std::string error;
  if (!audio_write_wav(argv[1], rate, music_audio(rate, seconds), error)) {
    std::fprintf(stderr, "play_make_track: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
