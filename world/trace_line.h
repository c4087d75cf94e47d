#pragma once
// One line of a run's trace: "<frame_count> <population> <world digest> <picture
// digest>", the digests as 16 lower-case hex digits. Every front end writes it the same
// way, so traces from any of them can be compared byte for byte.
#include <cstddef>
#include <cstdint>

#include "world/renderer.h"

struct World;

// The longest line, its terminating zero included: two 11-character integers, two
// 16-digit digests and three spaces fit with room to spare.
constexpr size_t kTraceLineBytes = 64;

// Writes the line, without a newline, into `out` and returns its length. `population`
// is the count of living agents (births less deaths since the world's reset).
int32_t format_trace_line(const World& world, const PixelBuffer& picture, int32_t population,
                          char out[kTraceLineBytes]);
