#pragma once
// Reduces the host's spectrum to ten band levels and two loudness values.
#include "world/world_state.h"

constexpr int32_t kSpectrumChannelBytes = 576;
constexpr int32_t kSpectrumBytes = 2 * kSpectrumChannelBytes;
constexpr int32_t kBandBins = 10;
// Both sound levels run from 0 (loud) to this (silent).
constexpr float kHighestSoundLevel = 255.0f;

// Reads channel 0 bytes 0..99 of a 1152-byte spectrum.
void analyse_bands(World& world, const uint8_t* spectrum);
float band_level(const World& world, int32_t band);
void update_sound_levels(World& world);
