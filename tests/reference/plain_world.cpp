#include "tests/reference/plain_world.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "world/frame_step.h"
#include "world/genome.h"
#include "world/sound.h"

namespace {

// The reference spells out its own numbers (neighbour offsets, gene indexes, radii,
// thresholds) rather than taking the world's named constants: a wrong constant in
// world/ then shows as a difference instead of being shared by both sides. What it
// takes from the world is the grid's layout and sizes, the start-up frames and the
// names of the modes and cull kinds.
constexpr int32_t kAround[8] = {-401, -400, -399, -1, 1, 399, 400, 401};

bool in_plane(int64_t e) { return e >= 0 && e < kCellCount; }
bool on_grid(int64_t x, int64_t y) { return x >= 0 && x < kWorldWidth && y >= 0 && y < kWorldHeight; }
int64_t absolute(int64_t v) { return v < 0 ? -v : v; }
int64_t city(int64_t x1, int64_t y1, int64_t x2, int64_t y2) { return absolute(x1 - x2) + absolute(y1 - y2); }

void add_around(World& w, int32_t e, int32_t amount) {
  for (int32_t o : kAround) {
    if (in_plane(e + o)) w.neighbours[e + o] += amount;
  }
}

// A cell of the food search: inside columns 1..999 and rows 1..399, live, unclaimed.
bool food_at(const World& w, int64_t x, int64_t y) {
  if (x < 1 || x > kWorldWidth - 1 || y < 1 || y > kWorldHeight - 1) return false;
  const int32_t e = cell_index(static_cast<int32_t>(x), static_cast<int32_t>(y));
  return w.cells[e] == 1 && w.claimed[e] == 0;
}

// Ring i's cells from `from` on along a side, stepping `length` cells; the side's
// fixed coordinate is checked first, so a side off the grid costs nothing.
bool scan_side(const World& w, bool along_row, int64_t fixed, int64_t from, int64_t length, int32_t& x, int32_t& y) {
  const int64_t limit = along_row ? kWorldWidth - 1 : kWorldHeight - 1;
  if (along_row ? (fixed < 1 || fixed > kWorldHeight - 1) : (fixed < 1 || fixed > kWorldWidth - 1)) return false;
  const int64_t first = from < 1 ? 1 : from;
  const int64_t last = from + length - 1 > limit ? limit : from + length - 1;
  for (int64_t v = first; v <= last; ++v) {
    const int64_t cx = along_row ? v : fixed;
    const int64_t cy = along_row ? fixed : v;
    if (food_at(w, cx, cy)) {
      x = static_cast<int32_t>(cx);
      y = static_cast<int32_t>(cy);
      return true;
    }
  }
  return false;
}

}  // namespace

void plain_life_step(World& w) {
  // The rule from the counts as they stand, then the new generation counted afresh.
  // (The skip counts in dead_run only save the counting pass work; they are 0 before
  // and after a step, and this pass needs none.)
  for (int32_t e = 0; e < kCellCount; ++e) {
    const int32_t n = w.neighbours[e];
    w.next_cells[e] = w.cells[e] == 1 ? (n == 2 || n == 3) : (n == 3);
  }
  for (int32_t e = 0; e < kCellCount; ++e) {
    w.cells[e] = w.next_cells[e];
    w.neighbours[e] = 0;
    w.claimed[e] = 0;
  }
  for (int32_t e = 0; e < kCellCount; ++e) {
    if (w.cells[e] == 1) add_around(w, e, 1);
  }
}

int32_t plain_eat_at(World& w, int32_t x, int32_t y) {
  if (!on_grid(x, y)) return 0;
  const int32_t centre = cell_index(x, y);
  if (w.cells[centre] != 1) return 0;
  int32_t eaten = 0;
  for (int32_t o : {0, 400, -400, 1, -1}) {
    const int32_t e = centre + o;
    if (!in_plane(e) || w.cells[e] != 1) continue;
    w.cells[e] = 0;
    add_around(w, e, -1);
    eaten += 1;
  }
  return eaten;
}

