#pragma once
// The whole simulation state and its random source.
//
// Data layout: every grid plane is 1000 x 400 int32 stored column by column
// (cell (x, y) is element x * 400 + y), so a scan down one column walks memory in
// order and the cells above and below a cell are the elements before and after it.
// The agent table is a structure of arrays (agent_table.h). Everything has a fixed
// size; nothing is allocated while frames run.
#include <cstdint>

#include "world/agent_table.h"
#include "world/world_constants.h"
#include "world/world_index.h"

// spawn_agent's answer when every slot is in use.
constexpr int32_t kNoSlot = -1;

// How new agents come into the world. The values are those the world stream holds
// (four bytes, docs/world-stream.md); a value read from a stream may be any int32,
// which check_world reports.
enum SpawnMode : int32_t {
  kSpawnBreeding = 0,   // only by breeding
  kSpawnReseeding = 1,  // and one random agent re-seeded every simulated frame
};

struct GeneLimits {
  int32_t gene_min[kGeneCount];
  int32_t gene_init_lo[kGeneCount];
  int32_t gene_init_hi[kGeneCount];
  int32_t gene_max[kGeneCount];
  int32_t gene_step[kGeneCount];
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
  SpawnMode spawn_mode;
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

// Resets a world to its load state: all zero except spawn_mode kSpawnReseeding, both
// sound levels 100.0 and the random state 1.
void world_reset(World& world);

// The one float-to-int conversion: truncation toward zero; NaN or a value outside
// the int32 range gives INT32_MIN, as the x86 conversion does.
inline int32_t to_int32(double value) {
  // The bounds are exact doubles; truncation of anything strictly between them fits.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The random source is a linear congruential generator whose draws are 0..kRandomMax.
// The generator on a bare state, for code that looks ahead of a world's draws (the
// tests steer the world by it); random_next and rand_range are these on the world's
// random_state.
constexpr uint32_t kLcgMultiplier = 214013u;
constexpr uint32_t kLcgIncrement = 2531011u;
constexpr int32_t kRandomMax = 32767;

inline int32_t lcg_next(uint32_t& state) {
  state = state * kLcgMultiplier + kLcgIncrement;
  return static_cast<int32_t>((state >> 16) & static_cast<uint32_t>(kRandomMax));
}

// One draw mapped to a..b; b comes only for the draw kRandomMax. The span is made single
// precision first, so a span above 2^24 rounds.
inline int32_t lcg_range(uint32_t& state, int32_t a, int32_t b) {
  const float span = static_cast<float>(b - a);
  const int32_t r = lcg_next(state);
  const double q = r / static_cast<double>(kRandomMax);
  return a + to_int32(q * static_cast<double>(span));
}

void random_seed(World& world, uint32_t seed);
// Next value 0..kRandomMax.
int32_t random_next(World& world);
// One draw mapped to a..b, as lcg_range.
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
