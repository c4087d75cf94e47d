#pragma once
// The command line of corvanta-sim.
#include <cstdint>
#include <string>

#include "apps/cli/option_table.h"
#include "audio/spectrum_source.h"
#include "media/video_kind.h"


struct SimOptions {
  int64_t frames = 3000;
  bool frames_given = false;  // without it, --audio runs the whole track
  bool seed_given = false;
  uint32_t seed = 0;

  SpectrumKind spectrum = SpectrumKind::kSynthetic;
  std::string spectrum_path;  // the spectrum file, or with kAudio the audio file

  std::string video_path;  // every frame's picture: Y4M, or compressed with the track's sound
  VideoKind video_kind = VideoKind::kY4m;
  bool lossless = false;  // compressed video that keeps every pixel exactly

  // 0: no pictures. Without --png-every, --out, --trace or --video the tool writes pictures
  // to a default folder so a bare run leaves something to look at.
  int64_t png_every = 0;
  std::string png_dir;
  bool png_every_given = false;
  bool png_dir_given = false;
  bool png_defaulted = false;

  std::string trace_path;
  int64_t trace_every = 1;

  int64_t snapshot_at = -1;  // -1: no snapshot
  std::string snapshot_path;

  bool timing = false;
  int64_t check_every = 0;  // check_world after every K-th frame; 0: never
  bool help = false;
  bool version = false;
};

constexpr int64_t kDefaultPngEvery = 500;
constexpr const char* kDefaultPngDir = "corvanta-out";

// corvanta-sim's options, each storing into `options` when parsed. For --help and
// anything else that lists the options (a manual page), any SimOptions will do.
OptionTable sim_option_table(SimOptions& options);

// Fills options from argv. On a bad command line returns false with a one-line
// message in error. With --help or --version it stops there, checking nothing more.
bool parse_sim_options(int argc, char** argv, SimOptions& options, std::string& error);
std::string sim_help();
