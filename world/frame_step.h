#pragma once
// The per-frame driver: sound, seeding, Life, agents, drawing, population policy.
#include "world/renderer.h"
#include "world/world_state.h"

constexpr int32_t kCullRandom = 1;
constexpr int32_t kCullCrowding = 2;
// Frames whose starting frame_count is at most this only analyse sound and present.
constexpr int32_t kStartupFrames = 150;

// spectrum: 1152 bytes, channel 0 first. Always returns 0.
int32_t frame_step(World& world, Canvas& canvas, const uint8_t* spectrum);
void cull_population(World& world, int32_t kind);
