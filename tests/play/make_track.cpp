// Writes a music-like test track: play_make_track OUT.wav|OUT.flac SECONDS [RATE],
// 16-bit. For trying corvanta-play and the web page and measuring them on a track of
// any length. play_make_track --decoded IN OUT.wav writes the samples libsndfile
// decodes from IN (as corvanta-sim reads them) as a 32-bit float WAV file.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "signals.h"
#include "wav_file.h"
#include "audio/audio_file.h"

namespace {

int write_decoded(const std::string& in, const std::string& out) {
  AudioTrack track;
  std::string error;
  if (!audio_track_load(in, track, error)) {
    std::fprintf(stderr, "play_make_track: %s\n", error.c_str());
    return 2;
  }
  SF_INFO info{};
  info.samplerate = track.sample_rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(out.c_str(), SFM_WRITE, &info);
  if (file == nullptr || sf_writef_float(file, track.samples.data(), track.frames) != track.frames ||
      sf_close(file) != 0) {
    std::fprintf(stderr, "play_make_track: cannot write %s: %s\n", out.c_str(), sf_strerror(file));
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--decoded") return write_decoded(argv[2], argv[3]);
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: play_make_track OUT.wav|OUT.flac SECONDS [RATE]\n"
                         "       play_make_track --decoded IN OUT.wav\n");
    return 2;
  }
  const double seconds = std::atof(argv[2]);
  const int32_t rate = argc == 4 ? std::atoi(argv[3]) : 44100;
  if (seconds <= 0.0 || rate < 8000) {
    std::fprintf(stderr, "play_make_track: want SECONDS > 0 and RATE >= 8000\n");
    return 2;
  }
  const std::string path = argv[1];
  if (path.size() > 5 && path.compare(path.size() - 5, 5, ".flac") == 0) {
    const std::vector<float> samples = music_audio(rate, seconds);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / 2);
    if (file == nullptr || sf_writef_float(file, samples.data(), frames) != frames || sf_close(file) != 0) {
      std::fprintf(stderr, "play_make_track: cannot write %s: %s\n", path.c_str(), sf_strerror(file));
      return 2;
    }
    return 0;
  }
  std::string error;
  if (!audio_write_wav(path, rate, music_audio(rate, seconds), error)) {
    std::fprintf(stderr, "play_make_track: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
