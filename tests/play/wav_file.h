#pragma once
// Test tracks written to disk, for the programs under test to read.
#include <cstdint>
#include <string>
#include <vector>

// Writes interleaved stereo floats as a 16-bit PCM WAV file; false with a message when
// the file cannot be written.
bool audio_write_wav(const std::string& path, int32_t sample_rate, const std::vector<float>& interleaved,
                     std::string& error);

// A short 16-bit stereo WAV written byte by byte, whose header claims `rate` Hz,
// whatever rate that is: for the programs' refusal of rates nobody plays.
bool write_wav_claiming_rate(const std::string& path, uint32_t rate, std::string& error);
