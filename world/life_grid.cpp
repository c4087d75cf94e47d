#include "world/life_grid.h"

#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The 8 cells around a cell, as element offsets in the column-major planes.
constexpr int32_t kAround[8] = {-401, -1, 399, -400, 400, -399, 1, 401};

inline bool in_plane(int32_t e) { return e >= 0 && e < kCellCount; }

inline void add_around(int32_t* plane, int32_t e, int32_t amount) {
  if (e > 400 && e < kCellCount - 401) {
    // Written out: a loop over the offsets is not unrolled at -O2, and this runs
    // for every birth and death.
    int32_t* p = plane + e;
    p[-401] += amount;
    p[-1] += amount;
    p[399] += amount;
    p[-400] += amount;
    p[400] += amount;
    p[-399] += amount;
    p[1] += amount;
    p[401] += amount;
    return;
  }
  for (int32_t o : kAround) {
    if (in_plane(e + o)) plane[e + o] += amount;
  }
}

struct PatternCell {
  int32_t offset;  // dx * 400 + dy
  int32_t gene;
  int32_t threshold;
};

// Clockwise ring from the upper-left neighbour, then the four cells two away.
constexpr PatternCell kPattern[12] = {
    {-401, 20, 12}, {-1, 21, 12}, {399, 22, 12}, {400, 23, 12},
    {401, 24, 12},  {1, 25, 12},  {-399, 26, 12}, {-400, 27, 12},
    {-2, 28, 5},    {2, 29, 5},   {-800, 30, 5},  {800, 31, 5},
};

inline void track_planted(GridTracker& g, int32_t e) {
  if (g.planted_count < kPlantedCapacity) {
    g.planted[g.planted_count++] = e;
  } else {
    g.needs_full_pass = 1;
  }
}

inline bool on_grid(int32_t x, int32_t y) {
  return x >= 0 && x < kWorldWidth && y >= 0 && y < kWorldHeight;
}

inline void set_live(GridTracker& g, int32_t x, int32_t y) {
  g.live_rows[y][x >> 6] |= uint64_t{1} << (x & 63);
}

inline void clear_live(GridTracker& g, int32_t x, int32_t y) {
  g.live_rows[y][x >> 6] &= ~(uint64_t{1} << (x & 63));
}

inline void mark_chunk(GridTracker& g, int32_t chunk) {
  g.chunk_dirty[chunk >> 6] |= uint64_t{1} << (chunk & 63);
}

// The next step must sweep the cell and everything around it: three runs of three
// elements, each within one or two chunks.
inline void mark_around(GridTracker& g, int32_t e) {
  if (e >= 401 && e + 401 < kCellCount) {
    mark_chunk(g, (e - 401) >> kChunkShift);
    mark_chunk(g, (e - 399) >> kChunkShift);
    mark_chunk(g, (e - 1) >> kChunkShift);
    mark_chunk(g, (e + 1) >> kChunkShift);
    mark_chunk(g, (e + 399) >> kChunkShift);
    mark_chunk(g, (e + 401) >> kChunkShift);
    return;
  }
  for (int32_t first : {e - 401, e - 1, e + 399}) {
    int32_t last = first + 2;
    if (first < 0) first = 0;
    if (last > kCellCount - 1) last = kCellCount - 1;
    if (first > last) continue;
    mark_chunk(g, first >> kChunkShift);
    mark_chunk(g, last >> kChunkShift);
  }
}

// Live cells among the 8 around e, for a count that planting forced.
inline int32_t recount(const int32_t* cells, int32_t e) {
  int32_t n = 0;
  for (int32_t o : kAround) {
    if (in_plane(e + o)) n += cells[e + o];
  }
  return n;
}

}  // namespace

// True when every element of the plane is zero.
static bool plane_is_zero(const int32_t* plane) {
  int32_t any = 0;
  for (int32_t e = 0; e < kCellCount; ++e) any |= plane[e];
  return any == 0;
}

static_assert(kWorldHeight % 8 == 0, "columns are visited eight cells at a time");

