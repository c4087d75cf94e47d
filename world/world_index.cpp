#include "world/world_index.h"

#include <algorithm>
#include <cstring>

#include "world/agent_table.h"
#include "world/world_state.h"

void world_reindex(World& world) {
  world.index.tracking = 0;
  world.index.buckets.active = 0;
}

// ---- food ----

void food_index_build(World& world) {
  FoodIndex& f = world.index.food;
  const GridTracker& g = world.index.grid;
  std::memset(&f, 0, sizeof(FoodIndex));
  if (!world.index.tracking) {
    // The bitmap waits for the full passes: the planes are all there is.
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      for (int32_t y = 0; y < kWorldHeight; ++y) {
        const int32_t e = cell_index(x, y);
        if (world.cells[e] == 1 && world.claimed[e] == 0) food_count(f, x, y, 1);
      }
    }
    return;
  }
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t w = 0; w < kRowWords; ++w) {
      for_each_bit(g.live_rows[y][w], [&](int32_t bit) {
        const int32_t x = w * 64 + bit;
        if (world.claimed[cell_index(x, y)] == 0) food_count(f, x, y, 1);
      });
    }
  }
}

void food_index_take(World& world, int32_t e) {
  if (world.index.tracking) food_count(world.index.food, e / kWorldHeight, e % kWorldHeight, -1);
}

// ---- agents ----

static inline int32_t bucket_of(int64_t v, int32_t count) {
  if (v < -kBucketMargin) return 0;
  const int64_t k = (v + kBucketMargin) >> kBucketShift;
  return k < count ? static_cast<int32_t>(k) : count - 1;
}

static inline int32_t bucket_column(int64_t x) { return bucket_of(x, kBucketColumns); }
static inline int32_t bucket_row(int64_t y) { return bucket_of(y, kBucketRows); }

static inline void bucket_unlink(AgentBuckets& b, int32_t s) {
  const int32_t p = b.prev[s];
  const int32_t n = b.next[s];
  if (p >= 0) {
    b.next[p] = n;
  } else {
    b.head[b.bucket[s]] = n;
  }
  if (n >= 0) b.prev[n] = p;
  b.linked_in[s] = b.generation - 1;
}

static inline void bucket_link(AgentBuckets& b, int32_t s, int32_t k) {
  b.bucket[s] = k;
  b.linked_in[s] = b.generation;
  b.prev[s] = -1;
  b.next[s] = b.head[k];
  if (b.head[k] >= 0) b.prev[b.head[k]] = s;
  b.head[k] = s;
}

void agent_buckets_build(World& world) {
  AgentBuckets& b = world.index.buckets;
  const AgentTable& t = world.agents;
  std::fill(b.head, b.head + kBucketRows * kBucketColumns, -1);
  // A new generation unlinks every slot at once.
  b.generation += 1;
  if (b.generation == 0) {
    std::fill(b.linked_in, b.linked_in + kMaxAgents, 0u);
    b.generation = 1;
  }
  // Descending, so that each bucket's list starts in ascending slot order.
  for (int32_t s = kMaxAgents - 1; s >= 0; --s) {
    if (s % 8 == 7 && free_eight(t, s - 7)) {
      s -= 7;
      continue;
    }
    if (t.alive[s] == 1) {
      bucket_link(b, s, bucket_row(t.pos_y[s]) * kBucketColumns + bucket_column(t.pos_x[s]));
    }
  }
  b.active = 1;
}

void agent_buckets_stop(World& world) { world.index.buckets.active = 0; }

void agent_buckets_place(World& world, int32_t slot) {
  AgentBuckets& b = world.index.buckets;
  if (!b.active) return;
  const int32_t k =
      bucket_row(world.agents.pos_y[slot]) * kBucketColumns + bucket_column(world.agents.pos_x[slot]);
  const bool linked = b.linked_in[slot] == b.generation;
  if (linked && b.bucket[slot] == k) return;
  if (linked) bucket_unlink(b, slot);
  bucket_link(b, slot, k);
}

// Lowest and highest coordinate a bucket holds; the outermost buckets are unbounded.
static inline void bucket_span(int32_t index, int32_t count, int64_t& low, int64_t& high) {
  low = index == 0 ? INT64_MIN / 4 : (index << kBucketShift) - kBucketMargin;
  high = index == count - 1 ? INT64_MAX / 4 : ((index + 1) << kBucketShift) - kBucketMargin - 1;
}

int32_t agent_buckets_gather(World& world, int32_t x, int32_t y, int32_t reach, int32_t exclude) {
  AgentBuckets& b = world.index.buckets;
  const AgentTable& t = world.agents;
  if (reach <= 0) return 0;
  const int32_t c0 = bucket_column(static_cast<int64_t>(x) - (reach - 1));
  const int32_t c1 = bucket_column(static_cast<int64_t>(x) + (reach - 1));
  const int32_t r0 = bucket_row(static_cast<int64_t>(y) - (reach - 1));
  const int32_t r1 = bucket_row(static_cast<int64_t>(y) + (reach - 1));
  int32_t n = 0;
  for (int32_t r = r0; r <= r1; ++r) {
    int64_t ylo, yhi;
    bucket_span(r, kBucketRows, ylo, yhi);
    const int64_t gap_y = y < ylo ? ylo - y : (y > yhi ? y - yhi : 0);
    if (gap_y >= reach) continue;
    for (int32_t c = c0; c <= c1; ++c) {
      int64_t xlo, xhi;
      bucket_span(c, kBucketColumns, xlo, xhi);
      const int64_t gap_x = x < xlo ? xlo - x : (x > xhi ? x - xhi : 0);
      if (gap_x + gap_y >= reach) continue;
      // Every slot is written and only those in reach are kept: whether a neighbour is
      // in reach goes either way, and a branch on it mispredicts in crowds.
      for (int32_t s = b.head[r * kBucketColumns + c]; s >= 0; s = b.next[s]) {
        b.found[n] = s;
        n += static_cast<int32_t>(s != exclude) & static_cast<int32_t>(t.alive[s] == 1) &
             static_cast<int32_t>(within_reach(x, y, t.pos_x[s], t.pos_y[s], reach));
      }
    }
  }
  std::sort(b.found, b.found + n);
  return n;
}