int32_t plain_plant_at(World& w, int32_t x, int32_t y, int32_t agent) {
  static const struct {
    int32_t dx, dy, gene, threshold;
  } kPattern[12] = {{-1, -1, 20, 12}, {0, -1, 21, 12}, {1, -1, 22, 12}, {1, 0, 23, 12},
                    {1, 1, 24, 12},   {0, 1, 25, 12},  {-1, 1, 26, 12}, {-1, 0, 27, 12},
                    {0, -2, 28, 5},   {0, 2, 29, 5},   {-2, 0, 30, 5},  {2, 0, 31, 5}};
  if (!on_grid(x, y) || agent < 0 || agent >= kMaxAgents) return 0;
  int32_t planted = 0;
  for (const auto& p : kPattern) {
    if (w.agents.genome[agent][p.gene] <= p.threshold) continue;
    const int32_t e = cell_index(x, y) + p.dx * kWorldHeight + p.dy;
    if (!in_plane(e) || w.neighbours[e] == 3) continue;
    w.neighbours[e] = 3;
    planted += 1;
  }
  return planted;
}

bool plain_food_target(const World& w, int32_t agent, int32_t& x, int32_t& y) {
  const int64_t px = w.agents.pos_x[agent];
  const int64_t py = w.agents.pos_y[agent];
  // Ring i holds the cells at Chebyshev distance i; the searchable cells (columns
  // 1..999, rows 1..399) lie between these distances, so other rings examine nothing.
  const int64_t gap_x = px < 1 ? 1 - px : (px > kWorldWidth - 1 ? px - (kWorldWidth - 1) : 0);
  const int64_t gap_y = py < 1 ? 1 - py : (py > kWorldHeight - 1 ? py - (kWorldHeight - 1) : 0);
  const int64_t nearest = gap_x > gap_y ? gap_x : gap_y;
  int64_t farthest = 0;
  for (int64_t d : {absolute(px - 1), absolute(px - (kWorldWidth - 1)), absolute(py - 1), absolute(py - (kWorldHeight - 1))}) {
    if (d > farthest) farthest = d;
  }
  if (farthest > static_cast<int64_t>(w.agents.search_radius[agent]) - 1) {
    farthest = static_cast<int64_t>(w.agents.search_radius[agent]) - 1;
  }
  for (int64_t i = nearest; i <= farthest; ++i) {
    // Top row, bottom row, left column, right column; each side 2i cells.
    if (scan_side(w, true, py - i, px - i, 2 * i, x, y)) return true;
    if (scan_side(w, true, py + i, px - i, 2 * i, x, y)) return true;
    if (scan_side(w, false, px - i, py - i, 2 * i, x, y)) return true;
    if (scan_side(w, false, px + i, py - i, 2 * i, x, y)) return true;
  }
  return false;
}

int32_t plain_find_food(World& w, int32_t agent) {
  int32_t x, y;
  if (!plain_food_target(w, agent, x, y)) return 0;
  w.agents.target_x[agent] = x;
  w.agents.target_y[agent] = y;
  w.claimed[cell_index(x, y)] = 1;
  return 1;
}

bool plain_in_reach(const World& w, int32_t a, int32_t j) {
  const AgentTable& t = w.agents;
  return city(t.pos_x[a], t.pos_y[a], t.pos_x[j], t.pos_y[j]) < t.genome[a][19];
}

void plain_contact_scan(World& w, int32_t a) {
  AgentTable& t = w.agents;
  t.crowd[a] = 0;
  for (int32_t j = 0; j < kMaxAgents; ++j) {
    if (j == a || t.alive[j] == 0 || !plain_in_reach(w, a, j)) continue;
    const int64_t g = absolute(static_cast<int64_t>(t.genome[a][12]) - t.genome[j][12]);
    const bool mates = g <= 100 && t.mode[a] == kModeMate && t.mode[j] == kModeMate;
    if (!mates) {
      t.crowd[a] += 1;
      if (g > 20) {
        const double fullness_a = static_cast<double>(t.energy[a]) / t.genome[a][5];
        const double fullness_j = static_cast<double>(t.energy[j]) / t.genome[j][5];
        const int32_t loser = fullness_j > fullness_a ? a : j;
        const int32_t winner = loser == a ? j : a;
        t.alive[loser] = 0;
        t.energy[winner] = t.energy[winner] + t.energy[loser];
        t.food_eaten[winner] = to_int32(static_cast<double>(t.food_eaten[winner]) + t.energy[loser]);
      }
    }
    if (t.crowd[a] > t.genome[a][14]) t.alive[a] = 0;
  }
}

