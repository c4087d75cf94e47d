#pragma once
// Helpers shared by the world's unit tests: the random generator on a state of its own
// for counting and steering draws, a well-behaved genome, and heap-held canvases.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "world/renderer.h"
#include "world/world_state.h"
#include "world_fixture.h"

// The world's generator on a state of its own, so tests can predict draws without a
// world. (RandomSource's known values hold the generator itself to account.)
struct Lcg {
  uint32_t state;
  int32_t next() { return lcg_next(state); }
  int32_t range(int32_t a, int32_t b) { return lcg_range(state, a, b); }
};

// Draws that take the generator from `from` to `to`; -1 when not within `limit`.
inline int32_t draws_between(uint32_t from, uint32_t to, int32_t limit = 2000000) {
  Lcg g{from};
  for (int32_t n = 0; n <= limit; ++n) {
    if (g.state == to) return n;
    g.next();
  }
  return -1;
}

// The first generator state, counting up from `start`, whose upcoming draws
// satisfy `wanted` (called with a fresh replica at that state).
template <class Predicate>
uint32_t find_state(Predicate wanted, uint32_t start = 1) {
  for (uint32_t s = start; s < start + 50000000u; ++s) {
    Lcg g{s};
    if (wanted(g)) return s;
  }
  ADD_FAILURE() << "no generator state gives the wanted draws";
  return start;
}

// A genome that passes every check of an update and stays put unless asked:
// home (500, 200), away (100, 40), energy ceiling 150, travel reserve 100 (so a
// spawned agent has 200), long step 20 beyond 10, reach 10, crowd tolerance 6,
// home radius 100 + margin 50, and a planting pattern that plants nothing.
inline void quiet_genome(int32_t g[kGeneCount]) {
  static const int32_t kQuiet[kGeneCount] = {
      40, 40, 200, 200, 1, 150, 100, 200, 10, 20, 5, 1200, 1000, 50, 6,  1, 100, 8,
      8,  10, 1,   1,   1, 1,   1,   1,   1,  1,  1, 1,    1,    1,  50, 0, 3,   10000};
  std::memcpy(g, kQuiet, sizeof kQuiet);
}

// Spawns a quiet agent at (x, y) in the given mode; returns its slot.
inline int32_t place_agent(World& w, int32_t x, int32_t y, AgentMode mode = kModeHome) {
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  const int32_t slot = spawn_agent(w, x, y, genes);
  EXPECT_GE(slot, 0);
  if (slot >= 0) w.agents.mode[slot] = mode;
  return slot;
}

inline std::unique_ptr<Canvas> make_canvas() {
  std::unique_ptr<Canvas> canvas(new Canvas);
  canvas_load_state(*canvas);
  return canvas;
}
