#include "world/senses.h"

namespace {

inline bool searchable_column(int32_t x) { return x >= 1 && x <= kWorldWidth - 1; }
inline bool searchable_row(int32_t y) { return y >= 1 && y <= kWorldHeight - 1; }

inline bool try_claim(World& world, int32_t agent, int32_t x, int32_t y) {
  const int32_t e = cell_index(x, y);
  if (world.cells[e] != 1 || world.claimed[e] != 0) return false;
  world.agents.target_x[agent] = x;
  world.agents.target_y[agent] = y;
  world.claimed[e] = 1;
  return true;
}

// One side of a ring along a fixed row: x from x0 to x0 + length - 1.
inline bool scan_row(World& world, int32_t agent, int32_t y, int32_t x0, int32_t length) {
  if (!searchable_row(y)) return false;
  int32_t from = x0 < 1 ? 1 : x0;
  int32_t to = x0 + length - 1;
  if (to > kWorldWidth - 1) to = kWorldWidth - 1;
  for (int32_t x = from; x <= to; ++x) {
    if (try_claim(world, agent, x, y)) return true;
  }
  return false;
}

inline bool scan_column(World& world, int32_t agent, int32_t x, int32_t y0, int32_t length) {
  if (!searchable_column(x)) return false;
  int32_t from = y0 < 1 ? 1 : y0;
  int32_t to = y0 + length - 1;
  if (to > kWorldHeight - 1) to = kWorldHeight - 1;
  for (int32_t y = from; y <= to; ++y) {
    if (try_claim(world, agent, x, y)) return true;
  }
  return false;
}

}  // namespace

int32_t find_food(World& world, int32_t agent) {
  const int32_t px = world.agents.pos_x[agent];
  const int32_t py = world.agents.pos_y[agent];
  const int32_t rings = world.agents.search_radius[agent];
  // Each side covers 2i cells, so the ring's lower-right corner is never examined.
  for (int32_t i = 1; i < rings; ++i) {
    const int32_t side = 2 * i;
    if (scan_row(world, agent, py - i, px - i, side)) return 1;
    if (scan_row(world, agent, py + i, px - i, side)) return 1;
    if (scan_column(world, agent, px - i, py - i, side)) return 1;
    if (scan_column(world, agent, px + i, py - i, side)) return 1;
  }
  return 0;
}

void contact_scan(World& world, int32_t agent) {
  AgentTable& t = world.agents;
  const int32_t a = agent;
  t.crowd[a] = 0;
  for (int32_t j = 0; j < kMaxAgents; ++j) {
    if (j == a || t.alive[j] == 0) continue;
    const int32_t d = city_distance(t.pos_x[a], t.pos_y[a], t.pos_x[j], t.pos_y[j]);
    if (d >= t.genome[a][19]) continue;
    int32_t g = t.genome[a][12] - t.genome[j][12];
    if (g < 0) g = -g;
    const bool mates = g <= 100 && t.mode[a] == kModeMate && t.mode[j] == kModeMate;
    if (!mates) {
      t.crowd[a] += 1;
      if (g > 20) {
        const double fullness_a = static_cast<double>(t.energy[a]) / t.genome[a][5];
        const double fullness_j = static_cast<double>(t.energy[j]) / t.genome[j][5];
        const int32_t winner = fullness_j > fullness_a ? j : a;
        const int32_t loser = winner == a ? j : a;
        t.alive[loser] = 0;
        const float spoils = t.energy[loser];
        t.energy[winner] = t.energy[winner] + spoils;
        t.food_eaten[winner] =
            to_int32(static_cast<double>(t.food_eaten[winner]) + static_cast<double>(spoils));
      }
    }
    if (t.crowd[a] > t.genome[a][14]) t.alive[a] = 0;
  }
}
