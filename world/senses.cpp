#include "world/senses.h"

#include "world/agent_table.h"
#include "world/world_index.h"

namespace {

// Two agents whose species genes differ by at most kMatesSpeciesGap may pass as mates;
// two that differ by more than kRivalsSpeciesGap fight.
constexpr int64_t kMatesSpeciesGap = 100;
constexpr int64_t kRivalsSpeciesGap = 20;

inline bool try_claim(World& world, int32_t agent, int32_t x, int32_t y) {
  const int32_t e = cell_index(x, y);
  if (world.cells[e] != 1 || world.claimed[e] != 0) return false;
  world.agents.target_x[agent] = x;
  world.agents.target_y[agent] = y;
  world.claimed[e] = 1;
  GridTracker& g = world.index.grid;
  track_cell(world.index, g.claimed, g.claimed_count, e);
  food_index_take(world, e);
  return true;
}

// Ring sides are worked out in 64 bits: an agent far off the grid with a wide search
// must not overflow. A side's cells within the searchable columns or rows, as
// [from, to]; empty when from > to.
inline void clip_side(int64_t start, int64_t length, int32_t limit, int32_t& from, int32_t& to) {
  const int64_t first = start < 1 ? 1 : start;
  const int64_t last = start + length - 1 > limit ? limit : start + length - 1;
  from = first > limit ? limit + 1 : static_cast<int32_t>(first);
  to = last < 1 ? 0 : static_cast<int32_t>(last);
}

// The rings that can hold a searchable cell: ring i lies at Chebyshev distance i, so
// rings nearer than the searchable area or beyond its farthest corner are empty.
inline void reachable_rings(int32_t px, int32_t py, int32_t rings, int64_t& first, int64_t& last) {
  const int64_t x = px;
  const int64_t y = py;
  const int64_t gap_x = x < 1 ? 1 - x : (x > kWorldWidth - 1 ? x - (kWorldWidth - 1) : 0);
  const int64_t gap_y = y < 1 ? 1 - y : (y > kWorldHeight - 1 ? y - (kWorldHeight - 1) : 0);
  const int64_t far_x = x - 1 > (kWorldWidth - 1) - x ? x - 1 : (kWorldWidth - 1) - x;
  const int64_t far_y = y - 1 > (kWorldHeight - 1) - y ? y - 1 : (kWorldHeight - 1) - y;
  first = gap_x > gap_y ? gap_x : gap_y;
  if (first < 1) first = 1;
  last = far_x > far_y ? far_x : far_y;
  if (last > static_cast<int64_t>(rings) - 1) last = static_cast<int64_t>(rings) - 1;
}

// One side of a ring along a fixed row, x from x0 to x0 + length - 1, stepping over
// row segments that hold no food.
inline bool scan_row(World& world, int32_t agent, int64_t y64, int64_t x0, int64_t length) {
  const FoodIndex& f = world.index.food;
  if (y64 < 1 || y64 > kWorldHeight - 1) return false;
  const int32_t y = static_cast<int32_t>(y64);
  if (f.row_total[y] == 0) return false;
  int32_t x, to;
  clip_side(x0, length, kWorldWidth - 1, x, to);
  while (x <= to) {
    const int32_t segment = x >> kFoodSegmentShift;
    int32_t segment_end = ((segment + 1) << kFoodSegmentShift) - 1;
    if (segment_end > to) segment_end = to;
    if (f.row_segment[y][segment] != 0) {
      for (; x <= segment_end; ++x) {
        if (try_claim(world, agent, x, y)) return true;
      }
    }
    x = segment_end + 1;
  }
  return false;
}

// The same down a fixed column.
inline bool scan_column(World& world, int32_t agent, int64_t x64, int64_t y0, int64_t length) {
  const FoodIndex& f = world.index.food;
  if (x64 < 1 || x64 > kWorldWidth - 1) return false;
  const int32_t x = static_cast<int32_t>(x64);
  if (f.column_total[x] == 0) return false;
  int32_t y, to;
  clip_side(y0, length, kWorldHeight - 1, y, to);
  while (y <= to) {
    const int32_t segment = y >> kFoodSegmentShift;
    int32_t segment_end = ((segment + 1) << kFoodSegmentShift) - 1;
    if (segment_end > to) segment_end = to;
    if (f.column_segment[x][segment] != 0) {
      for (; y <= segment_end; ++y) {
        if (try_claim(world, agent, x, y)) return true;
      }
    }
    y = segment_end + 1;
  }
  return false;
}

}  // namespace

