#include "apps/play/play_options.h"

#include "apps/cli/command_line.h"

namespace {

// The longest wait a scripted key may ask for after the one before it.
constexpr uint64_t kMaxKeyDelayMs = 2000000000;

// "f@200,space@300,space+500,esc@400": a key at a frame count (pressed before that
// frame is stepped), or some milliseconds after the previous one.
bool parse_keys(const std::string& list, std::vector<ScriptedKey>& keys) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t mark = item.find_first_of("@+");
    if (mark == std::string::npos) return false;
    const std::string name = item.substr(0, mark);
    ScriptedKey key;
    if (name == "f") {
      key.key = SDLK_f;
    } else if (name == "f11") {
      key.key = SDLK_F11;
    } else if (name == "space") {
      key.key = SDLK_SPACE;
    } else if (name == "esc") {
      key.key = SDLK_ESCAPE;
    } else {
      return false;
    }
    const bool at_frame = item[mark] == '@';
    uint64_t number = 0;
    if (!parse_decimal(item.c_str() + mark + 1, at_frame ? kMaxFrames : kMaxKeyDelayMs, number)) return false;
    key.at_frame = at_frame ? static_cast<int64_t>(number) : -1;
    key.after_ms = at_frame ? 0 : static_cast<uint32_t>(number);
    keys.push_back(key);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

}  // namespace

OptionTable play_option_table(PlayOptions& o) {
  OptionTable table;
  table.usage =
      "usage: corvanta-play [--seed S] [--record FILE] AUDIO-FILE\n"
      "       corvanta-play [--seed S] [--record FILE] --capture [DEVICE]\n"
      "       corvanta-play --list-devices\n"
      "Plays an audio file (WAV, FLAC, Ogg, MP3, ...) and shows the Corvanta world moving to it,\n"
      "40 frames to a second of audio. --capture listens to a recording device instead (with\n"
      "PulseAudio or PipeWire, choose the monitor of the output to see whatever the machine plays).\n"
      "\n";
  table.epilogue =
      "\n"
      "Keys: F or F11 full screen, Space pause, Esc quit.\n"
      "Exit status: 0 done, 2 bad arguments, unreadable input, no audio device or no display.\n";
  table.help_column = 20;
  // corvanta-play has always quoted arguments in its messages as they were given.
  table.quoting = Quoting::kAsGiven;
  const auto flag = [](bool& field) {
    return [&field](const char*, std::string&) {
      field = true;
      return true;
    };
  };
  const auto text = [](std::string& field) {
    return [&field](const char* value, std::string&) {
      field = value;
      return true;
    };
  };
  table.entries = {
      seed_entry(o.seed, o.seed_given, Quoting::kAsGiven),
      {"--capture", nullptr, "[NAME]",
       "the recording device NAME, as --list-devices prints it, or the\n"
       "default recording device, instead of a file",
       OptionValue::kOptional,
       [&o](const char* value, std::string&) {
         o.capture = true;
         if (value != nullptr) o.device = value;
         return true;
       }},
      {"--list-devices", nullptr, "", "print the recording devices, one a line, and exit", OptionValue::kNone,
       flag(o.list_devices)},
      {"--record", nullptr, "FILE",
       "write every frame's spectrum to FILE (1152 bytes a frame), from\n"
       "which corvanta-sim --spectrum FILE --seed S renders the same world",
       OptionValue::kRequired, text(o.record_path)},
      version_entry(o.version),
      help_entry(o.help),
      // The test hooks.
      {"--frames", nullptr, "N", "stop after N frames", OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number) || number == 0) {
           error = std::string("--frames wants a whole number of at least 1, not '") + value + "'";
           return false;
         }
         o.stop_after = static_cast<int64_t>(number);
         return true;
       },
       false},
      {"--screenshot", nullptr, "FILE", "at the end, save what the window shows as a binary PPM",
       OptionValue::kRequired, text(o.screenshot), false},
      {"--keys", nullptr, "LIST", "press keys: f@200 at frame 200, space+500 half a second after the key before",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (parse_keys(value, o.keys)) return true;
         error = std::string("--keys wants a list like f@200,space+500,esc@300, not '") + value + "'";
         return false;
       },
       false},
      {"--log", nullptr, "", "print the window's title, its renderer and what the keys did", OptionValue::kNone,
       flag(o.log), false},
  };
  table.operand = [&o](const char* argument, std::string& error) {
    if (!o.path.empty()) {
      error = "one audio file at a time ('" + o.path + "' and '" + argument + "')";
      return false;
    }
    o.path = argument;
    return true;
  };
  return table;
}

std::string play_help() {
  PlayOptions unused;
  return options_help(play_option_table(unused));
}

bool parse_play_options(int argc, char** argv, PlayOptions& options, std::string& error) {
  if (!parse_options(play_option_table(options), argc, argv, error)) return false;
  if (options.help || options.version || options.list_devices) return true;
  if (options.capture && !options.path.empty()) {
    error = "either an audio file or --capture, not both";
    return false;
  }
  if (!options.capture && options.path.empty()) {
    error = "no audio file given (see --help)";
    return false;
  }
  return true;
}
