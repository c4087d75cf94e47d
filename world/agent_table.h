#pragma once
// The agent table and the helpers every pass over it shares: the world's own turns and
// drawing, and the agent buckets kept beside it (world_index.cpp).
//
// Agents are a structure of arrays indexed by slot number: the hot per-frame passes
// (contacts, drawing) read one or two fields of every slot, so each field is its own
// contiguous array.
#include <cstdint>
#include <cstring>

#include "world/world_constants.h"

// What an agent is doing, which decides where it heads. The values are those the world
// stream holds (four bytes each, docs/world-stream.md); a value read from a stream may
// be any int32, which check_world reports.
enum AgentMode : int32_t {
  kModeForage = 0,  // searching for food, and eating where it stands
  kModeHome = 1,    // heading for its home site, planting near it
  kModeAway = 2,    // heading for its away site, planting near it
  kModeMate = 3,    // heading home to breed there
};

struct AgentTable {
  int32_t alive[kMaxAgents];
  int32_t pos_x[kMaxAgents];
  int32_t pos_y[kMaxAgents];
  int32_t target_x[kMaxAgents];
  int32_t target_y[kMaxAgents];
  AgentMode mode[kMaxAgents];
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