void plain_update_agent(World& w, int32_t a) {
  AgentTable& t = w.agents;
  int32_t* g = t.genome[a];
  g[33] = static_cast<int32_t>(static_cast<int64_t>(t.pos_x[a]) * 9 / 1000);

  if (g[5] - g[6] <= 10) t.alive[a] = 0;
  if (g[16] + g[32] > g[11]) t.alive[a] = 0;
  if (city(t.home_x[a], t.home_y[a], t.away_x[a], t.away_y[a]) < g[16] + g[32]) t.alive[a] = 0;

  t.age[a] += 1;
  if (t.age[a] > g[35]) t.alive[a] = 0;

  plain_contact_scan(w, a);

  int32_t found;
  if (t.pause_count[a] < t.pause_length[a]) {
    found = 1;
    t.pause_count[a] += 1;
  } else {
    t.pause_count[a] = 0;
    found = t.mode[a] == kModeForage ? plain_find_food(w, a) : 0;
  }
  t.pause_length[a] = t.search_radius[a] > 50 ? t.search_radius[a] * 20 / 1000 : 0;

  if (found == 0 && t.mode[a] == kModeForage) {
    if (t.search_radius[a] >= 1000) {
      t.alive[a] = 0;
    } else {
      t.search_radius[a] = 1000;
    }
  } else {
    if (t.mode[a] == kModeHome || (t.mode[a] == kModeMate && found == 0)) {
      t.target_x[a] = t.home_x[a];
      t.target_y[a] = t.home_y[a];
    } else if (t.mode[a] == kModeAway) {
      t.target_x[a] = t.away_x[a];
      t.target_y[a] = t.away_y[a];
    }
    if (t.mode[a] == kModeMate && found == 0 && t.pos_x[a] == t.home_x[a] && t.pos_y[a] == t.home_y[a]) {
      // A full table breeds nothing and draws nothing (the world's choice).
      const int32_t child = spawn_agent(w, t.pos_x[a] - 5, t.pos_y[a] - 5, g);
      if (child != kNoSlot) mutate_genome(w, child, static_cast<float>(rand_range(w, 0, 3)));
      t.food_eaten[a] = 0;
    }

    // The genes are read after breeding: a child spawned into the parent's own slot
    // has mutated them.
    const int64_t dx = absolute(static_cast<int64_t>(t.pos_x[a]) - t.target_x[a]);
    const int64_t dy = absolute(static_cast<int64_t>(t.pos_y[a]) - t.target_y[a]);
    const int32_t step_x = dx > g[8] ? g[9] : 1;
    const int32_t step_y = dy > g[8] ? g[9] : 1;
    if (t.target_y[a] > t.pos_y[a]) t.pos_y[a] += step_y;
    if (t.target_y[a] < t.pos_y[a]) t.pos_y[a] -= step_y;
    if (t.target_x[a] > t.pos_x[a]) t.pos_x[a] += step_x;
    if (t.target_x[a] < t.pos_x[a]) t.pos_x[a] -= step_x;

    if (t.search_radius[a] > 20) t.search_radius[a] -= step_x + step_y;

    if (t.mode[a] == kModeForage) {
      const int32_t n = plain_eat_at(w, t.pos_x[a], t.pos_y[a]);
      t.energy[a] = t.energy[a] + static_cast<float>(n);
      if (n > 0) {
        t.food_eaten[a] = static_cast<int32_t>(static_cast<uint32_t>(t.food_eaten[a]) + static_cast<uint32_t>(n));
      } else if (t.energy[a] > 0.0f) {
        t.energy[a] = t.energy[a] - static_cast<float>((step_x + step_y) * (g[10] / 60.0));
      }
    }

    if ((t.mode[a] == kModeHome || t.mode[a] == kModeAway) && dx + dy < g[11]) {
      if (t.plant_counter[a] == 0) {
        t.energy[a] = t.energy[a] - static_cast<float>(2 * plain_plant_at(w, t.pos_x[a], t.pos_y[a], a));
      }
      t.plant_counter[a] += 1;
      if (t.plant_counter[a] >= g[4]) t.plant_counter[a] = 0;
    }

    const int64_t from_home = city(t.pos_x[a], t.pos_y[a], t.home_x[a], t.home_y[a]);
    if (t.mode[a] == kModeHome && t.food_eaten[a] > g[13] / 8.0) t.mode[a] = kModeMate;
    if (t.mode[a] == kModeMate && t.food_eaten[a] < g[13]) t.mode[a] = kModeForage;
    if (t.mode[a] == kModeForage && static_cast<double>(t.energy[a]) >= g[5]) t.mode[a] = kModeHome;
    if (t.mode[a] == kModeHome) {
      if (static_cast<double>(t.energy[a]) < g[6]) {
        t.mode[a] = kModeForage;
      } else if (from_home < g[16]) {
        t.mode[a] = kModeAway;
      }
    }
    if (t.mode[a] == kModeAway) {
      if (static_cast<double>(t.energy[a]) < g[6]) {
        t.mode[a] = kModeForage;
      } else if (from_home - g[32] >= g[16]) {
        t.mode[a] = kModeHome;
      }
    }
  }

  if (t.energy[a] <= 0.0f) t.alive[a] = 0;
}