int32_t find_food(World& world, int32_t agent) {
  // The Life step keeps the index while it tracks; a world whose planes were written
  // directly since (a loaded snapshot, a scene) has it counted from the planes here,
  // for this search alone: nothing keeps it until the next step tracks again.
  if (!world.index.tracking) food_index_build(world);
  if (world.index.food.total == 0) return 0;
  const int32_t px = world.agents.pos_x[agent];
  const int32_t py = world.agents.pos_y[agent];
  // Each side covers 2i cells, so the ring's lower-right corner is never examined.
  int64_t first, last;
  reachable_rings(px, py, world.agents.search_radius[agent], first, last);
  for (int64_t i = first; i <= last; ++i) {
    const int64_t side = 2 * i;
    if (scan_row(world, agent, py - i, px - i, side)) return 1;
    if (scan_row(world, agent, py + i, px - i, side)) return 1;
    if (scan_column(world, agent, px - i, py - i, side)) return 1;
    if (scan_column(world, agent, px + i, py - i, side)) return 1;
  }
  return 0;
}

// One meeting of the scan: mates pass, others are counted and rivals fight.
static inline void meet(World& world, int32_t a, int32_t j) {
  AgentTable& t = world.agents;
  // Widened: a gene written from outside the limits must not overflow the difference.
  int64_t g = static_cast<int64_t>(t.genome[a][kGeneSpecies]) - t.genome[j][kGeneSpecies];
  if (g < 0) g = -g;
  const bool mates = g <= kMatesSpeciesGap && t.mode[a] == kModeMate && t.mode[j] == kModeMate;
  if (!mates) {
    t.crowd[a] += 1;
    if (g > kRivalsSpeciesGap) {
      const double fullness_a = static_cast<double>(t.energy[a]) / t.genome[a][kGeneEnergyCeiling];
      const double fullness_j = static_cast<double>(t.energy[j]) / t.genome[j][kGeneEnergyCeiling];
      const int32_t winner = fullness_j > fullness_a ? j : a;
      const int32_t loser = winner == a ? j : a;
      agent_dies(world, loser);
      const float spoils = t.energy[loser];
      t.energy[winner] = t.energy[winner] + spoils;
      t.food_eaten[winner] =
          to_int32(static_cast<double>(t.food_eaten[winner]) + static_cast<double>(spoils));
    }
  }
  if (t.crowd[a] > t.genome[a][kGeneCrowdTolerance]) agent_dies(world, a);
}

void contact_scan(World& world, int32_t agent) {
  AgentTable& t = world.agents;
  const int32_t a = agent;
  const int32_t reach = t.genome[a][kGeneContactRadius];
  t.crowd[a] = 0;
  if (world.index.buckets.active && reach <= kWorldWidth) {
    // Positions do not change during a scan and nobody is born in it, so the slots
    // in reach at its start, in ascending order, are the ones the full pass meets.
    const int32_t n = agent_buckets_gather(world, t.pos_x[a], t.pos_y[a], reach, a);
    const int32_t* found = world.index.buckets.found;
    for (int32_t i = 0; i < n; ++i) {
      if (t.alive[found[i]] != 0) meet(world, a, found[i]);
    }
    return;
  }
  for (int32_t j = 0; j < kMaxAgents; ++j) {
    if (j == a || t.alive[j] == 0) continue;
    if (city_distance(t.pos_x[a], t.pos_y[a], t.pos_x[j], t.pos_y[j]) >= reach) continue;
    meet(world, a, j);
  }
}
