// Drives the frame step through long runs of hostile sound and checks the world's
// invariants and its indexes every 100 frames. Usage: soak_world FRAMES [SEED]
// Exit status 0 when every check held, 1 with the first broken invariant otherwise.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "world/frame_step.h"
#include "world/sound.h"
#include "world/world_check.h"

namespace {

uint32_t g_seed = 1;

// Sound in phases of a few thousand frames: noise, full scale, silence, frames
// flipping between the extremes, and loud bursts followed by long silences.
void hostile_spectrum(int64_t frame, uint32_t& noise, uint8_t* spectrum) {
  switch ((frame / 2500) % 5) {
    case 0:
      for (int32_t i = 0; i < kSpectrumBytes; ++i) {
        noise = noise * 1664525u + 1013904223u;
        spectrum[i] = static_cast<uint8_t>(noise >> 24);
      }
      break;
    case 1:
      std::memset(spectrum, 255, kSpectrumBytes);
      break;
    case 2:
      std::memset(spectrum, 0, kSpectrumBytes);
      break;
    case 3:
      std::memset(spectrum, frame % 2 == 0 ? 255 : 0, kSpectrumBytes);
      break;
    default:
      std::memset(spectrum, frame % 2500 < 200 ? 255 : 0, kSpectrumBytes);
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: soak_world FRAMES [SEED]\n");
    return 2;
  }
  const int64_t frames = std::atoll(argv[1]);
  g_seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 26u;

  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);

  uint8_t spectrum[kSpectrumBytes];
  uint32_t noise = 12345;
  int32_t lowest = INT32_MAX, highest = 0;
  for (int64_t frame = 0; frame < frames; ++frame) {
    // Halfway, the counters are pushed to their limits: they must stop there.
    if (frame == frames / 2) {
      world->frame_count = INT32_MAX - 2;
      for (int32_t i = 0; i < kBandCount; ++i) world->band_stale[i] = INT32_MAX - 2;
    }
    hostile_spectrum(frame, noise, spectrum);
    frame_step(*world, *canvas, spectrum, g_seed);
    if (frame % 100 == 99 || frame == frames - 1) {
      const WorldCheck check = check_world_and_index(*world);
      if (!check.ok) {
        std::printf("frame %lld: %s\n", static_cast<long long>(frame + 1), check.message);
        return 1;
      }
      int32_t population = 0;
      for (int32_t s = 0; s < kMaxAgents; ++s) population += world->agents.alive[s];
      if (population < lowest) lowest = population;
      if (population > highest) highest = population;
    }
  }
  if (frames > 2 && world->frame_count != INT32_MAX) {
    std::printf("frame_count %d after the limit, expected %d\n", world->frame_count, INT32_MAX);
    return 1;
  }
  std::printf("%lld frames, population %d..%d, every check held\n", static_cast<long long>(frames), lowest,
              highest);
  return 0;
}