// Starts tracking from the committed generation: every live cell counted around,
// set in the bitmap, and its neighbourhood marked for the next step.
static void track_live_cells(World& world) {
  const int32_t* cells = world.cells;
  int32_t* counts = world.neighbours;
  GridTracker& g = world.index.grid;
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    const int32_t base = x * kWorldHeight;
    for (int32_t y = 0; y < kWorldHeight; y += 8) {
      // Skip eight dead cells at a time: a fresh generation is mostly empty.
      int32_t any = 0;
      for (int32_t i = 0; i < 8; ++i) any |= cells[base + y + i];
      if (any == 0) continue;
      for (int32_t i = 0; i < 8; ++i) {
        const int32_t e = base + y + i;
        if (cells[e] != 1) continue;
        add_around(counts, e, 1);
        set_live(g, x, y + i);
        mark_around(g, e);
      }
    }
  }
}

// The three passes over the whole grid, for a world whose planes were written
// directly; afterwards the tracker knows every live cell again.
static void life_step_full(World& world) {
  int32_t* cells = world.cells;
  int32_t* next = world.next_cells;
  int32_t* counts = world.neighbours;
  int32_t* claimed = world.claimed;
  int32_t* dead_run = world.dead_run;

  for (int32_t e = 0; e < kCellCount; ++e) {
    const int32_t n = counts[e];
    next[e] = cells[e] != 0 ? (n == 2 || n == 3) : (n == 3);
  }

  GridTracker& g = world.index.grid;
  std::memset(g.live_rows, 0, sizeof(g.live_rows));
  std::memset(g.chunk_dirty, 0, sizeof(g.chunk_dirty));
  g.planted_count = 0;
  g.claimed_count = 0;
  g.needs_full_pass = 0;

  if (plane_is_zero(dead_run)) {
    // With no runs left over, the commit and counting passes come down to one
    // pass of copies and clears and a visit to every live cell. (A plain loop: the
    // library's block copy and fill measured slower for every frame after it.)
    for (int32_t e = 0; e < kCellCount; ++e) {
      counts[e] = 0;
      claimed[e] = 0;
      cells[e] = next[e];
    }
    track_live_cells(world);
    food_index_build(world);
    return;
  }

  // Commit, recording after each live cell how many dead cells follow it down
  // its column, so the counting pass can jump from live cell to live cell.
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    int32_t head = -1;
    const int32_t base = x * kWorldHeight;
    for (int32_t y = 0; y < kWorldHeight; ++y) {
      const int32_t e = base + y;
      counts[e] = 0;
      claimed[e] = 0;
      cells[e] = next[e];
      if (cells[e] == 1) {
        head = e;
      } else if (head >= 0) {
        dead_run[head] += 1;
      }
    }
  }

  for (int32_t x = 0; x < kWorldWidth; ++x) {
    const int32_t base = x * kWorldHeight;
    int32_t y = 0;
    while (y < kWorldHeight) {
      const int32_t e = base + y;
      if (cells[e] == 1) {
        add_around(counts, e, 1);
        set_live(g, x, y);
        mark_around(g, e);
        y += dead_run[e];
        dead_run[e] = 0;
      }
      y += 1;
    }
  }
  food_index_build(world);
}

#if defined(__SSE2__)
// Four cells' next kinds (0 or 1) from their kinds and counts.
static inline __m128i life_rule(__m128i cells, __m128i counts) {
  const __m128i dead = _mm_cmpeq_epi32(cells, _mm_setzero_si128());
  const __m128i kept = _mm_andnot_si128(dead, _mm_cmpeq_epi32(counts, _mm_set1_epi32(2)));
  return _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi32(counts, _mm_set1_epi32(3)), kept), _mm_set1_epi32(1));
}

// Bit i set where lane i of the comparison holds.
static inline int32_t lane_mask(__m128i comparison) { return _mm_movemask_ps(_mm_castsi128_ps(comparison)); }
#endif

// Writes the entry at the list's end and moves the end only if `keep` is 1.
static inline int32_t list_lane(int32_t* list, int32_t listed, int32_t entry, int32_t keep) {
  list[listed] = entry;
  return listed + keep;
}

