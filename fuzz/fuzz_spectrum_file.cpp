// corvanta-sim's spectrum sources: arbitrary bytes as a spectrum file, read through a
// path as the tool reads it, and arbitrary frame numbers into the built-in music.
// A file is taken only when it holds whole 1152-byte records, and then every frame
// must get exactly its record back; anything else must be refused with a message.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/spectrum_source.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// One in-memory file for the whole run, rewritten for every input.
int g_file = memfd_create("spectrum", 0);
std::string g_path = "/proc/self/fd/" + std::to_string(g_file);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_file < 0 || ftruncate(g_file, 0) != 0 || pwrite(g_file, data, size, 0) != static_cast<ssize_t>(size)) {
    fail("cannot prepare the in-memory file");
  }
  SpectrumSource source;
  std::string error;
  const bool taken = open_spectrum(SpectrumKind::kFile, g_path, source, error);
  if (taken != (size > 0 && size % kSpectrumBytes == 0)) fail("a file taken or refused against its size");
  if (!taken) {
    if (error.empty() || error.find('\n') != std::string::npos) fail("a refusal without a one-line message");
  } else {
    if (source.record_count != size / kSpectrumBytes) fail("wrong record count");
    const int64_t count = static_cast<int64_t>(source.record_count);
    const int64_t frames[] = {0, count - 1, count, 2 * count + 1, 2000000000, INT64_MAX};
    for (int64_t frame : frames) {
      const uint8_t* record = spectrum_for_frame(source, frame);
      if (std::memcmp(record, data + (frame % count) * kSpectrumBytes, kSpectrumBytes) != 0) {
        fail("a frame got another record than its own");
      }
    }
  }

  // The built-in music for any frame corvanta-sim can ask for (never negative).
  if (size >= 8) {
    int64_t frame;
    std::memcpy(&frame, data, 8);
    frame &= INT64_MAX;
    uint8_t spectrum[kSpectrumBytes];
    synthetic_spectrum(frame, spectrum);
  }
  return 0;
}
