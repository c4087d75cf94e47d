#include "tools/audio/audio_track.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
    error = "'" + path + "' is not audio that can be read here (" + sf_strerror(nullptr) + ")";
    return false;
  }
  if (format.channels < 1 || format.samplerate < 1 || format.frames < 1) {
    sf_close(file);
    error = "'" + path + "' holds no audio";
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

bool audio_write_wav(const std::string& path, int32_t sample_rate, const std::vector<float>& interleaved,
                     std::string& error) {
  SF_INFO format;
  std::memset(&format, 0, sizeof format);
  format.samplerate = sample_rate;
  format.channels = 2;
  format.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &format);
  if (file == nullptr) {
    error = "cannot write '" + path + "' (" + sf_strerror(nullptr) + ")";
    return false;
  }
  // Without this a sample just above 1.0 wraps round to full negative scale.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / 2);
  const sf_count_t written = sf_writef_float(file, interleaved.data(), frames);
  const int close_status = sf_close(file);
  if (written != frames || close_status != 0) {
    error = "cannot write '" + path + "' (disk full?)";
    return false;
  }
  return true;
}
