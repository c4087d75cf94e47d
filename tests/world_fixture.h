#pragma once
// A fresh world in its load state for each test. The World is some ten megabytes,
// too large for the stack, so tests keep it on the heap.
#include <memory>

#include "world/world_state.h"

inline std::unique_ptr<World> make_world() {
  std::unique_ptr<World> world(new World);
  world_reset(*world);
  return world;
}
