#include "world/trace_line.h"

#include <cinttypes>
#include <cstdio>

#include "world/world_state.h"
#include "world/world_stream.h"

int32_t format_trace_line(const World& world, const PixelBuffer& picture, int32_t population,
                          char out[kTraceLineBytes]) {
  const int n = std::snprintf(out, kTraceLineBytes, "%" PRId32 " %" PRId32 " %016" PRIx64 " %016" PRIx64,
                              world.frame_count, population, world_digest(world), picture_digest(picture));
  return static_cast<int32_t>(n);
}
