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
//   only looks at slots near the agent.
//
// One rule says when each may be trusted:
// - The grid tracker and the food index share the flag `tracking`. A Life step that
//   finds it 0 takes the full passes over the planes, rebuilds both and sets it; from
//   then on every write the world's own operations make to the grid (Life, eating,
//   planting, claiming, wiping) keeps both in step. world_reindex clears it: code that
//   writes the planes directly (a test building a scene, a loaded snapshot) calls it
//   afterwards. A tracker list that runs full clears it too, which costs only speed.
// - The buckets live for the simulated part of one frame: frame_step builds them
//   right after the Life step and stops them when the frame's population policy is
//   done; in between, every move and spawn keeps them in step. Outside a frame step
//   they are off, so positions may be written freely between frames.
// Whatever is off, the operations give the same answers: the Life step and drawing take
// their full passes, a food search counts the food from the planes for itself, and a
// contact scan without buckets passes over every slot.
//
// The data comes first, for the World to hold; the operations that keep it, which take
// the whole World, come last.
#include <cstdint>

#include "world/world_constants.h"
#include "world/platform.h"

struct World;

constexpr int32_t kPlantedCapacity = 65536;
constexpr int32_t kClaimedCapacity = 65536;

constexpr int32_t kStaleCapacity = 65536;
constexpr int32_t kRowWords = (kWorldWidth + 63) / 64;
static_assert(kRowWords <= 32, "a row's words needing work fit one 32-bit mask");

struct GridTracker {
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
  int32_t active;  // inside a frame step's simulated part
  int32_t head[kBucketRows * kBucketColumns];
  int32_t next[kMaxAgents];
  int32_t prev[kMaxAgents];
  int32_t bucket[kMaxAgents];  // the slot's bucket, if linked in this generation
  // Goes up by one at every agent_buckets_build: a slot is linked while its linked_in
  // equals it, so a build unlinks every slot at once without touching the free ones.
  uint32_t generation;
  uint32_t linked_in[kMaxAgents];  // the generation in which the slot was last linked
  int32_t found[kMaxAgents];   // one query's slots
};

struct WorldIndex {
  int32_t tracking;  // 1 while the grid tracker and the food index follow the planes
  GridTracker grid;
  FoodIndex food;
  AgentBuckets buckets;
};

// Appends cell e to one of the tracker's lists; a full list leaves the next step to the
// full passes, which need no list.
template <int32_t N>
inline void track_cell(WorldIndex& index, int32_t (&list)[N], int32_t& count, int32_t e) {
  if (count < N) {
    list[count++] = e;
  } else {
    index.tracking = 0;
  }
}

// Calls visit(i) for every set bit i of bits, lowest first. A 32-bit build takes the
// word in halves: there a 64-bit bit scan is a library call and a 64-bit clear several
// instructions.
template <typename Visit>
inline void for_each_bit(uint64_t bits, Visit visit) {
#if CORVANTA_WIDE_WORDS
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

// ---- upkeep (world_index.cpp) ----

// After writing the grid planes directly: the next Life step rebuilds the grid
// tracker and the food index, and the buckets wait for the next frame step.
void world_reindex(World& world);

// Counts the unclaimed live cells afresh: from the tracker's bitmap while tracking,
// else from the planes.
void food_index_build(World& world);
// Cell e stops being food (eaten or claimed); nothing while not tracking.
void food_index_take(World& world, int32_t e);

// Live agents into buckets; the buckets then follow moves and spawns until
// agent_buckets_stop. frame_step makes both calls, once a simulated frame.
void agent_buckets_build(World& world);
void agent_buckets_stop(World& world);
// After the slot's position changed or the slot was spawned; nothing while stopped.
void agent_buckets_place(World& world, int32_t slot);
// Live slots other than `exclude` whose city-block distance from (x, y) is below
// reach, in ascending slot order, into world.index.buckets.found; returns how many.
int32_t agent_buckets_gather(World& world, int32_t x, int32_t y, int32_t reach, int32_t exclude);