void plain_cull_population(World& w, CullKind kind) {
  AgentTable& t = w.agents;
  for (int32_t i = 0; i < kMaxAgents; ++i) {
    if (t.alive[i] != 1) continue;
    if (kind == kCullCrowding) {
      for (int32_t j = 0; j < kMaxAgents; ++j) {
        if (j != i && t.alive[j] == 1 && city(t.pos_x[i], t.pos_y[i], t.pos_x[j], t.pos_y[j]) < 20) t.alive[j] = 0;
      }
    } else if (kind == kCullRandom && rand_range(w, 0, 100) > 10) {
      t.alive[i] = 0;
    }
  }
  std::memset(w.cells, 0, sizeof(w.cells));
  std::memset(w.neighbours, 0, sizeof(w.neighbours));
  for (int32_t i = 0; i < kMaxAgents; ++i) {
    if (t.alive[i] != 1) continue;
    t.energy[i] = 2.0f * t.energy[i];
    if (static_cast<double>(t.genome[i][5]) < t.energy[i]) t.energy[i] = static_cast<float>(t.genome[i][5]);
  }
}

void plain_draw_world(const World& w, PixelBuffer& picture) {
  std::memset(picture.rgb, 0, sizeof(picture.rgb));
  if (w.background_level > 0.2f) {
    const uint8_t blue = static_cast<uint8_t>(to_int32(w.background_level) & 0xFF);
    for (int32_t x = 1; x <= kWorldWidth - 2; ++x) {
      for (int32_t y = 1; y <= kWorldHeight - 2; ++y) {
        if (w.cells[cell_index(x, y)] != 1) continue;
        picture.rgb[y][x][0] = 0;
        picture.rgb[y][x][1] = 0;
        picture.rgb[y][x][2] = blue;
      }
    }
  }
  const AgentTable& t = w.agents;
  for (int32_t a = 0; a < kMaxAgents; ++a) {
    if (t.alive[a] == 0) continue;
    const int32_t* g = t.genome[a];
    float brightness = static_cast<float>(t.energy[a] / static_cast<double>(g[6]) * 0.7 + 0.3);
    if (brightness > 1.0f) brightness = 1.0f;
    const uint8_t colour[3] = {static_cast<uint8_t>(to_int32(g[2] * static_cast<double>(brightness)) & 0xFF),
                               static_cast<uint8_t>(to_int32(g[3] * static_cast<double>(brightness)) & 0xFF),
                               static_cast<uint8_t>(to_int32(g[7] * static_cast<double>(brightness)) & 0xFF)};
    for (int32_t gene = 0; gene < kGeneCount; ++gene) {
      // A gene shows as a sprite pixel when it lies above the middle of its initial range.
      const int32_t threshold = (w.limits.gene_init_lo[gene] + w.limits.gene_init_hi[gene]) / 2;
      if (g[gene] <= threshold) continue;
      const int64_t x = static_cast<int64_t>(t.pos_x[a]) + gene % 6 - 2;
      const int64_t y = static_cast<int64_t>(t.pos_y[a]) + gene / 6 - 2;
      if (on_grid(x, y)) std::memcpy(picture.rgb[y][x], colour, 3);
    }
  }
}

