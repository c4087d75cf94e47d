#include "world/world_check.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "world/agent_table.h"
#include "world/sound.h"
#include "world/world_index.h"

// Builds made for finding faults check the indexes along with the rest of the world:
// every Debug build, and the fuzz targets, which define the macro themselves.
#if !defined(NDEBUG) && !defined(CORVANTA_CHECK_INDEXES)
#define CORVANTA_CHECK_INDEXES 1
#endif

namespace {

// The longest long step the default gene limits allow (gene_max of kGeneLongStep), in
// cells.
constexpr int32_t kLongestStep = 40;
// The lowest a search radius can fall: it wears down only while above
// kLeastWornSearchRadius, by at most one longest step along each axis.
constexpr int32_t kLowestSearchRadius = kLeastWornSearchRadius + 1 - 2 * kLongestStep;
// A band's sum is that of its bins' spectrum bytes.
constexpr int32_t kHighestBandSum = kBandBins * 255;

template <typename... Args>
bool fail(WorldCheck& check, const char* format, Args... args) {
  check.ok = 0;
  std::snprintf(check.message, sizeof(check.message), format, args...);
  return false;
}

bool check_planes(const World& w, WorldCheck& c) {
  for (int32_t e = 0; e < kCellCount; ++e) {
    const int32_t x = e / kWorldHeight;
    const int32_t y = e % kWorldHeight;
    if (w.cells[e] != 0 && w.cells[e] != 1) return fail(c, "cells (%d, %d) = %d", x, y, w.cells[e]);
    if (w.next_cells[e] != 0 && w.next_cells[e] != 1) {
      return fail(c, "next_cells (%d, %d) = %d", x, y, w.next_cells[e]);
    }
    if (w.claimed[e] != 0 && w.claimed[e] != 1) return fail(c, "claimed (%d, %d) = %d", x, y, w.claimed[e]);
    if (w.dead_run[e] != 0) return fail(c, "dead_run (%d, %d) = %d", x, y, w.dead_run[e]);
  }
  return true;
}

bool check_sound(const World& w, WorldCheck& c) {
  for (int32_t i = 0; i < kBandCount; ++i) {
    if (w.band_sum[i] < 0 || w.band_sum[i] > kHighestBandSum) {
      return fail(c, "band_sum[%d] = %d", i, w.band_sum[i]);
    }
    if (w.band_peak[i] < 0) return fail(c, "band_peak[%d] = %d", i, w.band_peak[i]);
    if (w.band_stale[i] < 0) return fail(c, "band_stale[%d] = %d", i, w.band_stale[i]);
  }
  if (!(w.sound_level >= 0.0f && w.sound_level <= kHighestSoundLevel)) {
    return fail(c, "sound_level = %g", static_cast<double>(w.sound_level));
  }
  if (!(w.background_level >= 0.0f && w.background_level <= kHighestSoundLevel)) {
    return fail(c, "background_level = %g", static_cast<double>(w.background_level));
  }
  if (w.spawn_mode != kSpawnBreeding && w.spawn_mode != kSpawnReseeding) {
    return fail(c, "spawn_mode = %d", static_cast<int32_t>(w.spawn_mode));
  }
  if (w.frame_count < 0) return fail(c, "frame_count = %d", w.frame_count);
  return true;
}

bool site_column(int32_t x) { return x >= kSiteLowest && x <= kSiteHighestColumn; }
bool site_row(int32_t y) { return y >= kSiteLowest && y <= kSiteHighestRow; }

bool check_agent(const World& w, int32_t s, WorldCheck& c) {
  const AgentTable& t = w.agents;
  if (t.alive[s] != 0 && t.alive[s] != 1) return fail(c, "alive slot %d = %d", s, t.alive[s]);
  if (t.mode[s] < kModeForage || t.mode[s] > kModeMate) {
    return fail(c, "mode slot %d = %d", s, static_cast<int32_t>(t.mode[s]));
  }
  if (t.alive[s] == 0) return true;
  // Gene limits hold from the first frame on; the position marker is rewritten from
  // the position every update and may stand outside them.
  if (w.frame_count > 0) {
    for (int32_t g = 0; g < kGeneCount; ++g) {
      if (g == kGenePositionMarker) continue;
      const int32_t v = t.genome[s][g];
      if (v < w.limits.gene_min[g] || v > w.limits.gene_max[g]) {
        return fail(c, "genome slot %d gene %d = %d", s, g, v);
      }
    }
  }
  if (t.search_radius[s] < kLowestSearchRadius || t.search_radius[s] > kWidestSearchRadius) {
    return fail(c, "search_radius slot %d = %d", s, t.search_radius[s]);
  }
  const int32_t period = t.genome[s][kGenePlantingPeriod] > 1 ? t.genome[s][kGenePlantingPeriod] : 1;
  if (t.plant_counter[s] < 0 || t.plant_counter[s] >= period) {
    return fail(c, "plant_counter slot %d = %d", s, t.plant_counter[s]);
  }
  if (!site_column(t.home_x[s])) return fail(c, "home_x slot %d = %d", s, t.home_x[s]);
  if (!site_row(t.home_y[s])) return fail(c, "home_y slot %d = %d", s, t.home_y[s]);
  if (!site_column(t.away_x[s])) return fail(c, "away_x slot %d = %d", s, t.away_x[s]);
  if (!site_row(t.away_y[s])) return fail(c, "away_y slot %d = %d", s, t.away_y[s]);
  if (std::isnan(t.energy[s])) return fail(c, "energy slot %d = %g", s, static_cast<double>(t.energy[s]));
  return true;
}

// ---- indexes ----

// Scratch of check_index, kept out of the World so the checks cost the frame nothing:
// the live bitmap as the cells plane gives it, every cell's live neighbours, which of
// the tracker's lists name each cell, and the food counts the grid gives.
uint64_t g_live_rows[kWorldHeight][kRowWords];
int32_t g_true_counts[kCellCount];
uint8_t g_listed[kCellCount];
constexpr uint8_t kOnPlanted = 1;
constexpr uint8_t kOnClaimed = 2;
constexpr uint8_t kOnStale = 4;

struct FoodCounts {
  int32_t total;
  int32_t row_total[kWorldHeight];
  int32_t column_total[kWorldWidth];
  int32_t row_segment[kWorldHeight][kRowSegments];
  int32_t column_segment[kWorldWidth][kColumnSegments];
};
FoodCounts g_food;

inline bool live_in(const uint64_t (&rows)[kWorldHeight][kRowWords], int32_t x, int32_t y) {
  return ((rows[y][x >> 6] >> (x & 63)) & 1) != 0;
}

// Calls visit(x, y) for every live cell of the scratch bitmap, row by row.
template <typename Visit>
void for_each_live(Visit visit) {
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t w = 0; w < kRowWords; ++w) {
      for (uint64_t bits = g_live_rows[y][w]; bits != 0; bits &= bits - 1) visit(64 * w + __builtin_ctzll(bits), y);
    }
  }
}

