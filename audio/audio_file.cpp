#include "audio/audio_file.h"

#include "audio/audio_spectrum.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The rate a RIFF WAVE file's header claims, read by hand: libsndfile refuses a header
// whose rate does not fit its int ("SF_INFO struct incomplete"), which would hide from
// the user the one thing wrong with the file. False if it is no WAV or has no format.
bool wav_header_rate(const std::string& path, uint32_t& rate) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t head[12];
  bool found = false;
  if (std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
      std::memcmp(head + 8, "WAVE", 4) == 0) {
    uint8_t chunk[8];
    // Chunks are walked until "fmt ", a bounded number of them.
    for (int i = 0; i < 64 && std::fread(chunk, 1, sizeof chunk, file) == sizeof chunk; ++i) {
      const uint32_t size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | static_cast<uint32_t>(chunk[7]) << 24;
      if (std::memcmp(chunk, "fmt ", 4) == 0) {
        uint8_t format[8];
        if (size >= sizeof format && std::fread(format, 1, sizeof format, file) == sizeof format) {
          rate = format[4] | format[5] << 8 | format[6] << 16 | static_cast<uint32_t>(format[7]) << 24;
          found = true;
        }
        break;
      }
      if (std::fseek(file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) break;
    }
  }
  std::fclose(file);
  return found;
}

}  // namespace

bool audio_track_load(const std::string& path, AudioTrack& track, std::string& error) {
  // libsndfile says "System error" for a missing file and "Format not recognised" for
  // a folder; asking the file system first gives the user the real reason.
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "'" + path + "' is not a file";
    return false;
  }

  SF_INFO format;
  std::memset(&format, 0, sizeof format);
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &format);
  if (file == nullptr) {
    uint32_t claimed = 0;
    if (wav_header_rate(path, claimed) && (claimed < kMinSampleRate || claimed > kMaxSampleRate)) {
      error = "'" + path + "': " + sample_rate_refusal(claimed);
      return false;
    }
    error = "'" + path + "' is not audio that can be read here (" + sf_strerror(nullptr) + ")";
    return false;
  }
  if (format.channels < 1 || format.samplerate < 1 || format.frames < 1) {
    sf_close(file);
    error = "'" + path + "' holds no audio";
    return false;
  }

  // Before decoding: a file at a rate nobody plays is refused at once, not after
  // hours of frames.
  if (format.samplerate < kMinSampleRate || format.samplerate > kMaxSampleRate) {
    sf_close(file);
    error = "'" + path + "': " + sample_rate_refusal(format.samplerate);
    return false;
  }

  const int32_t channels = format.channels;
  track.sample_rate = format.samplerate;
  track.name = base_name(path);
  track.samples.clear();
  track.samples.reserve(static_cast<size_t>(format.frames) * 2);

  // Formats such as MP3 may report an estimate of the length; read until the decoder
  // stops rather than trusting it.
  constexpr sf_count_t kChunk = 4096;
  std::vector<float> chunk(static_cast<size_t>(kChunk * channels));
  for (;;) {
    const sf_count_t got = sf_readf_float(file, chunk.data(), kChunk);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < got; ++i) {
      const float* frame = &chunk[static_cast<size_t>(i * channels)];
      track.samples.push_back(frame[0]);
      track.samples.push_back(channels > 1 ? frame[1] : frame[0]);
    }
  }
  const int decode_error = sf_error(file);
  const std::string decode_message = sf_strerror(file);
  sf_close(file);

  track.frames = static_cast<int64_t>(track.samples.size() / 2);
  if (decode_error != SF_ERR_NO_ERROR && track.frames == 0) {
    error = "'" + path + "' could not be decoded (" + decode_message + ")";
    return false;
  }
  if (track.frames == 0) {
    error = "'" + path + "' holds no audio";
    return false;
  }
  return true;
}
