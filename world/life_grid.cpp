#include "world/life_grid.h"

#include <cstring>
#include <initializer_list>

#include "world/platform.h"
#include "world/world_index.h"


namespace {

inline bool in_plane(int32_t e) { return e >= 0 && e < kCellCount; }

inline void add_around(int32_t* plane, int32_t e, int32_t amount) {
  if (e > kColumnStep && e < kCellCount - kColumnStep - 2) {
#if CORVANTA_SSE2
    // A column's three counts are neighbours in the plane: one four-count add for
    // each of the three columns (the fourth count gets nothing), a third of the
    // operations of eight single adds, for every birth and death.
    const __m128i side = _mm_setr_epi32(amount, amount, amount, 0);
    const __m128i centre = _mm_setr_epi32(amount, 0, amount, 0);
    auto add4 = [&](int32_t at, __m128i values) {
      __m128i* p = reinterpret_cast<__m128i*>(plane + at);
      _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), values));
    };
    add4(e - kColumnStep - kRowStep, side);
    add4(e - kRowStep, centre);
    add4(e + kColumnStep - kRowStep, side);
#else
    // Every offset lies in the plane here: the eight adds without their tests.
    for (int32_t o : kAround) plane[e + o] += amount;
#endif
    return;
  }
  for (int32_t o : kAround) {
    if (in_plane(e + o)) plane[e + o] += amount;
  }
}

struct PatternCell {
  int32_t offset;  // dx * kColumnStep + dy
  int32_t gene;
  int32_t threshold;  // the gene plants its cell when above this
};

constexpr int32_t kRingThreshold = 12;
constexpr int32_t kFarThreshold = 5;

// The ring clockwise from the upper-left neighbour, then the four cells two away:
// above, below, left, right.
constexpr PatternCell kPattern[12] = {
    {-kColumnStep - kRowStep, kGenePlantingRing + 0, kRingThreshold},
    {-kRowStep, kGenePlantingRing + 1, kRingThreshold},
    {kColumnStep - kRowStep, kGenePlantingRing + 2, kRingThreshold},
    {kColumnStep, kGenePlantingRing + 3, kRingThreshold},
    {kColumnStep + kRowStep, kGenePlantingRing + 4, kRingThreshold},
    {kRowStep, kGenePlantingRing + 5, kRingThreshold},
    {-kColumnStep + kRowStep, kGenePlantingRing + 6, kRingThreshold},
    {-kColumnStep, kGenePlantingRing + 7, kRingThreshold},
    {-2 * kRowStep, kGenePlantingFar + 0, kFarThreshold},
    {2 * kRowStep, kGenePlantingFar + 1, kFarThreshold},
    {-2 * kColumnStep, kGenePlantingFar + 2, kFarThreshold},
    {2 * kColumnStep, kGenePlantingFar + 3, kFarThreshold},
};

inline void track_planted(WorldIndex& index, int32_t e) { track_cell(index, index.grid.planted, index.grid.planted_count, e); }

inline bool on_grid(int32_t x, int32_t y) {
  return x >= 0 && x < kWorldWidth && y >= 0 && y < kWorldHeight;
}

inline void set_live(GridTracker& g, int32_t x, int32_t y) {
  g.live_rows[y][x >> 6] |= uint64_t{1} << (x & 63);
}

inline void clear_live(GridTracker& g, int32_t x, int32_t y) {
  g.live_rows[y][x >> 6] &= ~(uint64_t{1} << (x & 63));
}

// Words w with first <= 64 * w + 63 and 64 * w <= last, for cells first..last of a
// row, clipped to the grid.
inline uint32_t words_over(int32_t first, int32_t last) {
  if (first < 0) first = 0;
  if (last > kWorldWidth - 1) last = kWorldWidth - 1;
  return (uint32_t{1} << (first >> 6)) | (uint32_t{1} << (last >> 6));
}

// The next step must recompute every cell that has (x, y) among its neighbours, and
// the cell itself: the 3 x 3 block around it, and across the top and bottom rows
// (whose neighbours continue into the next column) cells up to two columns away.
inline void mark_around(GridTracker& g, int32_t x, int32_t y) {
  const uint32_t near = words_over(x - 1, x + 1);
  g.dirty_words[y] |= near;
  if (y > 0) {
    g.dirty_words[y - 1] |= near;
  } else {
    g.dirty_words[kWorldHeight - 1] |= words_over(x - 2, x + 2);
  }
  if (y < kWorldHeight - 1) {
    g.dirty_words[y + 1] |= near;
  } else {
    g.dirty_words[0] |= words_over(x - 2, x + 2);
  }
}

