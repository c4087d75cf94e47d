#include "apps/sim/sim_options.h"

#include "apps/cli/command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Frame counts and intervals stay well inside int32, the type of the world's frame_count.
constexpr uint64_t kMaxFrames = 2000000000;

}  // namespace

const char* sim_usage() {
  return "usage: corvanta-sim [options]\n"
         "Runs the Corvanta world headless, frame by frame, as the plug-in would.\n"
         "\n"
         "  --frames N            frames to run (default 3000, with --audio the whole track;\n"
         "                        the world starts moving at frame 152)\n"
         "  --seed S              random seed given at the first frame, 0..4294967295\n"
         "                        (default: the calendar time in seconds, as the plug-in does)\n"
         "  --spectrum FILE|silence\n"
         "                        FILE: 1152-byte spectrum records, one per frame, looped;\n"
         "                        silence: all zero; default: a built-in music-like spectrum\n"
         "  --audio FILE          spectra from an audio file (WAV, FLAC, Ogg, MP3, ...), 40 frames\n"
         "                        to a second, as corvanta-play hears it\n"
         "  --video FILE          every frame's picture as a video, 40 frames a second, the kind by\n"
         "                        the extension: .mp4 (H.264 and AAC) or .webm (VP9 and Opus) with\n"
         "                        the --audio track's sound, .y4m uncompressed pictures only (4:2:0)\n"
         "  --lossless            .mp4 and .webm keep every pixel exactly (RGB; large, and not every\n"
         "                        player shows it)\n"
         "  --png-every K         write the picture as PNG every K frames and after the last (0: never)\n"
         "  --out DIR             folder for the PNGs (frame-NNNNNN.png)\n"
         "  --trace FILE          after each frame: <frame_count> <population> <world digest> <picture digest>\n"
         "  --trace-every K       trace only frames whose frame_count is a multiple of K\n"
         "  --snapshot-at F       with --snapshot FILE: the world byte stream after frame F\n"
         "  --snapshot FILE\n"
         "  --timing              print timing: mean_ms= p99_ms= max_ms= frames= over the simulated\n"
         "                        frames' frame_step calls alone\n"
         "  --check               check the world's invariants and its indexes after every frame; the\n"
         "                        first broken one (frame, field, slot or cell, value) stops the run\n"
         "                        with status 1\n"
         "  --check-every K       the same after every K-th frame only (frame_count a multiple of K)\n"
         "  --help                this text\n"
         "\n"
         "Without --png-every, --out, --trace or --video, pictures go to ./corvanta-out every 500 frames.\n"
         "Exit status: 0 done, 1 an invariant broke, 2 bad arguments, unreadable input or unwritable output.\n";
}

bool parse_sim_options(int argc, char** argv, SimOptions& options, std::string& error) {
  bool png_every_given = false;
  bool out_given = false;
  bool snapshot_at_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      options.help = true;
      return true;
    }
    if (name == "--timing" || name == "--lossless") {
      (name == "--timing" ? options.timing : options.lossless) = true;
      continue;
    }
    if (name == "--check") {
      if (options.check_every == 0) options.check_every = 1;
      continue;
    }
    const bool takes_value = name == "--frames" || name == "--seed" || name == "--spectrum" ||
                             name == "--png-every" || name == "--out" || name == "--trace" ||
                             name == "--trace-every" || name == "--check-every" || name == "--snapshot-at" ||
                             name == "--snapshot" || name == "--audio" || name == "--video";
    if (!takes_value) {
      error = "unknown option '" + escaped_for_message(name) + "' (see --help)";
      return false;
    }
    if (i + 1 >= argc) {
      error = "option " + name + " needs a value";
      return false;
    }
    const char* value = argv[++i];
    uint64_t number = 0;
    if (name == "--frames") {
      if (!parse_decimal(value, kMaxFrames, number)) {
        error = "--frames wants a whole number 0.." + std::to_string(kMaxFrames) + ", not '" + escaped_for_message(value) + "'";
        return false;
      }
      options.frames = static_cast<int64_t>(number);
      options.frames_given = true;
    } else if (name == "--seed") {
      if (!parse_decimal(value, UINT32_MAX, number)) {
        error = std::string("--seed wants a whole number 0..4294967295, not '") + escaped_for_message(value) + "'";
        return false;
      }
      options.seed = static_cast<uint32_t>(number);
      options.seed_given = true;
    } else if (name == "--spectrum") {
      if (*value == '\0') {
        error = "--spectrum wants a file name or 'silence'";
        return false;
      }
      if (std::strcmp(value, "silence") == 0) {
        options.spectrum = SpectrumKind::kSilence;
      } else {
        options.spectrum = SpectrumKind::kFile;
        options.spectrum_path = value;
      }
    } else if (name == "--check-every") {
      if (!parse_decimal(value, kMaxFrames, number) || number == 0) {
        error = std::string("--check-every wants a whole number of at least 1, not '") + escaped_for_message(value) + "'";
        return false;
      }
      options.check_every = static_cast<int64_t>(number);
    } else if (name == "--png-every" || name == "--trace-every") {
      if (!parse_decimal(value, kMaxFrames, number)) {
        error = name + " wants a whole number, not '" + escaped_for_message(value) + "'";
        return false;
      }
      if (name == "--png-every") {
        options.png_every = static_cast<int64_t>(number);
        png_every_given = true;
      } else {
        if (number == 0) {
          error = "--trace-every wants a whole number of at least 1";
          return false;
        }
        options.trace_every = static_cast<int64_t>(number);
      }
    } else if (name == "--snapshot-at") {
      if (!parse_decimal(value, kMaxFrames, number)) {
        error = std::string("--snapshot-at wants a frame number, not '") + escaped_for_message(value) + "'";
        return false;
      }
      options.snapshot_at = static_cast<int64_t>(number);
      snapshot_at_given = true;
    } else {
      if (*value == '\0') {
        error = "option " + name + " wants a non-empty path";
        return false;
      }
      if (name == "--out") {
        options.png_dir = value;
        out_given = true;
      } else if (name == "--trace") {
        options.trace_path = value;
      } else if (name == "--audio") {
        options.spectrum = SpectrumKind::kAudio;
        options.spectrum_path = value;
      } else if (name == "--video") {
        options.video_path = value;
        options.video_kind = video_kind_of(value);
        if (options.video_kind == VideoKind::kUnknown) {
          error = "--video wants a file ending in .mp4, .webm or .y4m, not '" + escaped_for_message(value) + "'";
          return false;
        }
      } else {
        options.snapshot_path = value;
      }
    }
  }

  if (options.lossless && options.video_kind != VideoKind::kMp4 && options.video_kind != VideoKind::kWebm) {
    error = "--lossless is for --video FILE.mp4 or FILE.webm";
    return false;
  }
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
  if (png_every_given || out_given) {
    if (!png_every_given) options.png_every = kDefaultPngEvery;
    if (!out_given) options.png_dir = kDefaultPngDir;
  } else if (options.trace_path.empty() && options.video_path.empty()) {
    options.png_every = kDefaultPngEvery;
    options.png_dir = kDefaultPngDir;
    options.png_defaulted = true;
  }
  return true;
}
