// A frame through libcorvanta's interface against the same work done directly: feed a
// fortieth of a second of stereo 44.1 kHz sound, step the frame, copy the picture as
// RGBA. Both make the same world from the same sound, frame for frame, so each
// benchmark's time per frame is over the same frames.
// Run: build/release/corvanta-bench-library
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/audio_spectrum.h"
#include "audio/audio_track.h"
#include "corvanta/corvanta.h"
#include "world/frame_step.h"

namespace {

constexpr int32_t kRate = 44100;
// Thirty seconds: the startup frames, and then the world living and drawing.
constexpr int64_t kFrames = 1200;
constexpr uint32_t kSeed = 26;

// Stereo music-like sound: a beat, a bass line, a melody.
const std::vector<float>& music() {
  static const std::vector<float> samples = [] {
    const int64_t frames = (kFrames + 1) * kRate / kFramesPerSecond + kAnalysisWindow;
    std::vector<float> out(static_cast<size_t>(2 * frames));
    for (int64_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double beat = std::exp(-12.0 * std::fmod(t, 0.5)) * std::sin(2.0 * M_PI * 60.0 * t);
      const double melody = std::sin(2.0 * M_PI * 440.0 * std::pow(2.0, std::floor(std::fmod(t * 2.0, 12.0)) / 12.0) * t);
      out[static_cast<size_t>(2 * i)] = static_cast<float>(0.5 * beat + 0.25 * melody);
      out[static_cast<size_t>(2 * i + 1)] = static_cast<float>(0.4 * beat + 0.3 * melody);
    }
    return out;
  }();
  return samples;
}

void BM_FrameThroughInterface(benchmark::State& state) {
  const std::vector<float>& samples = music();
  std::vector<uint8_t> rgba(CORVANTA_WIDTH * CORVANTA_HEIGHT * 4);
  for (auto _ : state) {
    corvanta_config config;
    corvanta_config_init(&config);
    config.seed = kSeed;
    config.seed_from_clock = 0;
    corvanta* handle = nullptr;
    corvanta_create(&config, &handle, nullptr, 0);
    int64_t fed = 0;
    for (int64_t k = 0; k < kFrames; ++k) {
      // The sound up to where frame k is due: a fortieth of a second a frame.
      const int64_t until = (k * kRate) / kFramesPerSecond + kAnalysisWindow / 2;
      corvanta_feed_float(handle, &samples[static_cast<size_t>(2 * fed)], until - fed);
      fed = until;
      corvanta_step(handle, nullptr);
      corvanta_copy_picture(handle, rgba.data(), CORVANTA_WIDTH * 4, CORVANTA_RGBA);
    }
    benchmark::DoNotOptimize(rgba.data());
    corvanta_destroy(handle);
  }
  // Seconds of CPU per frame, shown with its SI prefix (u for microseconds).
  state.counters["per_frame"] = benchmark::Counter(static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate |
                                                                                   benchmark::Counter::kInvert);
}

void BM_FrameDirect(benchmark::State& state) {
  const std::vector<float>& samples = music();
  AudioTrack track;
  track.sample_rate = kRate;
  track.samples = samples;
  track.frames = static_cast<int64_t>(samples.size() / 2);
  std::unique_ptr<SpectrumAnalyser> analyser(new SpectrumAnalyser());
  std::string error;
  analyser_open(*analyser, kRate, error);
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  std::vector<uint8_t> rgba(CORVANTA_WIDTH * CORVANTA_HEIGHT * 4);
  uint8_t spectrum[kSpectrumBytes];
  for (auto _ : state) {
    world_reset(*world);
    canvas_load_state(*canvas);
    for (int64_t k = 0; k < kFrames; ++k) {
      track_frame_spectrum(*analyser, track, k, spectrum);
      frame_step(*world, *canvas, spectrum, kSeed);
      const uint8_t* from = &canvas->drawing.rgb[0][0][0];
      for (int32_t p = 0; p < kWorldWidth * kWorldHeight; ++p) {
        rgba[4 * p] = from[3 * p];
        rgba[4 * p + 1] = from[3 * p + 1];
        rgba[4 * p + 2] = from[3 * p + 2];
        rgba[4 * p + 3] = 255;
      }
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  // Seconds of CPU per frame, shown with its SI prefix (u for microseconds).
  state.counters["per_frame"] = benchmark::Counter(static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate |
                                                                                   benchmark::Counter::kInvert);
}

BENCHMARK(BM_FrameDirect)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FrameThroughInterface)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