void read_live_cells(const World& w) {
  std::memset(g_live_rows, 0, sizeof(g_live_rows));
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    const int32_t* column = w.cells + x * kWorldHeight;
    for (int32_t y = 0; y < kWorldHeight; ++y) {
      if (column[y] == 1) g_live_rows[y][x >> 6] |= uint64_t{1} << (x & 63);
    }
  }
}

bool list_cells(const int32_t* list, int32_t count, int32_t capacity, const char* name, uint8_t flag,
                WorldCheck& c) {
  if (count < 0 || count > capacity) return fail(c, "tracker %s_count is %d, outside 0..%d", name, count, capacity);
  for (int32_t i = 0; i < count; ++i) {
    if (list[i] < 0 || list[i] >= kCellCount) return fail(c, "tracker %s[%d] is %d, not a cell", name, i, list[i]);
    g_listed[list[i]] |= flag;
  }
  return true;
}

// What a cell the quick pass doubts must satisfy; false with the message if it does not.
bool check_tracked_cell(const World& w, int32_t x, int32_t y, WorldCheck& c) {
  const GridTracker& g = w.index.grid;
  const int32_t e = cell_index(x, y);
  const int32_t kind = w.cells[e];
  const int32_t count = w.neighbours[e];
  // Only planting forces a count away from the live neighbours; the step recounts
  // what its list names.
  if (count != g_true_counts[e] && (g_listed[e] & kOnPlanted) == 0) {
    return fail(c, "tracker count (%d, %d) is %d, its neighbours give %d, and it is not on the planted list", x, y,
                count, g_true_counts[e]);
  }
  if (w.next_cells[e] != kind && (g_listed[e] & kOnStale) == 0) {
    return fail(c, "tracker next_cells (%d, %d) is %d, cells gives %d, and it is not on the stale list", x, y,
                w.next_cells[e], kind);
  }
  if (w.claimed[e] != 0 && (g_listed[e] & kOnClaimed) == 0) {
    return fail(c, "tracker claimed (%d, %d) is set but not on the claimed list", x, y);
  }
  // The step recomputes only marked words: a cell the rule changes must lie in one.
  const int32_t next = kind != 0 ? (count == 2 || count == 3) : (count == 3);
  if (next != kind && ((g.dirty_words[y] >> (x >> 6)) & 1) == 0) {
    return fail(c, "tracker (%d, %d) changes at the next step (kind %d, count %d) but word %d of row %d is not marked",
                x, y, kind, count, x >> 6, y);
  }
  return true;
}

