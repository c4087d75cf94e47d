#include "wav_file.h"

#include <sndfile.h>

#include <cstdio>
#include <cstring>

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

bool write_wav_claiming_rate(const std::string& path, uint32_t rate, std::string& error) {
  constexpr uint32_t kFrames = 4410;
  constexpr uint32_t kDataBytes = kFrames * 2 * 2;
  std::vector<uint8_t> bytes;
  const auto text = [&](const char* s) { bytes.insert(bytes.end(), s, s + 4); };
  const auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const auto u16 = [&](uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  };
  text("RIFF");
  u32(36 + kDataBytes);
  text("WAVE");
  text("fmt ");
  u32(16);
  u16(1);  // PCM
  u16(2);  // channels
  u32(rate);
  u32(rate * 4);  // bytes per second, wrapping as the header's own field would
  u16(4);         // bytes per frame
  u16(16);        // bits per sample
  text("data");
  u32(kDataBytes);
  for (uint32_t i = 0; i < kFrames * 2; ++i) u16(static_cast<uint16_t>((i * 977) & 0x3fff));
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write '" + path + "'";
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}
