// corvanta-sim's command line: arbitrary bytes split at zero bytes into arguments.
// The parser must answer every command line with either a consistent set of options
// or a one-line refusal, and never exit or read past the arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/sim/sim_options.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = {"corvanta-sim"};
  std::string word;
  for (size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty() && words.size() < 64) words.push_back(word);
  // Each argument its own allocation, so that a read past one shows at once.
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const std::string& w : words) storage.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
  for (std::vector<char>& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  SimOptions options;
  std::string error;
  const bool ok = parse_sim_options(static_cast<int>(words.size()), argv.data(), options, error);
  if (!ok) {
    if (error.empty() || error.find('\n') != std::string::npos) fail("a refusal without a one-line message");
    return 0;
  }
  if (options.help || options.version) return 0;
  if (options.frames < 0 || options.frames > 2000000000) fail("frames out of range");
  if (options.trace_every < 1 || options.check_every < 0 || options.png_every < 0) fail("an interval out of range");
  if ((options.snapshot_at >= 0) != !options.snapshot_path.empty()) fail("a snapshot frame without a file");
  const bool frames_known = options.frames_given || options.spectrum != SpectrumKind::kAudio;
  if (frames_known && options.snapshot_at > options.frames) fail("a snapshot beyond the run");
  if (options.png_every > 0 && options.png_dir.empty()) fail("pictures without a folder");
  if ((options.spectrum == SpectrumKind::kFile || options.spectrum == SpectrumKind::kAudio) &&
      options.spectrum_path.empty()) {
    fail("a spectrum file without a name");
  }
  return 0;
}