// A tracker that waits for the full passes promises nothing: they rebuild it.
bool check_tracker(const World& w, WorldCheck& c) {
  const GridTracker& g = w.index.grid;
  if (!w.index.tracking) return true;
  if (std::memcmp(g.live_rows, g_live_rows, sizeof(g_live_rows)) != 0) {
    for (int32_t x = 0; x < 64 * kRowWords; ++x) {
      for (int32_t y = 0; y < kWorldHeight; ++y) {
        const bool kept = live_in(g.live_rows, x, y);
        if (kept == live_in(g_live_rows, x, y)) continue;
        if (x >= kWorldWidth) return fail(c, "tracker live bit (%d, %d) is set beyond the grid", x, y);
        return fail(c, "tracker live bit (%d, %d) is %d, the cells plane gives %d", x, y, kept ? 1 : 0, w.cells[cell_index(x, y)]);
      }
    }
  }

  std::memset(g_listed, 0, sizeof(g_listed));
  if (!list_cells(g.planted, g.planted_count, kPlantedCapacity, "planted", kOnPlanted, c) ||
      !list_cells(g.claimed, g.claimed_count, kClaimedCapacity, "claimed", kOnClaimed, c) ||
      !list_cells(g.stale, g.stale_count, kStaleCapacity, "stale", kOnStale, c)) {
    return false;
  }

  std::memset(g_true_counts, 0, sizeof(g_true_counts));
  // kAround (world_constants.h): a neighbour beyond either end of the planes is dead.
  for_each_live([](int32_t x, int32_t y) {
    const int32_t e = cell_index(x, y);
    for (int32_t o : kAround) {
      if (e + o >= 0 && e + o < kCellCount) g_true_counts[e + o] += 1;
    }
  });

  // Most cells have their true count, their kind in next_cells, no claim, and a kind
  // the rule keeps: one quick test each, and a closer look at the rest.
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    const int32_t base = x * kWorldHeight;
    const int32_t* cells = w.cells + base;
    const int32_t* counts = w.neighbours + base;
    const int32_t* next = w.next_cells + base;
    const int32_t* claimed = w.claimed + base;
    const int32_t* true_counts = g_true_counts + base;
    for (int32_t y = 0; y < kWorldHeight; ++y) {
      const int32_t kind = cells[y];
      const int32_t n = counts[y];
      const int32_t rule = kind != 0 ? (n == 2) | (n == 3) : (n == 3);
      const int32_t doubt = (n != true_counts[y]) | (next[y] != kind) | (claimed[y] != 0) | (rule != kind);
      if (doubt != 0 && !check_tracked_cell(w, x, y, c)) return false;
    }
  }
  return true;
}

