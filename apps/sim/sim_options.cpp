#include "apps/sim/sim_options.h"

#include "apps/cli/command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The options that name a file or folder refuse an empty one: it would only turn into
// a puzzling message from the file system later.
bool non_empty_path(const char* name, const char* value, std::string& error) {
  if (*value != '\0') return true;
  error = std::string("option ") + name + " wants a non-empty path";
  return false;
}

}  // namespace

OptionTable sim_option_table(SimOptions& o) {
  OptionTable table;
  table.usage =
      "usage: corvanta-sim [options]\n"
      "Runs the Corvanta world headless, frame by frame, as the plug-in would.\n"
      "\n";
  table.epilogue =
      "\n"
      "Without --png-every, --out, --trace or --video, pictures go to ./corvanta-out every 500 frames.\n"
      "Exit status: 0 done, 1 an invariant broke, 2 bad arguments, unreadable input or unwritable output.\n";
  table.help_column = 24;
  table.quoting = Quoting::kEscaped;
  table.entries = {
      {"--frames", nullptr, "N",
       "frames to run (default 3000, with --audio the whole track;\n"
       "the world starts moving at frame 152)",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number)) {
           error = "--frames wants a whole number 0.." + std::to_string(kMaxFrames) + ", not '" +
                   escaped_for_message(value) + "'";
           return false;
         }
         o.frames = static_cast<int64_t>(number);
         o.frames_given = true;
         return true;
       }},
      seed_entry(o.seed, o.seed_given, Quoting::kEscaped),
      {"--spectrum", nullptr, "FILE|silence",
       "FILE: 1152-byte spectrum records, one per frame, looped;\n"
       "silence: all zero; default: a built-in music-like spectrum",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (*value == '\0') {
           error = "--spectrum wants a file name or 'silence'";
           return false;
         }
         if (std::strcmp(value, "silence") == 0) {
           o.spectrum = SpectrumKind::kSilence;
         } else {
           o.spectrum = SpectrumKind::kFile;
           o.spectrum_path = value;
         }
         return true;
       }},
      {"--audio", nullptr, "FILE",
       "spectra from an audio file (WAV, FLAC, Ogg, MP3, ...), 40 frames\n"
       "to a second, as corvanta-play hears it",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (!non_empty_path("--audio", value, error)) return false;
         o.spectrum = SpectrumKind::kAudio;
         o.spectrum_path = value;
         return true;
       }},
      {"--video", nullptr, "FILE",
       "every frame's picture as a video, 40 frames a second, the kind by\n"
       "the extension: .mp4 (H.264 and AAC) or .webm (VP9 and Opus) with\n"
       "the --audio track's sound, .y4m uncompressed pictures only (4:2:0)",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (!non_empty_path("--video", value, error)) return false;
         o.video_path = value;
         o.video_kind = video_kind_of(value);
         if (o.video_kind == VideoKind::kUnknown) {
           error = "--video wants a file ending in .mp4, .webm or .y4m, not '" + escaped_for_message(value) + "'";
           return false;
         }
         return true;
       }},
      {"--lossless", nullptr, "",
       ".mp4 and .webm keep every pixel exactly (RGB; large, and not every\n"
       "player shows it)",
       OptionValue::kNone,
       [&o](const char*, std::string&) {
         o.lossless = true;
         return true;
       }},
      {"--png-every", nullptr, "K", "write the picture as PNG every K frames and after the last (0: never)",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number)) {
           error = "--png-every wants a whole number, not '" + escaped_for_message(value) + "'";
           return false;
         }
         o.png_every = static_cast<int64_t>(number);
         o.png_every_given = true;
         return true;
       }},
      {"--out", nullptr, "DIR", "folder for the PNGs (frame-NNNNNN.png)", OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (!non_empty_path("--out", value, error)) return false;
         o.png_dir = value;
         o.png_dir_given = true;
         return true;
       }},
      {"--trace", nullptr, "FILE", "after each frame: <frame_count> <population> <world digest> <picture digest>",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (!non_empty_path("--trace", value, error)) return false;
         o.trace_path = value;
         return true;
       }},
      {"--trace-every", nullptr, "K", "trace only frames whose frame_count is a multiple of K", OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number)) {
           error = "--trace-every wants a whole number, not '" + escaped_for_message(value) + "'";
           return false;
         }
         if (number == 0) {
           error = "--trace-every wants a whole number of at least 1";
           return false;
         }
         o.trace_every = static_cast<int64_t>(number);
         return true;
       }},
      {"--snapshot-at", nullptr, "F", "with --snapshot FILE: the world byte stream after frame F",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number)) {
           error = "--snapshot-at wants a frame number, not '" + escaped_for_message(value) + "'";
           return false;
         }
         o.snapshot_at = static_cast<int64_t>(number);
         return true;
       }},
      {"--snapshot", nullptr, "FILE", "", OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         if (!non_empty_path("--snapshot", value, error)) return false;
         o.snapshot_path = value;
         return true;
       }},
      {"--timing", nullptr, "",
       "print timing: mean_ms= p99_ms= max_ms= frames= over the simulated\n"
       "frames' frame_step calls alone",
       OptionValue::kNone,
       [&o](const char*, std::string&) {
         o.timing = true;
         return true;
       }},
      {"--check", nullptr, "",
       "check the world's invariants and its indexes after every frame; the\n"
       "first broken one (frame, field, slot or cell, value) stops the run\n"
       "with status 1",
       OptionValue::kNone,
       [&o](const char*, std::string&) {
         // Beside --check-every, the interval asked for stays.
         if (o.check_every == 0) o.check_every = 1;
         return true;
       }},
      {"--check-every", nullptr, "K", "the same after every K-th frame only (frame_count a multiple of K)",
       OptionValue::kRequired,
       [&o](const char* value, std::string& error) {
         uint64_t number = 0;
         if (!parse_decimal(value, kMaxFrames, number) || number == 0) {
           error = "--check-every wants a whole number of at least 1, not '" + escaped_for_message(value) + "'";
           return false;
         }
         o.check_every = static_cast<int64_t>(number);
         return true;
       }},
      version_entry(o.version),
      help_entry(o.help),
  };
  return table;
}

