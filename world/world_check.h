#pragma once
// What must hold of a world between frames, checked field by field.
#include "world/world_state.h"

struct WorldCheck {
  int32_t ok;         // 1 when every invariant holds
  char message[160];  // the first violated invariant: field, slot or cell, value
};

WorldCheck check_world(const World& world);
