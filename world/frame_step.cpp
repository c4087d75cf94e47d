#include "world/frame_step.h"

#include <ctime>

#include "world/agent_behaviour.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/sound.h"

static uint32_t calendar_seconds(const World& world) {
  if (world.calendar_seconds != nullptr) return world.calendar_seconds(world.calendar_context);
  return static_cast<uint32_t>(std::time(nullptr));
}

void cull_population(World& world, int32_t kind) {
  AgentTable& t = world.agents;
  if (kind == kCullCrowding) {
    // Killing is the same whatever the order within one survivor's neighbourhood,
    // so the buckets' slots serve as well as the full pass in slot order.
    agent_buckets_build(world);
    for (int32_t i = 0; i < kMaxAgents; ++i) {
      if (t.alive[i] != 1) continue;
      const int32_t n = agent_buckets_gather(world, t.pos_x[i], t.pos_y[i], 20, i);
      for (int32_t k = 0; k < n; ++k) t.alive[world.index.buckets.found[k]] = 0;
    }
    agent_buckets_stop(world);
  } else if (kind == kCullRandom) {
    for (int32_t i = 0; i < kMaxAgents; ++i) {
      if (t.alive[i] != 1) continue;
      if (rand_range(world, 0, 100) > 10) t.alive[i] = 0;
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

int32_t frame_step(World& world, Canvas& canvas, const uint8_t* spectrum) {
  analyse_bands(world, spectrum);
  update_sound_levels(world);

  if (world.frame_count == 0) {
    random_seed(world, calendar_seconds(world));
    set_default_gene_limits(world);
  }

  if (world.frame_count > kStartupFrames) {
    AgentTable& t = world.agents;
    life_step(world);

    agent_buckets_build(world);
    int32_t agent_count = 0;
    for (int32_t slot = 0; slot < kMaxAgents; ++slot) {
      if (slot % 8 == 0 && free_eight(t, slot)) {
        slot += 7;
        continue;
      }
      if (t.alive[slot] != 1) continue;
      update_agent(world, slot);
      agent_count += 1;
    }
    agent_buckets_stop(world);

    // Random planting. The drawn row may exceed the grid: the position is taken
    // as a plane element, which lands in a following column or off the planes.
    if (rand_range(world, 0, 5) == 1) {
      const int32_t slot = rand_range(world, 0, 10000);
      const int32_t y = rand_range(world, 0, 1000);
      const int32_t x = rand_range(world, 0, 1000);
      const int32_t e = x * kWorldHeight + y;
      if (slot < kMaxAgents && e < kCellCount) plant_at(world, e / kWorldHeight, e % kWorldHeight, slot);
    }

    draw_world_tracked(world, canvas);

    if (world.spawn_mode == 1) {
      random_genome(world, world.reseed_genome);
      const int32_t s = spawn_agent(world, 495, 200, world.reseed_genome);
      if (s != kNoSlot) {
        t.pos_x[s] = t.home_x[s];
        t.pos_y[s] = t.home_y[s];
        t.energy[s] = static_cast<float>(t.genome[s][kGeneEnergyCeiling] / 2);
      }
      agent_count += 1;
    }

    if (agent_count < 400) rand_range(world, 0, 500);

    if (agent_count <= 6 && world.spawn_mode != 1) {
      world.spawn_mode = 1;
      const float energy = static_cast<float>(2 * world.reseed_genome[kGeneTravelReserve]);
      for (int32_t i = 0; i < kMaxAgents; ++i) {
        if (t.alive[i] == 1) t.energy[i] = energy;
      }
    }

    if (agent_count > 50) world.spawn_mode = 0;

    if (agent_count > 1000) {
      const int32_t k = rand_range(world, 0, 2);
      cull_population(world, k == 1 ? kCullRandom : kCullCrowding);
    }
  }

  present(canvas);
  if (world.frame_count < INT32_MAX) world.frame_count += 1;
  return 0;
}
