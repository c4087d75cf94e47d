// corvanta-sim: runs the Corvanta world without a window, frame by frame exactly as the
// plug-in does, and records what it did: traces of digests, world snapshots, pictures,
// timings. Exit status 0 when done, 1 when --check finds a broken invariant, 2 for bad
// arguments, input or output.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/command_line.h"
#include "apps/sim/run_outputs.h"
#include "apps/sim/sim_options.h"
#include "audio/spectrum_source.h"
#include "audio/track_spectra.h"
#include "media/picture_png.h"
#include "world/frame_step.h"
#include "world/world_check.h"

namespace {

constexpr int kExitDone = 0;
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

// What a run hears: the spectra of the built-in source, a spectrum file or a track.
struct Inputs {
  SpectrumSource spectrum;
  std::unique_ptr<TrackSpectra> audio;

  // Frame n of the run; a track's spectra are taken in order, one per frame.
  const uint8_t* frame(int64_t n) {
    return audio ? track_spectra_next(*audio) : spectrum_for_frame(spectrum, n);
  }
};

// Opens the spectra. A track's length, once decoded, is the run's length unless --frames
// says otherwise, and the snapshot frame must lie within it.
bool open_inputs(SimOptions& options, Inputs& inputs, std::string& error) {
  if (!open_spectrum(options.spectrum, options.spectrum_path, inputs.spectrum, error)) return false;
  if (options.spectrum != SpectrumKind::kAudio) return true;
  inputs.audio.reset(new TrackSpectra());
  if (!track_spectra_open(*inputs.audio, options.spectrum_path, error)) return false;
  if (!options.frames_given) options.frames = track_spectra_frames(*inputs.audio);
  if (options.snapshot_at > options.frames) {
    error = "--snapshot-at " + std::to_string(options.snapshot_at) + " lies beyond the track's last frame (" +
            std::to_string(options.frames) + ")";
    return false;
  }
  return true;
}

// Steps every frame and after each checks, traces, snapshots, films and pictures it, in
// that order. kExitDone when all frames ran; otherwise the status to exit with, its
// message printed.
int run_frames(const SimOptions& options, Inputs& inputs, RunOutputs& outputs, uint32_t seed, RunStats& stats) {
  // Some ten megabytes of world and three megabytes of pictures: made once, on the heap.
  std::unique_ptr<World> world_holder(new World);
  std::unique_ptr<Canvas> canvas_holder(new Canvas);
  World& world = *world_holder;
  Canvas& canvas = *canvas_holder;
  world_reset(world);
  canvas_load_state(canvas);
  const PixelBuffer* presented = &canvas.drawing;

  stats.step_ms.reserve(static_cast<size_t>(options.frames));
  const bool progress = isatty(fileno(stderr)) != 0 && options.frames > 0;
  const int64_t progress_every = std::max<int64_t>(1, options.frames / 200);
  std::string error;

  if (options.snapshot_at == 0) outputs.write_snapshot(world);

  for (int64_t frame = 0; frame < options.frames; ++frame) {
    const uint8_t* bytes = inputs.frame(frame);
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
        if (progress) std::fputc('\n', stderr);
        std::fprintf(stderr, "corvanta-sim: invariant broken after frame %d: %s\n",
                     static_cast<int>(world.frame_count), check.message);
        return kExitBrokenWorld;
      }
    }

    const int32_t done = world.frame_count;
    if (outputs.tracing() && done % options.trace_every == 0) outputs.write_trace(world, *presented, stats.population);
    if (done == options.snapshot_at) outputs.write_snapshot(world);
    if (!outputs.write_video(*presented, error)) {
      if (progress) std::fputc('\n', stderr);
      return fail(error);
    }
    if (options.png_every > 0 && (done % options.png_every == 0 || frame + 1 == options.frames)) {
      if (!write_picture_png(options.png_dir, done, *presented, error)) {
        if (progress) std::fputc('\n', stderr);
        return fail(error);
      }
    }
    if (progress && ((frame + 1) % progress_every == 0 || frame + 1 == options.frames)) {
      show_progress(frame + 1, options.frames, stats.population);
    }
  }
  if (progress) std::fprintf(stderr, "\r%*s\r", 80, "");
  return kExitDone;
}

void report(const SimOptions& options, uint32_t seed, RunStats& stats) {
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
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!parse_sim_options(argc, argv, options, error)) return fail(error);
  if (options.help) {
    std::fputs(sim_help().c_str(), stdout);
    return kExitDone;
  }
  if (options.version) {
    std::printf("corvanta-sim %s\n", corvanta_version());
    return kExitDone;
  }

  Inputs inputs;
  if (!open_inputs(options, inputs, error)) return fail(error);
  // Every output is opened before the first frame, so a bad path costs no run time.
  // Until committed, every return removes them again.
  RunOutputs outputs;
  if (!outputs.open(options, inputs.audio ? &inputs.audio->track : nullptr, error)) return fail(error);
  if (options.png_every > 0 && !prepare_picture_dir(options.png_dir, error)) return fail(error);
  if (options.png_defaulted) {
    std::fprintf(stderr, "corvanta-sim: pictures every %" PRId64 " frames go to %s/\n", options.png_every,
                 options.png_dir.c_str());
  }

  // Read the clock once, here, so the seed can be reported and the run repeated.
  const uint32_t seed = options.seed_given ? options.seed : static_cast<uint32_t>(std::time(nullptr));
  RunStats stats;
  const int status = run_frames(options, inputs, outputs, seed, stats);
  if (status != kExitDone) return status;
  if (!outputs.commit(error)) return fail(error);
  report(options, seed, stats);
  return kExitDone;
}
