#pragma once
// Indexes kept beside the World's planes and agent table so that a frame costs in
// proportion to what happens in it rather than to the size of the world. None of
// them is part of the world's state: every operation gives the same result with or
// without them, and the recorded traces check that.
//
// - GridTracker: which cells are live (a bitmap in row order, so the picture is painted
//   in memory order) and which 8-cell chunks the next Life step must sweep.
//   Away from the cells that changed in the last step, were eaten or planted since,
//   every cell's kind and count already agree with the rule (a dead cell stays dead,
//   a live one lives), so the step sweeps only the chunks around those cells and
//   updates the counts by the births and deaths it finds. A chunk's other cells do no
//   harm: sweeping a cell whose rule agrees with its kind changes nothing.
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

constexpr int32_t kChunkShift = 3;
constexpr int32_t kChunkCount = kCellCount >> kChunkShift;
constexpr int32_t kChunkWords = (kChunkCount + 63) / 64;
constexpr int32_t kRowWords = (kWorldWidth + 63) / 64;

struct GridTracker {
  int32_t needs_full_pass;  // the planes were written directly: the bitmaps may be wrong
  int32_t planted_count;
  int32_t claimed_count;
  int32_t changed_count;
  uint64_t live_rows[kWorldHeight][kRowWords];  // bit x of row y: cell (x, y) is live
  // Chunks the next step sweeps, a bit each: small enough to stay in the nearest cache
  // while the changes mark it, and listed in order a word at a time.
  uint64_t chunk_dirty[kChunkWords];
  int32_t planted[kPlantedCapacity];  // counts forced since the last step: recounted by it
  int32_t claimed[kClaimedCapacity];  // claimed cells, so the step clears just those
  int32_t changed[kCellCount];        // one step's births (e * 2 + 1) and deaths (e * 2)
  int32_t sweep[kChunkCount];         // one step's dirty chunks, in order
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

// Counts the unclaimed live cells afresh from the tracker's bitmap; the index then
// follows the grid until world_reindex.
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