bool check_food(const World& w, WorldCheck& c) {
  const FoodIndex& f = w.index.food;
  if (!w.index.tracking) return true;
  std::memset(&g_food, 0, sizeof(g_food));
  for_each_live([&](int32_t x, int32_t y) {
    if (w.claimed[cell_index(x, y)] != 0) return;
    g_food.total += 1;
    g_food.row_total[y] += 1;
    g_food.column_total[x] += 1;
    g_food.row_segment[y][x >> kFoodSegmentShift] += 1;
    g_food.column_segment[x][y >> kFoodSegmentShift] += 1;
  });
  if (f.total != g_food.total) return fail(c, "food total is %d, the grid gives %d", f.total, g_food.total);
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    if (f.row_total[y] != g_food.row_total[y]) {
      return fail(c, "food row_total[%d] is %d, the grid gives %d", y, f.row_total[y], g_food.row_total[y]);
    }
  }
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    if (f.column_total[x] != g_food.column_total[x]) {
      return fail(c, "food column_total[%d] is %d, the grid gives %d", x, f.column_total[x], g_food.column_total[x]);
    }
  }
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t s = 0; s < kRowSegments; ++s) {
      if (f.row_segment[y][s] != g_food.row_segment[y][s]) {
        return fail(c, "food row_segment[%d][%d] is %d, the grid gives %d", y, s, f.row_segment[y][s],
                    g_food.row_segment[y][s]);
      }
    }
  }
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    for (int32_t s = 0; s < kColumnSegments; ++s) {
      if (f.column_segment[x][s] != g_food.column_segment[x][s]) {
        return fail(c, "food column_segment[%d][%d] is %d, the grid gives %d", x, s, f.column_segment[x][s],
                    g_food.column_segment[x][s]);
      }
    }
  }
  return true;
}

// The bucket a coordinate belongs in, counted from kBucketMargin before the grid;
// everything beyond the margins shares the outermost ones.
int32_t expected_bucket(int32_t v, int32_t count) {
  const int64_t from_margin = static_cast<int64_t>(v) + kBucketMargin;
  if (from_margin < 0) return 0;
  const int64_t k = from_margin / (int64_t{1} << kBucketShift);
  return k >= count ? count - 1 : static_cast<int32_t>(k);
}

bool check_buckets(const World& w, WorldCheck& c) {
  const AgentBuckets& b = w.index.buckets;
  const AgentTable& t = w.agents;
  if (!b.active) return true;
  int32_t listed = 0;
  for (int32_t k = 0; k < kBucketRows * kBucketColumns; ++k) {
    // A list that runs in a circle meets a slot whose prev is not the one before.
    int32_t prev = -1;
    for (int32_t s = b.head[k]; s >= 0; s = b.next[s]) {
      if (s >= kMaxAgents) return fail(c, "buckets bucket %d lists %d, not a slot", k, s);
      if (b.linked_in[s] != b.generation) {
        return fail(c, "buckets bucket %d lists slot %d, not linked in this generation", k, s);
      }
      if (b.bucket[s] != k) return fail(c, "buckets bucket %d lists slot %d, whose bucket is %d", k, s, b.bucket[s]);
      if (b.prev[s] != prev) return fail(c, "buckets slot %d's prev is %d, its list gives %d", s, b.prev[s], prev);
      prev = s;
      listed += 1;
    }
  }
  int32_t linked = 0;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    const bool linked_now = b.linked_in[s] == b.generation;
    linked += linked_now ? 1 : 0;
    if (t.alive[s] != 1) continue;
    const int32_t want =
        expected_bucket(t.pos_y[s], kBucketRows) * kBucketColumns + expected_bucket(t.pos_x[s], kBucketColumns);
    if (!linked_now) return fail(c, "buckets slot %d at (%d, %d) is alive but in no bucket", s, t.pos_x[s], t.pos_y[s]);
    if (b.bucket[s] != want) {
      return fail(c, "buckets slot %d at (%d, %d) is in bucket %d, its position gives %d", s, t.pos_x[s], t.pos_y[s],
                  b.bucket[s], want);
    }
  }
  if (listed != linked) return fail(c, "buckets link %d slots in this generation, their lists hold %d", linked, listed);
  return true;
}

WorldCheck check_world_alone(const World& world) {
  WorldCheck check{};
  check.ok = 1;
  if (!check_planes(world, check) || !check_sound(world, check)) return check;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    if (!check_agent(world, s, check)) return check;
  }
  std::snprintf(check.message, sizeof(check.message), "ok");
  return check;
}

}  // namespace

WorldCheck check_index(const World& world) {
  WorldCheck check{};
  check.ok = 1;
  read_live_cells(world);
  if (!check_tracker(world, check) || !check_food(world, check) || !check_buckets(world, check)) return check;
  std::snprintf(check.message, sizeof(check.message), "ok");
  return check;
}

WorldCheck check_world_and_index(const World& world) {
  const WorldCheck check = check_world_alone(world);
  return check.ok ? check_index(world) : check;
}

WorldCheck check_world(const World& world) {
#if defined(CORVANTA_CHECK_INDEXES) && CORVANTA_CHECK_INDEXES
  return check_world_and_index(world);
#else
  return check_world_alone(world);
#endif
}