inline void mark_cell(GridTracker& g, int32_t x, int32_t y) { g.dirty_words[y] |= uint32_t{1} << (x >> 6); }

inline void track_stale(WorldIndex& index, int32_t e) { track_cell(index, index.grid.stale, index.grid.stale_count, e); }

// The rule for one cell: 1 if a cell of this kind with this many live neighbours
// lives in the next generation.
inline int32_t lives_next(int32_t kind, int32_t count) {
  return kind != 0 ? (count == 2 || count == 3) : (count == 3);
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
        mark_around(g, x, y + i);
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

  for (int32_t e = 0; e < kCellCount; ++e) next[e] = lives_next(cells[e], counts[e]);

  GridTracker& g = world.index.grid;
  std::memset(g.live_rows, 0, sizeof(g.live_rows));
  std::memset(g.dirty_words, 0, sizeof(g.dirty_words));
  g.planted_count = 0;
  g.claimed_count = 0;
  g.stale_count = 0;
  world.index.tracking = 1;

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
        mark_around(g, x, y);
        y += dead_run[e];
        dead_run[e] = 0;
      }
      y += 1;
    }
  }
  food_index_build(world);
}

// Bitwise a + b + c: the sum bits and the carries.
template <typename Bits>
static inline void full_add(Bits a, Bits b, Bits c, Bits& sum, Bits& carry) {
  const Bits ab = a ^ b;
  sum = ab ^ c;
  carry = (a & b) | (c & ab);
}

// The rule for 128 cells at once, two words to a register: the eight neighbour bitmaps
// are added in bit-sliced full adders, count = ones + 2 * twos + 4 * (fours_a +
// fours_b), and a cell lives next with a count of 3, or of 2 when it lives now.
template <typename Bits>
static inline Bits life_rule(Bits alive, Bits n0, Bits n1, Bits n2, Bits n3, Bits n4, Bits n5, Bits n6, Bits n7) {
  Bits s1, c1, s2, c2, ones, c4, t, fours_a;
  full_add(n0, n1, n2, s1, c1);
  full_add(n3, n4, n5, s2, c2);
  const Bits s3 = n6 ^ n7;
  const Bits c3 = n6 & n7;
  full_add(s1, s2, s3, ones, c4);
  full_add(c1, c2, c3, t, fours_a);
  const Bits twos = t ^ c4;
  const Bits fours_b = t & c4;
  return twos & ~(fours_a | fours_b) & (ones | alive);
}

static_assert(kRowWords % 2 == 0, "rows are worked out two words at a time");

// Words w and w + 1 (w even) of a bitmap row, shifted so that bit i of a word stands
// for cell 64 * w + i + shift (cells off the row are dead). Two words to a register
// also keep the 32-bit build's 64-bit arithmetic out of its few integer registers.
#if CORVANTA_SSE2
using WordPair = __m128i;

template <int32_t shift>
static inline WordPair row_pair(const uint64_t* row, int32_t w) {
  const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w));
  if constexpr (shift == 0) {
    return pair;
  } else if constexpr (shift > 0) {
    const __m128i after =
        w + 2 < kRowWords ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w + 1)) : _mm_srli_si128(pair, 8);
    return _mm_or_si128(_mm_srli_epi64(pair, shift), _mm_slli_epi64(after, 64 - shift));
  } else {
    const __m128i before =
        w > 0 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w - 1)) : _mm_slli_si128(pair, 8);
    return _mm_or_si128(_mm_slli_epi64(pair, -shift), _mm_srli_epi64(before, 64 + shift));
  }
}

static inline void store_pair(uint64_t* to, WordPair pair) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), pair); }
#else
// The same two words as a pair of plain 64-bit words, for life_rule's bitwise operators.
struct WordPair {
  uint64_t low, high;
};
static inline WordPair operator&(WordPair a, WordPair b) { return {a.low & b.low, a.high & b.high}; }
static inline WordPair operator|(WordPair a, WordPair b) { return {a.low | b.low, a.high | b.high}; }
static inline WordPair operator^(WordPair a, WordPair b) { return {a.low ^ b.low, a.high ^ b.high}; }
static inline WordPair operator~(WordPair a) { return {~a.low, ~a.high}; }

