// corvanta-sim: runs the Corvanta world without a window, frame by frame exactly as the
// plug-in does, and records what it did: traces of digests, world snapshots, pictures,
// timings. Exit status 0 when done, 1 when --check finds a broken invariant, 2 for bad
// arguments, input or output.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "audio/track_spectra.h"
#include "media/encoded_video.h"
#include "apps/sim/sim_options.h"
#include "media/output_file.h"
#include "media/picture_png.h"
#include "audio/spectrum_source.h"
#include "media/y4m_video.h"
#include "world/frame_step.h"
#include "world/trace_line.h"
#include "world/world_check.h"
#include "world/world_stream.h"

namespace {

constexpr int kExitBrokenWorld = 1;
constexpr int kExitBadRun = 2;

int fail(const std::string& message) {
  std::fprintf(stderr, "corvanta-sim: %s\n", message.c_str());
  return kExitBadRun;
}

struct RunStats {
  int32_t population = 0;  // living agents: the world starts empty, and every frame
                           // reports its births and deaths
  int32_t population_min = INT32_MAX;
  int32_t population_max = 0;
  int64_t births = 0;
  int64_t deaths = 0;
  int64_t reseedings = 0;
  int64_t culls = 0;
  std::vector<double> step_ms;  // frame_step times of the simulated frames
  int64_t checks = 0;           // check_world_and_index calls, all passed
};

void count_frame(const FrameReport& report, RunStats& stats) {
  stats.population += report.births - report.deaths;
  stats.births += report.births;
  stats.deaths += report.deaths;
  stats.reseedings += report.reseeding_started;
  stats.culls += report.cull != 0 ? 1 : 0;
}

void write_trace_line(OutputFile& trace, const World& world, const PixelBuffer& picture, int32_t population) {
  char line[kTraceLineBytes + 1];
  const int32_t n = format_trace_line(world, picture, population, line);
  line[n] = '\n';
  output_write(trace, line, static_cast<size_t>(n) + 1);
}

void show_progress(int64_t done, int64_t total, int32_t population) {
  constexpr int kWidth = 30;
  const int filled = total > 0 ? static_cast<int>(done * kWidth / total) : kWidth;
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%%  frame %" PRId64 "/%" PRId64 "  population %d ", bar,
               total > 0 ? static_cast<int>(done * 100 / total) : 100, done, total, static_cast<int>(population));
  std::fflush(stderr);
}

double percentile_99(std::vector<double> values) {
  if (values.empty()) return 0.0;
  // Nearest rank: the smallest value at or above 99 % of the samples.
  size_t rank = (values.size() * 99 + 99) / 100;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(rank - 1), values.end());
  return values[rank - 1];
}

struct Outputs {
  OutputFile trace;
  OutputFile snapshot;
  OutputFile video;            // .y4m
  EncodedVideo* encoded = nullptr;  // .mp4, .webm

