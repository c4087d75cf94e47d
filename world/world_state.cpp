#include "world/world_state.h"

#include <cstring>

#include "world/world_index.h"

void world_reset(World& world) {
  std::memset(&world, 0, sizeof(World));
  world.spawn_mode = kSpawnReseeding;
  world.sound_level = 100.0f;
  world.background_level = 100.0f;
  world.random_state = 1;
  // Tests build scenes by writing a fresh world's planes: the first Life step takes
  // the full passes and starts tracking from whatever they hold.
  world_reindex(world);
}

void random_seed(World& world, uint32_t seed) { world.random_state = seed; }

int32_t random_next(World& world) { return lcg_next(world.random_state); }

int32_t rand_range(World& world, int32_t a, int32_t b) { return lcg_range(world.random_state, a, b); }

// Sites are derived with the division first: gene / 80.0 is inexact for some genes,
// which moves a few rows down by one (gene 23 gives row 114, not 115).
static int32_t site_coordinate(int32_t gene, double extent, int32_t high) {
  int32_t v = to_int32(gene / kSiteGeneParts * extent);
  if (v > high) v = high;
  if (v < kSiteLowest) v = kSiteLowest;
  return v;
}

void derive_home(World& world, int32_t agent) {
  AgentTable& t = world.agents;
  t.home_x[agent] = site_coordinate(t.genome[agent][kGeneHomeColumn], kWorldWidth, kSiteHighestColumn);
  t.home_y[agent] = site_coordinate(t.genome[agent][kGeneHomeRow], kWorldHeight, kSiteHighestRow);
}

void derive_away(World& world, int32_t agent) {
  AgentTable& t = world.agents;
  t.away_x[agent] = site_coordinate(t.genome[agent][kGeneAwayColumn], kWorldWidth, kSiteHighestColumn);
  t.away_y[agent] = site_coordinate(t.genome[agent][kGeneAwayRow], kWorldHeight, kSiteHighestRow);
}

int32_t spawn_agent(World& world, int32_t x, int32_t y, const int32_t genes[kGeneCount]) {
  AgentTable& t = world.agents;
  int32_t s = 0;
  while (s < kMaxAgents && t.alive[s] != 0) ++s;
  if (s == kMaxAgents) return kNoSlot;
  // The genes may be the chosen slot's own (a dead parent breeding into its own
  // slot), so copy through a temporary.
  int32_t copy[kGeneCount];
  std::memcpy(copy, genes, sizeof(copy));
  t.pos_x[s] = x;
  t.pos_y[s] = y;
  t.target_x[s] = 0;
  t.target_y[s] = 0;
  t.mode[s] = kModeHome;
  t.search_radius[s] = kBaseSearchRadius;
  t.plant_counter[s] = 0;
  t.age[s] = 0;
  t.food_eaten[s] = 0;
  t.alive[s] = 1;
  t.crowd[s] = 0;
  std::memcpy(t.genome[s], copy, sizeof(copy));
  t.energy[s] = static_cast<float>(2 * copy[kGeneTravelReserve]);
  derive_home(world, s);
  derive_away(world, s);
  agent_buckets_place(world, s);
  world.births_counted += 1;
  return s;
}
