#pragma once
// The Conway Life grid that feeds the agents.
//
// Neighbour counts live in their own plane between generations: life_step builds
// them once, and eating and planting edit them in place, so both act on the next
// generation without a recount. Neighbours are reached by element offset (+-1 row,
// +-400 column); the top and bottom rows therefore continue into the neighbouring
// column, and an offset that leaves the plane altogether reads as dead and is never
// written.
#include "world/world_state.h"

void life_step(World& world);
// Eats the live cell at (x, y) and its live orthogonal neighbours; 0..5.
int32_t eat_at(World& world, int32_t x, int32_t y);
// Forces the counts of the agent's planting pattern around (x, y) to 3; 0..12.
int32_t plant_at(World& world, int32_t x, int32_t y, int32_t agent);
// Every cell dead and every count 0; the other planes are left as they are.
void wipe_grid(World& world);
