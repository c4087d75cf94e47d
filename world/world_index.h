#pragma once
// Indexes kept beside the World's planes and agent table so that a frame costs in
// proportion to what happens in it rather than to the size of the world. None of
// them is part of the world's state: every operation gives the same result with or
// without them, and the recorded traces check that.
//
// - GridTracker: which cells are live, as a bitmap in row order, and which 64-cell
//   words of it the next Life step must recompute. Away from the cells that changed
//   in the last step, were eaten or planted since, every cell's kind and count already
//   agree with the rule (a dead cell stays dead, a live one lives), so the step works
//   the rule out only for the words around those cells, 64 cells at a time from the
//   bitmap alone, and touches the planes only where a cell is born or dies. A word's
//   other cells do no harm: the rule gives them the kind they have.
// - FoodIndex: unclaimed live cells counted per row segment and per column segment, so
//   a food search steps over empty stretches of its rings at once. Kept in step by
//   every Life step (births, deaths, claims released), eating and claiming.
// - AgentBuckets: agents by 32 x 32 cell bucket of their position, so a contact scan
//   only looks at slots near the agent. Built at the start of each frame's agent loop
//   and kept in step as agents move and spawn.
//
// Code that writes the grid planes directly (tests building a scene, a loaded
// snapshot) calls world_reindex afterwards; the next Life step then takes the full
// passes and starts tracking again.
#include <cstdint>

// Reached only through world_state.h, which defines the world's sizes first.

constexpr int32_t kPlantedCapacity = 65536;
constexpr int32_t kClaimedCapacity = 65536;

constexpr int32_t kStaleCapacity = 65536;
constexpr int32_t kRowWords = (kWorldWidth + 63) / 64;
static_assert(kRowWords <= 32, "a row's words needing work fit one 32-bit mask");

struct GridTracker {
  int32_t needs_full_pass;  // the planes were written directly: the bitmaps may be wrong
  int32_t planted_count;
  int32_t claimed_count;
  int32_t stale_count;
  uint64_t live_rows[kWorldHeight][kRowWords];  // bit x of row y: cell (x, y) is live
  // Bit w of row y: the next step recomputes word w of that row. A mask per row keeps
  // the marking to three ORs per changed cell and the whole set in the nearest cache.
  uint32_t dirty_words[kWorldHeight];
  uint32_t sweep_words[kWorldHeight];           // the words this step recomputes
  uint64_t next_rows[kWorldHeight][kRowWords];  // their next generation
  int32_t planted[kPlantedCapacity];  // counts forced since the last step: recounted by it
  int32_t claimed[kClaimedCapacity];  // claimed cells, so the step clears just those
  // Cells eaten or wiped since the last step: their next_cells still holds the kind
  // they had, and the step sets it to the kind they have.
  int32_t stale[kStaleCapacity];
};

constexpr int32_t kFoodSegmentShift = 4;
constexpr int32_t kRowSegments = (kWorldWidth + 15) >> kFoodSegmentShift;
constexpr int32_t kColumnSegments = (kWorldHeight + 15) >> kFoodSegmentShift;

struct FoodIndex {
  int32_t active;
  int32_t total;
  int32_t row_total[kWorldHeight];
  int32_t column_total[kWorldWidth];
  uint8_t row_segment[kWorldHeight][kRowSegments];  // at most 16 each
  uint8_t column_segment[kWorldWidth][kColumnSegments];
};

// Agents may stand a little off the grid; positions beyond the margin share the
// outermost buckets, which the queries treat as unbounded.
constexpr int32_t kBucketShift = 5;
constexpr int32_t kBucketMargin = 64;
constexpr int32_t kBucketColumns = ((kWorldWidth + 2 * kBucketMargin) >> kBucketShift) + 1;
constexpr int32_t kBucketRows = ((kWorldHeight + 2 * kBucketMargin) >> kBucketShift) + 1;

struct AgentBuckets {
  int32_t active;
  int32_t head[kBucketRows * kBucketColumns];
  int32_t next[kMaxAgents];
  int32_t prev[kMaxAgents];
  int32_t bucket[kMaxAgents];  // the slot's bucket, if linked in this build
  uint32_t build;                  // counts builds, so a build need not touch free slots
  uint32_t linked_in[kMaxAgents];  // the build in which the slot was last linked
  int32_t found[kMaxAgents];   // one query's slots
};

struct WorldIndex {
  GridTracker grid;
  FoodIndex food;
  AgentBuckets buckets;
};

struct World;

// Appends cell e to one of the tracker's lists; a full list leaves the next step to the
// full passes, which need no list.
template <int32_t N>
inline void track_cell(GridTracker& g, int32_t (&list)[N], int32_t& count, int32_t e) {
  if (count < N) {
    list[count++] = e;
  } else {
    g.needs_full_pass = 1;
  }
}

// Calls visit(i) for every set bit i of bits, lowest first. A 32-bit build takes the
// word in halves: there a 64-bit bit scan is a library call and a 64-bit clear several
// instructions.
template <typename Visit>
inline void for_each_bit(uint64_t bits, Visit visit) {
#if UINTPTR_MAX > 0xFFFFFFFFu
  for (; bits != 0; bits &= bits - 1) visit(__builtin_ctzll(bits));
#else
  for (uint32_t low = static_cast<uint32_t>(bits); low != 0; low &= low - 1) visit(__builtin_ctz(low));
  for (uint32_t high = static_cast<uint32_t>(bits >> 32); high != 0; high &= high - 1) visit(32 + __builtin_ctz(high));
#endif
}

inline bool live_at(const GridTracker& g, int32_t x, int32_t y) {
  return (g.live_rows[y][x >> 6] >> (x & 63)) & 1;
}

// One more or one less unclaimed live cell at (x, y).
inline void food_count(FoodIndex& f, int32_t x, int32_t y, int32_t amount) {
  f.total += amount;
  f.row_total[y] += amount;
  f.column_total[x] += amount;
  f.row_segment[y][x >> kFoodSegmentShift] = static_cast<uint8_t>(f.row_segment[y][x >> kFoodSegmentShift] + amount);
  f.column_segment[x][y >> kFoodSegmentShift] =
      static_cast<uint8_t>(f.column_segment[x][y >> kFoodSegmentShift] + amount);
}

// Counts the unclaimed live cells afresh, from the tracker's bitmap or, while that
// waits for the full passes, from the planes; the index then follows the grid until
// world_reindex.
void food_index_build(World& world);
// Cell e stops being food (eaten or claimed); only while the index is active.
void food_index_take(World& world, int32_t e);

// Live agents into buckets; the buckets then follow moves and spawns until
// agent_buckets_stop.
void agent_buckets_build(World& world);
void agent_buckets_stop(World& world);
// After the slot's position changed or the slot was spawned; only while active.
void agent_buckets_place(World& world, int32_t slot);
// Live slots other than `exclude` whose city-block distance from (x, y) is below
// reach, in ascending slot order, into world.index.buckets.found; returns how many.
int32_t agent_buckets_gather(World& world, int32_t x, int32_t y, int32_t reach, int32_t exclude);
