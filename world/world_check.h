#pragma once
// What must hold of a world between frames, checked field by field.
#include "world/world_state.h"

struct WorldCheck {
  int32_t ok;         // 1 when every invariant holds
  char message[160];  // the first violated invariant: field, slot or cell, value
};

// The planes, the sound state and every slot. In builds made for finding faults (a
// Debug build, or one compiled with CORVANTA_CHECK_INDEXES, as the fuzz targets are)
// it goes on to check_index.
WorldCheck check_world(const World& world);

// Rebuilds each index from the planes and the agent table and names the first
// difference: the tracker's live bitmap, its marks (every cell whose kind the next
// step changes lies in a marked word) and its planted, claimed and stale lists; the
// food counts while active; the agent buckets while active. Holds between any two
// operations on the world, not only between frames. Costs a few passes over the grid:
// never on the frame path.
WorldCheck check_index(const World& world);

// Both, whatever the build: for runs that ask for every check.
WorldCheck check_world_and_index(const World& world);
