// A frame allocates nothing, and the World with every index fits in 16 MB.
#include <atomic>
#include <cstdlib>
#include <new>

#include "test_support.h"
#include "world/frame_step.h"
#include "world/sound.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {


static_assert(sizeof(World) < 16u * 1024 * 1024, "the World and its indexes stay under 16 MB");

TEST(Allocations, NoneInAThousandSimulatedFrames) {
  auto world = make_world();
  auto canvas = make_canvas();
  uint8_t spectrum[kSpectrumBytes] = {};
  // Past the start-up frames and into a populated world first.
  for (int frame = 0; frame < 1500; ++frame) frame_step(*world, *canvas, spectrum, 26);
  const long before = g_allocations.load();
  for (int frame = 0; frame < 1000; ++frame) {
    spectrum[frame % 100] = static_cast<uint8_t>(frame * 37);
    frame_step(*world, *canvas, spectrum, 26);
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
  int population = 0;
  for (int s = 0; s < kMaxAgents; ++s) population += world->agents.alive[s];
  EXPECT_GT(population, 0) << "the run should exercise agents, not an empty world";
}

}  // namespace
