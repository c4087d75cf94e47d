#pragma once
// One agent's turn in one frame.
#include "world/world_state.h"

// The slot's alive flag must be 1 when the call begins. A death inside the turn
// only clears the flag: the rest of the turn still runs.
void update_agent(World& world, int32_t slot);
