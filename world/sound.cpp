#include "world/sound.h"

#include <cstdint>

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
      if (world.band_stale[i] > 500 && world.band_peak[i] > 5) world.band_peak[i] -= 4;
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
  const double q = s / 25.0;
  s = static_cast<float>(q);
  if (q > 1.0) s = 1.0f;
  s = static_cast<float>(s * 255.0);
  world.sound_level = 255.0f - s;
  if (world.background_level > world.sound_level) world.background_level -= 2.0f;
  if (world.background_level < world.sound_level) world.background_level += 2.0f;
  if (world.background_level > 255.0f) world.background_level = 255.0f;
  if (world.background_level < 0.0f) world.background_level = 0.0f;
}
