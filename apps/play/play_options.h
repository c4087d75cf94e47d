#pragma once
// The command line of corvanta-play.
#include <SDL_keycode.h>

#include <cstdint>
#include <string>
#include <vector>

#include "apps/cli/option_table.h"

// A key press the tests script: it fires once `at_frame` frames have been stepped, or
// `after_ms` milliseconds after the key before it.
struct ScriptedKey {
  SDL_Keycode key;
  int64_t at_frame;  // -1: timed instead
  uint32_t after_ms;
};

struct PlayOptions {
  std::string path;
  bool capture = false;
  std::string device;  // with capture: a recording device's name; empty for the default
  bool list_devices = false;
  std::string record_path;  // every frame's spectrum, as corvanta-sim --spectrum reads it
  bool seed_given = false;
  uint32_t seed = 0;
  bool help = false;
  bool version = false;
  // Test hooks, not in the usage text: stop after so many frames, save what the window
  // shows at the end, press keys, and log the title and what the keys did.
  int64_t stop_after = -1;
  std::string screenshot;
  std::vector<ScriptedKey> keys;
  bool log = false;
};

// corvanta-play's options, each storing into `options` when parsed. For --help and
// anything else that lists the options (a manual page), any PlayOptions will do.
OptionTable play_option_table(PlayOptions& options);

// Fills options from argv. On a bad command line returns false with a one-line
// message in error. With --help or --version it stops there, checking nothing more.
bool parse_play_options(int argc, char** argv, PlayOptions& options, std::string& error);
std::string play_help();
