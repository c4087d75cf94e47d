#include "world/sound.h"

#include <cstdint>

namespace {

// A band's peak holds for this many frames without a higher sum; after that it decays
// by kPeakDecay a frame while above kPeakFloor.
constexpr int32_t kPeakHoldFrames = 500;
constexpr int32_t kPeakDecay = 4;
constexpr int32_t kPeakFloor = 5;
// The band levels (each a sum over its peak, 1 at the peak) add up to full loudness here.
constexpr double kFullLoudness = 25.0;
// The background level follows the sound level by this much a frame.
constexpr float kBackgroundStep = 2.0f;

}  // namespace

void analyse_bands(World& world, const uint8_t* spectrum) {
  for (int32_t i = 0; i < kBandCount; ++i) {
    int32_t sum = 0;
    for (int32_t k = 0; k < kBandBins; ++k) sum += spectrum[kBandBins * i + k];
    world.band_sum[i] = sum;
    if (sum > world.band_peak[i]) {
      world.band_peak[i] = sum;
      world.band_stale[i] = 0;
    } else {
      if (world.band_stale[i] < INT32_MAX) world.band_stale[i] += 1;
      if (world.band_stale[i] > kPeakHoldFrames && world.band_peak[i] > kPeakFloor) world.band_peak[i] -= kPeakDecay;
    }
  }
}

float band_level(const World& world, int32_t band) {
  if (band < 0 || band >= kBandCount) return 0.0f;
  if (world.band_peak[band] <= 0) return 0.0f;
  return static_cast<float>(static_cast<double>(world.band_sum[band]) / world.band_peak[band]);
}

void update_sound_levels(World& world) {
  float s = 0.0f;
  for (int32_t i = 0; i < kBandCount; ++i) s = s + band_level(world, i);
  const double q = s / kFullLoudness;
  s = static_cast<float>(q);
  if (q > 1.0) s = 1.0f;
  s = static_cast<float>(s * static_cast<double>(kHighestSoundLevel));
  world.sound_level = kHighestSoundLevel - s;
  if (world.background_level > world.sound_level) world.background_level -= kBackgroundStep;
  if (world.background_level < world.sound_level) world.background_level += kBackgroundStep;
  if (world.background_level > kHighestSoundLevel) world.background_level = kHighestSoundLevel;
  if (world.background_level < 0.0f) world.background_level = 0.0f;
}
