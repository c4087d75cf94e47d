#pragma once
// Food search and contacts between agents.
#include "world/world_state.h"

// Nearest unclaimed live cell in the agent's search rings: claims it, makes it the
// target and returns 1; returns 0 and writes nothing when there is none.
int32_t find_food(World& world, int32_t agent);
// Counts, fights and crowd death against every live slot within reach, in slot order.
void contact_scan(World& world, int32_t agent);
