// Arbitrary sound into the running simulation: the first 4 bytes seed the world, the
// rest are spectrum records, one per frame (a short last record is zero-padded).
// Every frame must leave the world's invariants intact.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>

#include "world/frame_step.h"
#include "world/sound.h"
#include "world/world_check.h"

namespace {

uint32_t g_seed;

World* g_world = new World;
Canvas* g_canvas = new Canvas;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  std::memcpy(&g_seed, data, 4);
  data += 4;
  size -= 4;
  World& world = *g_world;
  world_reset(world);
  canvas_load_state(*g_canvas);

  static const uint8_t silence[kSpectrumBytes] = {};
  frame_step(world, *g_canvas, silence, g_seed);
  // Skip the start-up delay: the sound only matters once the world runs.
  world.frame_count = kStartupFrames + 1;

  uint8_t spectrum[kSpectrumBytes];
  for (int32_t frame = 0; frame < 64; ++frame) {
    std::memset(spectrum, 0, sizeof(spectrum));
    if (size > 0) {
      const size_t take = size < sizeof(spectrum) ? size : sizeof(spectrum);
      std::memcpy(spectrum, data, take);
      data += take;
      size -= take;
    }
    frame_step(world, *g_canvas, spectrum, g_seed);
  }
  const WorldCheck check = check_world(world);
  if (!check.ok) {
    std::fprintf(stderr, "broken invariant: %s\n", check.message);
    std::abort();
  }
  return 0;
}