template <int32_t shift>
static inline WordPair row_pair(const uint64_t* row, int32_t w) {
  if constexpr (shift == 0) {
    return {row[w], row[w + 1]};
  } else if constexpr (shift > 0) {
    const uint64_t after = w + 2 < kRowWords ? row[w + 2] : 0;
    return {row[w] >> shift | row[w + 1] << (64 - shift), row[w + 1] >> shift | after << (64 - shift)};
  } else {
    const uint64_t before = w > 0 ? row[w - 1] : 0;
    return {row[w] << -shift | before >> (64 + shift), row[w + 1] << -shift | row[w] >> (64 + shift)};
  }
}

static inline void store_pair(uint64_t* to, WordPair pair) {
  to[0] = pair.low;
  to[1] = pair.high;
}
#endif

// Bits of the last word that lie beyond the grid's right edge: never live.
constexpr uint64_t kLastWordCells = (kWorldWidth & 63) == 0 ? ~uint64_t{0} : (uint64_t{1} << (kWorldWidth & 63)) - 1;

// The next generation of the marked words of row y into next_rows. Above and below
// are the rows holding the neighbours; up and down shift them by a cell where the
// neighbours continue into the next column: above row 0 lie the cells of row 399 one
// column to the left, below row 399 those of row 0 one column to the right.
template <int32_t up, int32_t down>
static inline void rule_row(GridTracker& g, int32_t y, const uint64_t* above, const uint64_t* below) {
  const uint64_t* row = g.live_rows[y];
  uint32_t words = g.sweep_words[y] & 0x55555555u;  // the sweep marks words in pairs
  while (words != 0) {
    const int32_t w = __builtin_ctz(words);
    words &= words - 1;
    store_pair(g.next_rows[y] + w,
               life_rule(row_pair<0>(row, w), row_pair<up - 1>(above, w), row_pair<up>(above, w),
                         row_pair<up + 1>(above, w), row_pair<-1>(row, w), row_pair<1>(row, w),
                         row_pair<down - 1>(below, w), row_pair<down>(below, w), row_pair<down + 1>(below, w)));
    if (w + 2 == kRowWords) g.next_rows[y][kRowWords - 1] &= kLastWordCells;
  }
}

// A cell is born or dies: the planes, the bitmap's neighbour counts, the food index
// and the marks for the next step follow it.
static inline void apply_change(World& world, int32_t x, int32_t y, int32_t born) {
  GridTracker& g = world.index.grid;
  const int32_t e = cell_index(x, y);
  world.cells[e] = born;
  world.next_cells[e] = born;
  const int32_t amount = born ? 1 : -1;
  add_around(world.neighbours, e, amount);
  food_count(world.index.food, x, y, amount);
  mark_around(g, x, y);
}