void plain_frame_step(World& w, PixelBuffer& picture, const uint8_t* spectrum, uint32_t seed) {
  analyse_bands(w, spectrum);
  update_sound_levels(w);
  if (w.frame_count == 0) {
    random_seed(w, seed);
    set_default_gene_limits(w);
  }
  if (w.frame_count > kStartupFrames) {
    AgentTable& t = w.agents;
    plain_life_step(w);
    int32_t agent_count = 0;
    for (int32_t slot = 0; slot < kMaxAgents; ++slot) {
      if (t.alive[slot] != 1) continue;
      plain_update_agent(w, slot);
      agent_count += 1;
    }
    if (rand_range(w, 0, 5) == 1) {
      const int32_t slot = rand_range(w, 0, 10000);
      const int32_t y = rand_range(w, 0, 1000);
      const int32_t x = rand_range(w, 0, 1000);
      // The row may pass the grid's last: the position is a plane element, taken only
      // when it lies in the planes (and the slot is one).
      const int32_t e = x * kWorldHeight + y;
      if (slot < kMaxAgents && e < kCellCount) plain_plant_at(w, e / kWorldHeight, e % kWorldHeight, slot);
    }
    plain_draw_world(w, picture);
    if (w.spawn_mode == kSpawnReseeding) {
      random_genome(w, w.reseed_genome);
      const int32_t s = spawn_agent(w, 495, 200, w.reseed_genome);
      if (s != kNoSlot) {
        t.pos_x[s] = t.home_x[s];
        t.pos_y[s] = t.home_y[s];
        t.energy[s] = static_cast<float>(t.genome[s][5] / 2);
      }
      agent_count += 1;
    }
    if (agent_count < 400) rand_range(w, 0, 500);
    if (agent_count <= 6 && w.spawn_mode != kSpawnReseeding) {
      w.spawn_mode = kSpawnReseeding;
      for (int32_t i = 0; i < kMaxAgents; ++i) {
        if (t.alive[i] == 1) t.energy[i] = static_cast<float>(2 * w.reseed_genome[6]);
      }
    }
    if (agent_count > 50) w.spawn_mode = kSpawnBreeding;
    if (agent_count > 1000) plain_cull_population(w, rand_range(w, 0, 2) == 1 ? kCullRandom : kCullCrowding);
  }
  if (w.frame_count < INT32_MAX) w.frame_count += 1;
}

// ---- comparing ----

namespace {

std::string describe(const char* field, int32_t where, bool is_cell, long long a, long long b) {
  char text[160];
  if (is_cell) {
    std::snprintf(text, sizeof(text), "%s (%d, %d): %lld against %lld", field, where / kWorldHeight,
                  where % kWorldHeight, a, b);
  } else {
    std::snprintf(text, sizeof(text), "%s slot %d: %lld against %lld", field, where, a, b);
  }
  return text;
}

template <typename T>
std::string first_in(const char* field, const T* a, const T* b, int32_t n, bool is_cell) {
  if (std::memcmp(a, b, sizeof(T) * n) == 0) return "";
  for (int32_t i = 0; i < n; ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) {
      if constexpr (std::is_floating_point_v<T>) {
        char text[160];
        std::snprintf(text, sizeof(text), "%s slot %d: %.9g against %.9g", field, i, static_cast<double>(a[i]),
                      static_cast<double>(b[i]));
        return text;
      } else {
        return describe(field, i, is_cell, a[i], b[i]);
      }
    }
  }
  return "";
}

}  // namespace

