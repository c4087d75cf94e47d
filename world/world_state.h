#pragma once
// The whole simulation state and its random source.
//
// Data layout: every grid plane is 1000 x 400 int32 stored column by column
// (cell (x, y) is element x * 400 + y), so a scan down one column walks memory in
// order and the cells above and below a cell are the elements before and after it.
// Agents are a structure of arrays indexed by slot number: the hot per-frame passes
// (contacts, drawing) read one or two fields of every slot, so each field is its own
// contiguous array. Everything has a fixed size; nothing is allocated while frames run.
#include <cstdint>
#include <cstring>

#include "world/world_constants.h"
#include "world/world_index.h"

// spawn_agent's answer when every slot is in use.
constexpr int32_t kNoSlot = -1;

constexpr int32_t kModeForage = 0;
constexpr int32_t kModeHome = 1;
constexpr int32_t kModeAway = 2;
constexpr int32_t kModeMate = 3;

struct GeneLimits {
  int32_t gene_min[kGeneCount];
  int32_t gene_init_lo[kGeneCount];
  int32_t gene_init_hi[kGeneCount];
  int32_t gene_max[kGeneCount];
  int32_t gene_step[kGeneCount];
};

struct AgentTable {
  int32_t alive[kMaxAgents];
  int32_t pos_x[kMaxAgents];
  int32_t pos_y[kMaxAgents];
  int32_t target_x[kMaxAgents];
  int32_t target_y[kMaxAgents];
  int32_t mode[kMaxAgents];
  float energy[kMaxAgents];
  int32_t age[kMaxAgents];
  int32_t food_eaten[kMaxAgents];
  int32_t crowd[kMaxAgents];
  int32_t search_radius[kMaxAgents];
  int32_t pause_count[kMaxAgents];
  int32_t pause_length[kMaxAgents];
  int32_t plant_counter[kMaxAgents];
  int32_t home_x[kMaxAgents];
  int32_t home_y[kMaxAgents];
  int32_t away_x[kMaxAgents];
  int32_t away_y[kMaxAgents];
  int32_t genome[kMaxAgents][kGeneCount];
};

struct World {
  // Grid planes, column-major.
  int32_t cells[kCellCount];
  int32_t next_cells[kCellCount];
  int32_t neighbours[kCellCount];
  int32_t claimed[kCellCount];
  int32_t dead_run[kCellCount];

  AgentTable agents;
  GeneLimits limits;

  // Sound state.
  int32_t band_sum[kBandCount];
  int32_t band_peak[kBandCount];
  int32_t band_stale[kBandCount];
  float sound_level;
  float background_level;

  int32_t frame_count;
  int32_t spawn_mode;
  uint32_t random_state;

  // The genome most recently drawn for a re-seeded agent; kept between frames
  // because survivors of a population crash are given energy from it.
  int32_t reseed_genome[kGeneCount];

  // Derived data kept in step with the above; see world_index.h.
  WorldIndex index;

  // Births and deaths since frame_step last zeroed them, for its report. Like the
  // indexes, not part of the world's state.
  int32_t births_counted;
  int32_t deaths_counted;
};

// Resets a world to its load state: all zero except spawn_mode 1, both sound
// levels 100.0 and the random state 1.
void world_reset(World& world);

// After writing the grid planes directly: the next Life step rebuilds the grid
// tracker and the food index, and the buckets wait for the next frame step.
void world_reindex(World& world);

// The indexes' upkeep (world_index.cpp); world_index.h says what each one holds.
// Counts the unclaimed live cells afresh: from the tracker's bitmap while tracking,
// else from the planes.
void food_index_build(World& world);
// Cell e stops being food (eaten or claimed); nothing while not tracking.
void food_index_take(World& world, int32_t e);

// Live agents into buckets; the buckets then follow moves and spawns until
// agent_buckets_stop. frame_step makes both calls, once a simulated frame.
void agent_buckets_build(World& world);
void agent_buckets_stop(World& world);
// After the slot's position changed or the slot was spawned; nothing while stopped.
void agent_buckets_place(World& world, int32_t slot);
// Live slots other than `exclude` whose city-block distance from (x, y) is below
// reach, in ascending slot order, into world.index.buckets.found; returns how many.
int32_t agent_buckets_gather(World& world, int32_t x, int32_t y, int32_t reach, int32_t exclude);

// The one float-to-int conversion: truncation toward zero; NaN or a value outside
// the int32 range gives INT32_MIN, as the x86 conversion does.
inline int32_t to_int32(double value) {
  // The bounds are exact doubles; truncation of anything strictly between them fits.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void random_seed(World& world, uint32_t seed);
// Next value 0..32767 of the linear congruential generator.
int32_t random_next(World& world);
// One draw mapped to a..b; b comes only for the draw 32767.
int32_t rand_range(World& world, int32_t a, int32_t b);

// Places a new agent in the lowest free slot; kNoSlot (and nothing written) when full.
int32_t spawn_agent(World& world, int32_t x, int32_t y, const int32_t genes[kGeneCount]);

// Every death goes through here, so that a frame can report how many there were. An
// agent killed twice in one turn (it fails two genome checks) dies once.
inline void agent_dies(World& world, int32_t slot) {
  world.deaths_counted += world.agents.alive[slot] != 0 ? 1 : 0;
  world.agents.alive[slot] = 0;
}
void derive_home(World& world, int32_t agent);
void derive_away(World& world, int32_t agent);

// Whether the eight slots from s (a multiple of 8) are all free: passes over the table
// step over empty stretches eight slots at a time.
inline bool free_eight(const AgentTable& t, int32_t s) {
  uint64_t flags[4];
  std::memcpy(flags, t.alive + s, sizeof(flags));
  return (flags[0] | flags[1] | flags[2] | flags[3]) == 0;
}

// City-block distance, the only metric of the world. Worked out in 64 bits and
// capped at INT32_MAX, so positions far off the grid compare as far, not overflow.
inline int32_t city_distance(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t dx = static_cast<int64_t>(x1) - x2;
  const int64_t dy = static_cast<int64_t>(y1) - y2;
  const int64_t d = (dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy);
  return d > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d);
}

// city_distance(x1, y1, x2, y2) < reach for reach > 0, in 32-bit arithmetic: the
// distance along each axis fits an unsigned 32-bit word, and the sum is compared
// only once the first part is known to be below reach. A 32-bit build would
// otherwise work in pairs of registers, for every agent a contact scan meets.
inline bool within_reach(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t reach) {
  const uint32_t dx = x1 > x2 ? static_cast<uint32_t>(x1) - static_cast<uint32_t>(x2)
                              : static_cast<uint32_t>(x2) - static_cast<uint32_t>(x1);
  const uint32_t dy = y1 > y2 ? static_cast<uint32_t>(y1) - static_cast<uint32_t>(y2)
                              : static_cast<uint32_t>(y2) - static_cast<uint32_t>(y1);
  const uint32_t r = static_cast<uint32_t>(reach);
  return (dx < r) & (dy < r - dx);
}