// The same generation from the marked words alone; the planes end exactly as the
// full passes leave them.
static void life_step_tracked(World& world) {
  GridTracker& g = world.index.grid;
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    // Words are worked out two at a time: both of a pair if either is marked.
    const uint32_t pairs = (g.dirty_words[y] | g.dirty_words[y] >> 1) & 0x55555555u;
    g.sweep_words[y] = pairs | pairs << 1;
    g.dirty_words[y] = 0;
  }

  // The rule from the bitmap: a cell's count in the plane is the number of its live
  // neighbours, except where planting forced it.
  constexpr int32_t kLast = kWorldHeight - 1;
  rule_row<-1, 0>(g, 0, g.live_rows[kLast], g.live_rows[1]);
  for (int32_t y = 1; y < kLast; ++y) {
    if (g.sweep_words[y] != 0) rule_row<0, 0>(g, y, g.live_rows[y - 1], g.live_rows[y + 1]);
  }
  rule_row<0, 1>(g, kLast, g.live_rows[kLast - 1], g.live_rows[0]);
  for (int32_t i = 0; i < g.planted_count; ++i) {
    const int32_t e = g.planted[i];
    const int32_t x = e / kWorldHeight;
    const int32_t y = e - x * kWorldHeight;
    const bool lives = lives_next(world.cells[e], world.neighbours[e]) != 0;
    const uint64_t bit = uint64_t{1} << (x & 63);
    uint64_t& word = g.next_rows[y][x >> 6];
    word = lives ? (word | bit) : (word & ~bit);
  }

  // Claims lapse with the generation: a claimed cell still live is food again.
  FoodIndex& food = world.index.food;
  for (int32_t i = 0; i < g.claimed_count; ++i) {
    const int32_t e = g.claimed[i];
    world.claimed[e] = 0;
    const int32_t x = e / kWorldHeight;
    const int32_t y = e - x * kWorldHeight;
    if (live_at(g, x, y)) food_count(food, x, y, 1);
  }
  g.claimed_count = 0;

  // Births and deaths into the planes, the counts following them.
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    uint32_t words = g.sweep_words[y];
    while (words != 0) {
      const int32_t w = __builtin_ctz(words);
      words &= words - 1;
      const uint64_t next = g.next_rows[y][w];
      const uint64_t changed = next ^ g.live_rows[y][w];
      if (changed == 0) continue;
      g.live_rows[y][w] = next;
      // Births, then deaths: what a change writes, it adds or sets for its own cell only.
      for_each_bit(changed & next, [&](int32_t bit) { apply_change(world, w * 64 + bit, y, 1); });
      for_each_bit(changed & ~next, [&](int32_t bit) { apply_change(world, w * 64 + bit, y, 0); });
    }
  }

  // Forced counts are counted afresh; next_cells catches up with eaten cells.
  for (int32_t i = 0; i < g.planted_count; ++i) {
    const int32_t e = g.planted[i];
    world.neighbours[e] = recount(world.cells, e);
    mark_cell(g, e / kWorldHeight, e % kWorldHeight);
  }
  g.planted_count = 0;
  for (int32_t i = 0; i < g.stale_count; ++i) world.next_cells[g.stale[i]] = world.cells[g.stale[i]];
  g.stale_count = 0;
}

void life_step(World& world) {
  if (!world.index.tracking) {
    life_step_full(world);
  } else {
    life_step_tracked(world);
  }
}

int32_t eat_at(World& world, int32_t x, int32_t y) {
  if (!on_grid(x, y)) return 0;
  const int32_t centre = cell_index(x, y);
  if (world.cells[centre] != 1) return 0;
  constexpr int32_t kEaten[5] = {0, kColumnStep, -kColumnStep, kRowStep, -kRowStep};
  int32_t eaten = 0;
  for (int32_t o : kEaten) {
    const int32_t e = centre + o;
    if (!in_plane(e) || world.cells[e] != 1) continue;
    if (world.claimed[e] == 0) food_index_take(world, e);
    world.cells[e] = 0;
    add_around(world.neighbours, e, -1);
    const int32_t ex = e / kWorldHeight;
    const int32_t ey = e - ex * kWorldHeight;
    clear_live(world.index.grid, ex, ey);
    mark_around(world.index.grid, ex, ey);
    track_stale(world.index, e);
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
      track_planted(world.index, e);
      mark_cell(world.index.grid, e / kWorldHeight, e % kWorldHeight);
    }
  }
  return planted;
}

void wipe_grid(World& world) {
  GridTracker& g = world.index.grid;
  if (!world.index.tracking) {
    std::memset(world.cells, 0, sizeof(world.cells));
    std::memset(world.neighbours, 0, sizeof(world.neighbours));
    return;
  }
  // Counts are nonzero only around live cells and where planting forced them. The
  // next step sets the wiped cells' next_cells, as it would after the full passes.
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t w = 0; w < kRowWords; ++w) {
      for_each_bit(g.live_rows[y][w], [&](int32_t bit) {
        const int32_t x = w * 64 + bit;
        const int32_t e = cell_index(x, y);
        world.cells[e] = 0;
        world.neighbours[e] = 0;
        for (int32_t o : kAround) {
          if (in_plane(e + o)) world.neighbours[e + o] = 0;
        }
        mark_around(g, x, y);
        track_stale(world.index, e);
      });
    }
  }
  for (int32_t i = 0; i < g.planted_count; ++i) world.neighbours[g.planted[i]] = 0;
  g.planted_count = 0;
  std::memset(g.live_rows, 0, sizeof(g.live_rows));
  food_index_build(world);
}