  void discard() {
    output_discard(trace);
    output_discard(snapshot);
    output_discard(video);
    encoded_video_discard(encoded);
    encoded = nullptr;
  }
};

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!parse_sim_options(argc, argv, options, error)) return fail(error);
  if (options.help) {
    std::fputs(sim_usage(), stdout);
    return 0;
  }

  SpectrumSource spectrum;
  if (!open_spectrum(options.spectrum, options.spectrum_path, spectrum, error)) return fail(error);
  std::unique_ptr<TrackSpectra> audio;
  if (options.spectrum == SpectrumKind::kAudio) {
    audio.reset(new TrackSpectra());
    if (!track_spectra_open(*audio, options.spectrum_path, error)) return fail(error);
    if (!options.frames_given) options.frames = track_spectra_frames(*audio);
    if (options.snapshot_at > options.frames) {
      return fail("--snapshot-at " + std::to_string(options.snapshot_at) + " lies beyond the track's last frame (" +
                  std::to_string(options.frames) + ")");
    }
  }

  // Every output is checked before the first frame, so a bad path costs no run time,
  // and a failure leaves none of them behind.
  Outputs outputs;
  if (!options.trace_path.empty() && !output_open(outputs.trace, options.trace_path, error)) return fail(error);
  if (!options.snapshot_path.empty() && !output_open(outputs.snapshot, options.snapshot_path, error)) {
    outputs.discard();
    return fail(error);
  }
  if (!options.video_path.empty() && options.video_kind != VideoKind::kY4m) {
    // A missing encoder is found here, before any frame is computed.
    outputs.encoded = encoded_video_open(options.video_path, options.video_kind, audio ? &audio->track : nullptr,
                                         options.frames, options.lossless, error);
    if (outputs.encoded == nullptr) {
      outputs.discard();
      return fail(error);
    }
  } else if (!options.video_path.empty()) {
    if (!output_open(outputs.video, options.video_path, error)) {
      outputs.discard();
      return fail(error);
    }
    const std::string header = y4m_stream_header(kFramesPerSecond);
    output_write(outputs.video, header.data(), header.size());
  }
  if (options.png_every > 0 && !prepare_picture_dir(options.png_dir, error)) {
    outputs.discard();
    return fail(error);
  }
  if (options.png_defaulted) {
    std::fprintf(stderr, "corvanta-sim: pictures every %" PRId64 " frames go to %s/\n", options.png_every,
                 options.png_dir.c_str());
  }

  // Read the clock once, here, so the seed can be reported and the run repeated.
  const uint32_t seed = options.seed_given ? options.seed : static_cast<uint32_t>(std::time(nullptr));

  // Some ten megabytes of world and three megabytes of pictures: made once, on the heap.
  std::unique_ptr<World> world_holder(new World);
  std::unique_ptr<Canvas> canvas_holder(new Canvas);
  World& world = *world_holder;
  Canvas& canvas = *canvas_holder;
  world_reset(world);
  canvas_load_state(canvas);
  const PixelBuffer* presented = &canvas.drawing;

  RunStats stats;
  std::vector<uint8_t> video_frame;
  stats.step_ms.reserve(static_cast<size_t>(options.frames));
  const bool progress = isatty(fileno(stderr)) != 0 && options.frames > 0;
  const int64_t progress_every = std::max<int64_t>(1, options.frames / 200);

  if (options.snapshot_at == 0) output_world_stream(outputs.snapshot, world);

  for (int64_t frame = 0; frame < options.frames; ++frame) {
    const uint8_t* bytes = audio ? track_spectra_next(*audio) : spectrum_for_frame(spectrum, frame);
    const bool simulated = world.frame_count > kStartupFrames;

    const auto start = std::chrono::steady_clock::now();
    const FrameReport report = frame_step(world, canvas, bytes, seed);
    const auto stop = std::chrono::steady_clock::now();

    count_frame(report, stats);
    if (simulated) {
      stats.step_ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
      stats.population_min = std::min(stats.population_min, stats.population);
      stats.population_max = std::max(stats.population_max, stats.population);
    }

    if (options.check_every > 0 && world.frame_count % options.check_every == 0) {
      const WorldCheck check = check_world_and_index(world);
      ++stats.checks;
      if (!check.ok) {
        outputs.discard();
        if (progress) std::fputc('\n', stderr);
        std::fprintf(stderr, "corvanta-sim: invariant broken after frame %d: %s\n",
                     static_cast<int>(world.frame_count), check.message);
        return kExitBrokenWorld;
      }
    }

    const int32_t done = world.frame_count;
    if (outputs.trace.file != nullptr && done % options.trace_every == 0) {
      write_trace_line(outputs.trace, world, *presented, stats.population);
    }
    if (done == options.snapshot_at) output_world_stream(outputs.snapshot, world);
    if (outputs.video.file != nullptr) {
      y4m_frame(*presented, video_frame);
      output_write(outputs.video, video_frame.data(), video_frame.size());
    }
    if (outputs.encoded != nullptr && !encoded_video_frame(*outputs.encoded, *presented, error)) {
      outputs.discard();
      if (progress) std::fputc('\n', stderr);
      return fail(error);
    }
    if (options.png_every > 0 && (done % options.png_every == 0 || frame + 1 == options.frames)) {
      if (!write_picture_png(options.png_dir, done, *presented, error)) {
        outputs.discard();
        if (progress) std::fputc('\n', stderr);
        return fail(error);
      }
    }
    if (progress && ((frame + 1) % progress_every == 0 || frame + 1 == options.frames)) {
      show_progress(frame + 1, options.frames, stats.population);
    }
  }
  if (progress) std::fprintf(stderr, "\r%*s\r", 80, "");

  std::string trace_error;
  if (!output_commit(outputs.trace, trace_error)) {
    output_discard(outputs.snapshot);
    output_discard(outputs.video);
    encoded_video_discard(outputs.encoded);
    return fail(trace_error);
  }
  if (!output_commit(outputs.snapshot, error)) {
    output_discard(outputs.video);
    encoded_video_discard(outputs.encoded);
    std::remove(options.trace_path.c_str());
    return fail(error);
  }
  EncodedVideo* encoded = outputs.encoded;
  outputs.encoded = nullptr;
  if (!output_commit(outputs.video, error) || (encoded != nullptr && !encoded_video_commit(encoded, error))) {
    std::remove(options.trace_path.c_str());
    std::remove(options.snapshot_path.c_str());
    return fail(error);
  }

  double total_ms = 0.0;
  double max_ms = 0.0;
  for (double ms : stats.step_ms) {
    total_ms += ms;
    max_ms = std::max(max_ms, ms);
  }
  const size_t simulated = stats.step_ms.size();
  const double mean_ms = simulated > 0 ? total_ms / static_cast<double>(simulated) : 0.0;
  if (simulated == 0) stats.population_min = 0;

  std::printf("corvanta-sim: %" PRId64 " frames, seed %" PRIu32 ", population %d..%d (last %d), %" PRId64
              " culls, %" PRId64 " re-seedings, %" PRId64 " births, %" PRId64 " deaths, %.3f ms per simulated frame\n",
              options.frames, seed, static_cast<int>(stats.population_min), static_cast<int>(stats.population_max),
              static_cast<int>(stats.population), stats.culls, stats.reseedings, stats.births, stats.deaths, mean_ms);
  if (options.check_every > 0) std::printf("check: invariants held at %" PRId64 " checks\n", stats.checks);
  if (options.timing) {
    std::printf("timing: mean_ms=%.3f p99_ms=%.3f max_ms=%.3f frames=%zu\n", mean_ms, percentile_99(stats.step_ms),
                max_ms, simulated);
  }
  return 0;
}