// The rule for the 8 cells from element base, against the counts as they stand:
// next_cells takes every result, cells only the changes, which go on the list from
// position `listed`; returns the list's new length. Whether a cell changed is close
// to a coin toss, so every lane is written to the list and only the changed ones
// move its end: no branch to mispredict.
static inline int32_t sweep_chunk(World& world, int32_t base, int32_t* list, int32_t listed) {
  int32_t* cells = world.cells + base;
  int32_t* next = world.next_cells + base;
  const int32_t* counts = world.neighbours + base;
#if defined(__SSE2__)
  // Both halves and all eight lanes are written out: at -O2 loops over them are
  // not unrolled, and the halves' results would go through the stack.
  const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells));
  const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 4));
  const __m128i v0 = life_rule(c0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts)));
  const __m128i v1 = life_rule(c1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + 4)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(next), v0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(next + 4), v1);
  const int32_t changed = (lane_mask(_mm_cmpeq_epi32(v0, c0)) | lane_mask(_mm_cmpeq_epi32(v1, c1)) << 4) ^ 0xFF;
  if (changed == 0) return listed;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(cells), v0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + 4), v1);
  // A change is a birth where the cell was dead: e * 2 + 1; a death: e * 2.
  const __m128i one = _mm_set1_epi32(1);
  const int32_t born = lane_mask(_mm_cmpeq_epi32(v0, one)) | lane_mask(_mm_cmpeq_epi32(v1, one)) << 4;
  const int32_t first = base * 2;
  listed = list_lane(list, listed, first + 0 + (born & 1), changed & 1);
  listed = list_lane(list, listed, first + 2 + (born >> 1 & 1), changed >> 1 & 1);
  listed = list_lane(list, listed, first + 4 + (born >> 2 & 1), changed >> 2 & 1);
  listed = list_lane(list, listed, first + 6 + (born >> 3 & 1), changed >> 3 & 1);
  listed = list_lane(list, listed, first + 8 + (born >> 4 & 1), changed >> 4 & 1);
  listed = list_lane(list, listed, first + 10 + (born >> 5 & 1), changed >> 5 & 1);
  listed = list_lane(list, listed, first + 12 + (born >> 6 & 1), changed >> 6 & 1);
  listed = list_lane(list, listed, first + 14 + (born >> 7 & 1), changed >> 7 & 1);
  return listed;
#else
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t n = counts[i];
    const int32_t v = cells[i] != 0 ? (n == 2 || n == 3) : (n == 3);
    next[i] = v;
    if (v == cells[i]) continue;
    cells[i] = v;
    list[listed++] = (base + i) * 2 + v;
  }
  return listed;
#endif
}

// The same generation from the dirty chunks alone; the planes end exactly as the
// full passes leave them.
static void life_step_tracked(World& world) {
  GridTracker& g = world.index.grid;
  int32_t* counts = world.neighbours;
  uint64_t* dirty = g.chunk_dirty;

  // The dirty chunks are listed first, so the sweep can ask for the planes' lines a
  // few chunks ahead: scattered chunks are otherwise one cache miss after another.
  int32_t chunks = 0;
  for (int32_t w = 0; w < kChunkWords; ++w) {
    uint64_t word = dirty[w];
    if (word == 0) continue;
    dirty[w] = 0;
    while (word != 0) {
      g.sweep[chunks++] = w * 64 + __builtin_ctzll(word);
      word &= word - 1;
    }
  }
  constexpr int32_t kAhead = 8;
  int32_t listed = 0;
  for (int32_t i = 0; i < chunks; ++i) {
    if (i + kAhead < chunks) {
      const int32_t ahead = g.sweep[i + kAhead] << kChunkShift;
      __builtin_prefetch(world.cells + ahead, 1);
      __builtin_prefetch(world.neighbours + ahead, 0);
      __builtin_prefetch(world.next_cells + ahead, 1);
    }
    listed = sweep_chunk(world, g.sweep[i] << kChunkShift, g.changed, listed);
  }
  g.changed_count = listed;

  // Claims lapse with the generation: a claimed cell still live is food again.
  FoodIndex& food = world.index.food;
  for (int32_t i = 0; i < g.claimed_count; ++i) {
    const int32_t e = g.claimed[i];
    world.claimed[e] = 0;
    const int32_t x = e / kWorldHeight;
    const int32_t y = e - x * kWorldHeight;
    if (food.active && live_at(g, x, y)) food_count(food, x, y, 1);
  }
  g.claimed_count = 0;

  // The counts follow the births and deaths; forced counts are counted afresh.
  for (int32_t i = 0; i < g.changed_count; ++i) {
    if (i + kAhead < g.changed_count) {
      const int32_t ahead = g.changed[i + kAhead] >> 1;
      if (ahead >= 401 && ahead + 401 < kCellCount) {
        __builtin_prefetch(counts + ahead - 401, 1);
        __builtin_prefetch(counts + ahead - 1, 1);
        __builtin_prefetch(counts + ahead + 399, 1);
      }
    }
    const int32_t e = g.changed[i] >> 1;
    const int32_t x = e / kWorldHeight;
    const int32_t y = e - x * kWorldHeight;
    const int32_t amount = (g.changed[i] & 1) ? 1 : -1;
    add_around(counts, e, amount);
    if (amount > 0) {
      set_live(g, x, y);
    } else {
      clear_live(g, x, y);
    }
    if (food.active) food_count(food, x, y, amount);
    mark_around(g, e);
  }
  for (int32_t i = 0; i < g.planted_count; ++i) {
    const int32_t e = g.planted[i];
    counts[e] = recount(world.cells, e);
    mark_chunk(g, e >> kChunkShift);
  }
  g.planted_count = 0;
}

