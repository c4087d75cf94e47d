// Eating, planting, food search and contact scans at arbitrary positions, far off
// the grid included, with arbitrary search radii and reaches, on a grid that holds
// some life, through both the plain passes and the indexes.
#include <cstdint>
#include <cstring>

#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/world_state.h"

namespace {

World* g_world = new World;

int32_t take(const uint8_t*& data, size_t& size) {
  int32_t v = 0;
  const size_t n = size < 4 ? size : 4;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = *g_world;
  world_load_state(world);
  set_default_gene_limits(world);
  random_seed(world, 7);
  for (int32_t x = 100; x < 140; ++x) {
    for (int32_t y = 0; y < 400; y += 3) world.cells[cell_index(x, y)] = 1;
  }
  world.cells[0] = 1;
  world.cells[kCellCount - 1] = 1;
  world_reindex(world);
  life_step(world);

  int32_t genes[kGeneCount];
  random_genome(world, genes);
  for (int32_t s = 0; s < 4; ++s) spawn_agent(world, 0, 0, genes);

  const bool indexed = size > 0 && (data[0] & 1) != 0;
  if (indexed) {
    food_index_build(world);
    agent_buckets_build(world);
  }
  AgentTable& t = world.agents;
  while (size >= 4) {
    const int32_t op = take(data, size) & 7;
    const int32_t slot = take(data, size) & 3;
    const int32_t x = take(data, size);
    const int32_t y = take(data, size);
    switch (op) {
      case 0:
        eat_at(world, x, y);
        break;
      case 1:
        plant_at(world, x, y, take(data, size));
        break;
      case 2:
        t.pos_x[slot] = x;
        t.pos_y[slot] = y;
        agent_buckets_place(world, slot);
        break;
      case 3:
        // Wide searches are bounded by the grid, not by the radius.
        t.search_radius[slot] = x;
        t.pos_x[slot] = y;
        agent_buckets_place(world, slot);
        find_food(world, slot);
        break;
      case 4:
        t.genome[slot][19] = x;
        t.genome[slot][12] = y;
        contact_scan(world, slot);
        break;
      case 5:
        t.alive[slot] = 1;
        agent_buckets_place(world, slot);
        break;
      default:
        find_food(world, slot);
        contact_scan(world, slot);
        break;
    }
  }
  agent_buckets_stop(world);
  life_step(world);
  return 0;
}