std::string first_world_difference(const World& a, const World& b) {
  std::string d;
  auto plane = [&](const char* name, const int32_t* p, const int32_t* q) {
    if (d.empty()) d = first_in(name, p, q, kCellCount, true);
  };
  plane("cells", a.cells, b.cells);
  plane("next_cells", a.next_cells, b.next_cells);
  plane("neighbours", a.neighbours, b.neighbours);
  plane("claimed", a.claimed, b.claimed);
  plane("dead_run", a.dead_run, b.dead_run);
  const AgentTable& s = a.agents;
  const AgentTable& t = b.agents;
  auto field = [&](const char* name, const auto* p, const auto* q) {
    if (d.empty()) d = first_in(name, p, q, kMaxAgents, false);
  };
  field("alive", s.alive, t.alive);
  field("pos_x", s.pos_x, t.pos_x);
  field("pos_y", s.pos_y, t.pos_y);
  field("target_x", s.target_x, t.target_x);
  field("target_y", s.target_y, t.target_y);
  field("mode", s.mode, t.mode);
  field("energy", s.energy, t.energy);
  field("age", s.age, t.age);
  field("food_eaten", s.food_eaten, t.food_eaten);
  field("crowd", s.crowd, t.crowd);
  field("search_radius", s.search_radius, t.search_radius);
  field("pause_count", s.pause_count, t.pause_count);
  field("pause_length", s.pause_length, t.pause_length);
  field("plant_counter", s.plant_counter, t.plant_counter);
  field("home_x", s.home_x, t.home_x);
  field("home_y", s.home_y, t.home_y);
  field("away_x", s.away_x, t.away_x);
  field("away_y", s.away_y, t.away_y);
  if (!d.empty()) return d;
  if (std::memcmp(s.genome, t.genome, sizeof(s.genome)) != 0) {
    for (int32_t i = 0; i < kMaxAgents; ++i) {
      for (int32_t g = 0; g < kGeneCount; ++g) {
        if (s.genome[i][g] != t.genome[i][g]) {
          return "genome slot " + std::to_string(i) + " gene " + std::to_string(g) + ": " +
                 std::to_string(s.genome[i][g]) + " against " + std::to_string(t.genome[i][g]);
        }
      }
    }
  }
  if (std::memcmp(&a.limits, &b.limits, sizeof(a.limits)) != 0) return "gene limits";
  if (std::memcmp(a.band_sum, b.band_sum, sizeof(a.band_sum)) != 0 ||
      std::memcmp(a.band_peak, b.band_peak, sizeof(a.band_peak)) != 0 ||
      std::memcmp(a.band_stale, b.band_stale, sizeof(a.band_stale)) != 0 ||
      std::memcmp(&a.sound_level, &b.sound_level, sizeof(float)) != 0 ||
      std::memcmp(&a.background_level, &b.background_level, sizeof(float)) != 0) {
    return "sound state";
  }
  if (a.frame_count != b.frame_count) return "frame_count " + std::to_string(a.frame_count) + " against " + std::to_string(b.frame_count);
  if (a.spawn_mode != b.spawn_mode) return "spawn_mode " + std::to_string(a.spawn_mode) + " against " + std::to_string(b.spawn_mode);
  if (a.random_state != b.random_state) return "random state " + std::to_string(a.random_state) + " against " + std::to_string(b.random_state);
  if (std::memcmp(a.reseed_genome, b.reseed_genome, sizeof(a.reseed_genome)) != 0) return "reseed_genome";
  return "";
}

std::string first_picture_difference(const PixelBuffer& a, const PixelBuffer& b) {
  if (std::memcmp(a.rgb, b.rgb, sizeof(a.rgb)) == 0) return "";
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      if (std::memcmp(a.rgb[y][x], b.rgb[y][x], 3) != 0) {
        char text[160];
        std::snprintf(text, sizeof(text), "pixel (%d, %d): %d %d %d against %d %d %d", x, y, a.rgb[y][x][0],
                      a.rgb[y][x][1], a.rgb[y][x][2], b.rgb[y][x][0], b.rgb[y][x][1], b.rgb[y][x][2]);
        return text;
      }
    }
  }
  return "";
}