void life_step(World& world) {
  if (world.index.grid.needs_full_pass) {
    life_step_full(world);
  } else {
    life_step_tracked(world);
  }
}

int32_t eat_at(World& world, int32_t x, int32_t y) {
  if (!on_grid(x, y)) return 0;
  const int32_t centre = cell_index(x, y);
  if (world.cells[centre] != 1) return 0;
  constexpr int32_t kEaten[5] = {0, 400, -400, 1, -1};
  int32_t eaten = 0;
  for (int32_t o : kEaten) {
    const int32_t e = centre + o;
    if (!in_plane(e) || world.cells[e] != 1) continue;
    if (world.claimed[e] == 0) food_index_take(world, e);
    world.cells[e] = 0;
    add_around(world.neighbours, e, -1);
    clear_live(world.index.grid, e / kWorldHeight, e % kWorldHeight);
    mark_around(world.index.grid, e);
    eaten += 1;
  }
  return eaten;
}

int32_t plant_at(World& world, int32_t x, int32_t y, int32_t agent) {
  if (!on_grid(x, y) || agent < 0 || agent >= kMaxAgents) return 0;
  const int32_t centre = cell_index(x, y);
  const int32_t* genes = world.agents.genome[agent];
  int32_t planted = 0;
  for (const PatternCell& p : kPattern) {
    if (genes[p.gene] <= p.threshold) continue;
    const int32_t e = centre + p.offset;
    if (!in_plane(e)) continue;
    if (world.neighbours[e] != 3) {
      world.neighbours[e] = 3;
      planted += 1;
      track_planted(world.index.grid, e);
      mark_chunk(world.index.grid, e >> kChunkShift);
    }
  }
  return planted;
}

void wipe_grid(World& world) {
  GridTracker& g = world.index.grid;
  if (g.needs_full_pass) {
    std::memset(world.cells, 0, sizeof(world.cells));
    std::memset(world.neighbours, 0, sizeof(world.neighbours));
    return;
  }
  // Counts are nonzero only around live cells and where planting forced them. The
  // wiped cells' chunks are swept by the next step, which clears their next_cells.
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t w = 0; w < kRowWords; ++w) {
      uint64_t bits = g.live_rows[y][w];
      while (bits != 0) {
        const int32_t e = cell_index(w * 64 + __builtin_ctzll(bits), y);
        bits &= bits - 1;
        world.cells[e] = 0;
        world.neighbours[e] = 0;
        for (int32_t o : kAround) {
          if (in_plane(e + o)) world.neighbours[e + o] = 0;
        }
        mark_around(g, e);
      }
    }
  }
  for (int32_t i = 0; i < g.planted_count; ++i) world.neighbours[g.planted[i]] = 0;
  g.planted_count = 0;
  std::memset(g.live_rows, 0, sizeof(g.live_rows));
  food_index_build(world);
}
