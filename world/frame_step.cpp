#include "world/frame_step.h"

#include "world/agent_behaviour.h"
#include "world/agent_table.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/sound.h"
#include "world/world_index.h"

namespace {

// A re-seeded agent is spawned here and at once moved to its own home site.
constexpr int32_t kReseedSpawnX = 495;
constexpr int32_t kReseedSpawnY = 200;
// A crowding cull keeps no two survivors closer than this.
constexpr int32_t kCrowdingDistance = 20;
// A random cull spares an agent whose draw from 0..100 is at most this: about 11 %.
constexpr int32_t kSparedAtOrBelow = 10;

// Every living agent has its turn, in ascending slot order. The flags are read as the
// loop goes: an agent killed earlier in the loop is skipped, and one born into a
// higher slot has its turn in this same frame. Returns how many had a turn, those
// that died in it included.
int32_t update_agents(World& world) {
  const AgentTable& t = world.agents;
  int32_t updated = 0;
  for (int32_t slot = 0; slot < kMaxAgents; ++slot) {
    if (slot % 8 == 0 && free_eight(t, slot)) {
      slot += 7;
      continue;
    }
    if (t.alive[slot] != 1) continue;
    update_agent(world, slot);
    updated += 1;
  }
  return updated;
}

// About one frame in five plants the pattern of a random slot, alive or not, at a
// random place. The place is drawn as row 0..1000 and column 0..1000 and taken as a
// plane element, so a row past the grid lands in a following column; elements past
// the planes, and slot 10000, plant nothing.
void plant_at_random(World& world) {
  if (rand_range(world, 0, 5) != 1) return;
  const int32_t slot = rand_range(world, 0, 10000);
  const int32_t y = rand_range(world, 0, 1000);
  const int32_t x = rand_range(world, 0, 1000);
  const int32_t e = x * kColumnStep + y;
  if (slot < kMaxAgents && e < kCellCount) plant_at(world, e / kColumnStep, e % kColumnStep, slot);
}

// One random agent on its own home site, with half its energy ceiling. Its genome
// stays in reseed_genome for the survivors of a later crash.
void reseed_one(World& world) {
  AgentTable& t = world.agents;
  random_genome(world, world.reseed_genome);
  const int32_t s = spawn_agent(world, kReseedSpawnX, kReseedSpawnY, world.reseed_genome);
  if (s == kNoSlot) return;
  t.pos_x[s] = t.home_x[s];
  t.pos_y[s] = t.home_y[s];
  agent_buckets_place(world, s);
  t.energy[s] = static_cast<float>(t.genome[s][kGeneEnergyCeiling] / 2);
}

// A population that has dwindled is re-seeded, and its survivors all get the same
// fresh energy: twice the travel reserve of the genome last drawn for re-seeding.
// That genome may be many frames old; it is what the survivors have always been
// given, so it stays.
void start_reseeding(World& world) {
  AgentTable& t = world.agents;
  world.spawn_mode = kSpawnReseeding;
  const float energy = static_cast<float>(2 * world.reseed_genome[kGeneTravelReserve]);
  for (int32_t i = 0; i < kMaxAgents; ++i) {
    if (t.alive[i] == 1) t.energy[i] = energy;
  }
}

// Re-seeding, the discarded draw, and the thresholds that start and stop re-seeding
// and cull, in that order, all by the frame's count rather than a census.
void apply_population_policy(World& world, int32_t agent_count, FrameReport& report) {
  if (world.spawn_mode == kSpawnReseeding) {
    reseed_one(world);
    // Counted whether or not the table had a free slot, as it always has been: the
    // count drives the thresholds below, and a full table never re-seeds anyway.
    agent_count += 1;
  }
  // A draw whose value nobody uses. Kept on purpose: it advances the random sequence,
  // and every recorded world depends on where that sequence stands.
  if (agent_count < kDiscardedDrawBelow) rand_range(world, 0, 500);
  if (agent_count <= kReseedAtOrBelow && world.spawn_mode != kSpawnReseeding) {
    start_reseeding(world);
    report.reseeding_started = 1;
  }
  if (agent_count > kReseedUntilAbove) world.spawn_mode = kSpawnBreeding;
  if (agent_count > kCullAbove) {
    const CullKind kind = rand_range(world, 0, 2) == 1 ? kCullRandom : kCullCrowding;
    cull_population(world, kind);
    report.cull = kind;
  }
  report.agents_counted = agent_count;
}

}  // namespace

void cull_population(World& world, CullKind kind) {
  AgentTable& t = world.agents;
  if (kind == kCullCrowding) {
    // Killing is the same whatever the order within one survivor's neighbourhood,
    // so the buckets' slots serve as well as a pass over the table in slot order.
    for (int32_t i = 0; i < kMaxAgents; ++i) {
      if (t.alive[i] != 1) continue;
      const int32_t n = agent_buckets_gather(world, t.pos_x[i], t.pos_y[i], kCrowdingDistance, i);
      for (int32_t k = 0; k < n; ++k) agent_dies(world, world.index.buckets.found[k]);
    }
  } else if (kind == kCullRandom) {
    for (int32_t i = 0; i < kMaxAgents; ++i) {
      if (t.alive[i] != 1) continue;
      if (rand_range(world, 0, 100) > kSparedAtOrBelow) agent_dies(world, i);
    }
  }

  wipe_grid(world);

  for (int32_t i = 0; i < kMaxAgents; ++i) {
    if (t.alive[i] != 1) continue;
    t.energy[i] = 2.0f * t.energy[i];
    const int32_t ceiling = t.genome[i][kGeneEnergyCeiling];
    if (static_cast<double>(ceiling) < t.energy[i]) t.energy[i] = static_cast<float>(ceiling);
  }
}

FrameReport frame_step(World& world, Canvas& canvas, const uint8_t* spectrum, uint32_t seed) {
  FrameReport report = {};
  world.births_counted = 0;
  world.deaths_counted = 0;

  analyse_bands(world, spectrum);
  update_sound_levels(world);

  if (world.frame_count == 0) {
    random_seed(world, seed);
    set_default_gene_limits(world);
  }

  if (world.frame_count > kStartupFrames) {
    // The grid tracker and food index come up to date in the Life step; the buckets
    // then hold for the rest of the frame (world_index.h).
    life_step(world);
    agent_buckets_build(world);
    const int32_t updated = update_agents(world);
    plant_at_random(world);
    // The picture shows the world before re-seeding and culling: their effects show
    // from the next frame on.
    draw_world_tracked(world, canvas);
    report.picture = canvas.changes_known ? kPictureListed : kPictureRedrawn;
    apply_population_policy(world, updated, report);
    agent_buckets_stop(world);
  }

  if (world.frame_count < INT32_MAX) world.frame_count += 1;
  report.births = world.births_counted;
  report.deaths = world.deaths_counted;
  return report;
}
