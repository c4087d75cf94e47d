#pragma once
// The world's rules written out plainly, a full pass at a time and without any index:
// what the indexed world in world/ is compared against, frame by frame. Each function
// reads and writes the planes and the agent table only; world.index is never used
// (spawn_agent, shared with the world, leaves it alone while the buckets are off,
// which they always are here). The off-grid choices are the world's: eating and
// planting at positions off the grid do nothing, and a neighbour beyond either end of
// the planes is dead and never written.
#include <cstdint>
#include <string>

#include "world/frame_step.h"
#include "world/renderer.h"
#include "world/world_state.h"

void plain_life_step(World& w);
int32_t plain_eat_at(World& w, int32_t x, int32_t y);
int32_t plain_plant_at(World& w, int32_t x, int32_t y, int32_t agent);
// The cell find_food would claim for the agent, without claiming it; false for none.
bool plain_food_target(const World& w, int32_t agent, int32_t& x, int32_t& y);
int32_t plain_find_food(World& w, int32_t agent);
// Whether slot j is within the contact reach of agent a (gene 19 of a, exclusive).
bool plain_in_reach(const World& w, int32_t a, int32_t j);
void plain_contact_scan(World& w, int32_t agent);
void plain_update_agent(World& w, int32_t a);
void plain_cull_population(World& w, CullKind kind);
// The whole picture from a black background.
void plain_draw_world(const World& w, PixelBuffer& picture);
// One frame; picture plays the drawing surface (it keeps its pixels in frames that
// draw nothing, so start it white, as the world's canvas starts).
void plain_frame_step(World& w, PixelBuffer& picture, const uint8_t* spectrum, uint32_t seed);

// The first field in which two worlds differ, as "neighbours (12, 399): 3 against 2"
// or "energy slot 5: ..."; empty when the planes, the agent table, the limits, the
// sound state and the scalars are all equal. The indexes are not compared.
std::string first_world_difference(const World& a, const World& b);
// The first pixel in which two pictures differ; empty when equal.
std::string first_picture_difference(const PixelBuffer& a, const PixelBuffer& b);
