#include "world/world_check.h"

#include <cmath>
#include <cstdio>

namespace {

// The lowest a search radius can fall: it wears down only while above 20, by at most
// two long steps of the longest gene 9.
constexpr int32_t kLowestSearchRadius = 21 - 2 * 40;

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
    if (w.band_sum[i] < 0 || w.band_sum[i] > 2550) return fail(c, "band_sum[%d] = %d", i, w.band_sum[i]);
    if (w.band_peak[i] < 0) return fail(c, "band_peak[%d] = %d", i, w.band_peak[i]);
    if (w.band_stale[i] < 0) return fail(c, "band_stale[%d] = %d", i, w.band_stale[i]);
  }
  if (!(w.sound_level >= 0.0f && w.sound_level <= 255.0f)) {
    return fail(c, "sound_level = %g", static_cast<double>(w.sound_level));
  }
  if (!(w.background_level >= 0.0f && w.background_level <= 255.0f)) {
    return fail(c, "background_level = %g", static_cast<double>(w.background_level));
  }
  if (w.spawn_mode != 0 && w.spawn_mode != 1) return fail(c, "spawn_mode = %d", w.spawn_mode);
  if (w.frame_count < 0) return fail(c, "frame_count = %d", w.frame_count);
  return true;
}

bool site_column(int32_t x) { return x >= kSiteLowest && x <= kSiteHighestColumn; }
bool site_row(int32_t y) { return y >= kSiteLowest && y <= kSiteHighestRow; }

bool check_agent(const World& w, int32_t s, WorldCheck& c) {
  const AgentTable& t = w.agents;
  if (t.alive[s] != 0 && t.alive[s] != 1) return fail(c, "alive slot %d = %d", s, t.alive[s]);
  if (t.mode[s] < kModeForage || t.mode[s] > kModeMate) return fail(c, "mode slot %d = %d", s, t.mode[s]);
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
  if (t.search_radius[s] < kLowestSearchRadius || t.search_radius[s] > 1000) {
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

}  // namespace

WorldCheck check_world(const World& world) {
  WorldCheck check{};
  check.ok = 1;
  if (!check_planes(world, check) || !check_sound(world, check)) return check;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    if (!check_agent(world, s, check)) return check;
  }
  std::snprintf(check.message, sizeof(check.message), "ok");
  return check;
}
