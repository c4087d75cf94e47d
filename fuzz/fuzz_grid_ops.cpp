// Eating, planting, food search, contact scans and Life steps at arbitrary positions,
// far off the grid included, with arbitrary search radii and reaches, on a grid that
// holds some life: the indexed world against the plain one of tests/reference. Every
// answer must be the plain one's, the two worlds must stay equal, and the indexed one's
// indexes must match its planes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/reference/plain_world.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/world_check.h"
#include "world/world_index.h"
#include "world/world_state.h"

namespace {

World* g_fast = new World;
World* g_plain = new World;

// Both worlds' starting state, made once: some life stepped once, and four agents.
const World* starting_world(bool plain) {
  static World* start[2] = {nullptr, nullptr};
  if (start[plain] != nullptr) return start[plain];
  World* w = new World;
  world_reset(*w);
  set_default_gene_limits(*w);
  random_seed(*w, 7);
  for (int32_t x = 100; x < 140; ++x) {
    for (int32_t y = 0; y < 400; y += 3) w->cells[cell_index(x, y)] = 1;
  }
  w->cells[0] = 1;
  w->cells[kCellCount - 1] = 1;
  if (plain) {
    plain_life_step(*w);
  } else {
    world_reindex(*w);
    life_step(*w);
  }
  int32_t genes[kGeneCount];
  random_genome(*w, genes);
  for (int32_t s = 0; s < 4; ++s) spawn_agent(*w, 0, 0, genes);
  start[plain] = w;
  return w;
}

int32_t take(const uint8_t*& data, size_t& size) {
  int32_t v = 0;
  const size_t n = size < 4 ? size : 4;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

void must(bool same, const char* what, int32_t op) {
  if (same) return;
  std::fprintf(stderr, "op %d: %s\n", op, what);
  std::abort();
}

void must_agree(const World& fast, const World& plain, int32_t op) {
  const std::string d = first_world_difference(fast, plain);
  must(d.empty(), d.c_str(), op);
  const WorldCheck check = check_index(fast);
  must(check.ok != 0, check.message, op);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& fast = *g_fast;
  World& plain = *g_plain;
  std::memcpy(&fast, starting_world(false), sizeof(World));
  std::memcpy(&plain, starting_world(true), sizeof(World));

  if (size > 0 && (data[0] & 1) != 0) agent_buckets_build(fast);
  AgentTable& t = fast.agents;
  AgentTable& u = plain.agents;
  while (size >= 4) {
    const int32_t op = take(data, size) & 7;
    const int32_t slot = take(data, size) & 3;
    const int32_t x = take(data, size);
    const int32_t y = take(data, size);
    switch (op) {
      case 0:
        must(eat_at(fast, x, y) == plain_eat_at(plain, x, y), "eat_at", op);
        break;
      case 1: {
        const int32_t agent = take(data, size);
        must(plant_at(fast, x, y, agent) == plain_plant_at(plain, x, y, agent), "plant_at", op);
        break;
      }
      case 2:
        t.pos_x[slot] = u.pos_x[slot] = x;
        t.pos_y[slot] = u.pos_y[slot] = y;
        agent_buckets_place(fast, slot);
        break;
      case 3:
        // Wide searches are bounded by the grid, not by the radius.
        t.search_radius[slot] = u.search_radius[slot] = x;
        t.pos_x[slot] = u.pos_x[slot] = y;
        agent_buckets_place(fast, slot);
        must(find_food(fast, slot) == plain_find_food(plain, slot), "find_food", op);
        break;
      case 4:
        t.genome[slot][kGeneContactRadius] = u.genome[slot][kGeneContactRadius] = x;
        t.genome[slot][kGeneSpecies] = u.genome[slot][kGeneSpecies] = y;
        contact_scan(fast, slot);
        plain_contact_scan(plain, slot);
        break;
      case 5:
        t.alive[slot] = u.alive[slot] = 1;
        agent_buckets_place(fast, slot);
        break;
      case 6:
        life_step(fast);
        plain_life_step(plain);
        must_agree(fast, plain, op);
        break;
      default:
        must(find_food(fast, slot) == plain_find_food(plain, slot), "find_food", op);
        contact_scan(fast, slot);
        plain_contact_scan(plain, slot);
        break;
    }
  }
  agent_buckets_stop(fast);
  life_step(fast);
  plain_life_step(plain);
  must_agree(fast, plain, -1);
  return 0;
}
