#pragma once
// The command line of corvanta-sim.
#include <cstdint>
#include <string>

enum class SpectrumKind { kSynthetic, kSilence, kFile };

struct SimOptions {
  int64_t frames = 3000;
  bool seed_given = false;
  uint32_t seed = 0;

  SpectrumKind spectrum = SpectrumKind::kSynthetic;
  std::string spectrum_path;

  // 0: no pictures. Without --png-every, --out or --trace the tool writes pictures
  // to a default folder so a bare run leaves something to look at.
  int64_t png_every = 0;
  std::string png_dir;
  bool png_defaulted = false;

  std::string trace_path;
  int64_t trace_every = 1;

  int64_t snapshot_at = -1;  // -1: no snapshot
  std::string snapshot_path;

  bool timing = false;
  bool help = false;
};

constexpr int64_t kDefaultPngEvery = 500;
constexpr const char* kDefaultPngDir = "corvanta-out";

// Fills options from argv. On a bad command line returns false with a one-line
// message in error.
bool parse_sim_options(int argc, char** argv, SimOptions& options, std::string& error);
const char* sim_usage();