std::string sim_help() {
  SimOptions unused;
  return options_help(sim_option_table(unused));
}

bool parse_sim_options(int argc, char** argv, SimOptions& options, std::string& error) {
  if (!parse_options(sim_option_table(options), argc, argv, error)) return false;
  if (options.help || options.version) return true;

  if (options.lossless && options.video_kind != VideoKind::kMp4 && options.video_kind != VideoKind::kWebm) {
    error = "--lossless is for --video FILE.mp4 or FILE.webm";
    return false;
  }
  const bool snapshot_at_given = options.snapshot_at >= 0;
  if (snapshot_at_given != !options.snapshot_path.empty()) {
    error = "--snapshot-at and --snapshot go together";
    return false;
  }
  // A track's length is known only once it is decoded; corvanta-sim checks it then.
  const bool frames_known = options.frames_given || options.spectrum != SpectrumKind::kAudio;
  if (snapshot_at_given && frames_known && options.snapshot_at > options.frames) {
    error = "--snapshot-at " + std::to_string(options.snapshot_at) + " lies beyond the last frame (" +
            std::to_string(options.frames) + ")";
    return false;
  }
  if (options.png_every_given || options.png_dir_given) {
    if (!options.png_every_given) options.png_every = kDefaultPngEvery;
    if (!options.png_dir_given) options.png_dir = kDefaultPngDir;
  } else if (options.trace_path.empty() && options.video_path.empty()) {
    options.png_every = kDefaultPngEvery;
    options.png_dir = kDefaultPngDir;
    options.png_defaulted = true;
  }
  return true;
}
