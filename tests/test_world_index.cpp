// Each index kept in step on its own: the Life step's tracker (live bitmap, marks,
// planted, claimed and stale lists), the food counts and the agent buckets, through
// every operation that changes what they follow. After each operation check_index
// must find nothing, and the grid must step as the plain Life step steps it. And
// check_index itself must name what a damaged index got wrong.
#include <random>
#include <string>
#include <vector>

#include "tests/reference/plain_world.h"
#include "test_support.h"
#include "world/agent_behaviour.h"
#include "world/agent_table.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/world_check.h"
#include "world/world_index.h"

namespace {

constexpr int32_t kPlanter = kMaxAgents - 1;  // a free slot whose genome both worlds plant with

// An indexed world and a plain one holding the same grid.
struct Grids {
  std::unique_ptr<World> fast = make_world();
  std::unique_ptr<World> plain = make_world();

  Grids() {
    change([](World& w) {
      for (int32_t g = 20; g < 32; ++g) w.agents.genome[kPlanter][g] = 25;
    });
  }

  template <typename Change>
  void change(Change c) {
    c(*fast);
    c(*plain);
  }

  // Cells written directly, with the counts a step leaves: the next indexed step takes
  // the full passes and starts tracking.
  void scene(const std::vector<int32_t>& live) {
    change([&](World& w) {
      for (int32_t e : live) w.cells[e] = 1;
      for (int32_t e = 0; e < kCellCount; ++e) {
        if (w.cells[e] != 1) continue;
        for (int32_t o : {-401, -400, -399, -1, 1, 399, 400, 401}) {
          if (e + o >= 0 && e + o < kCellCount) w.neighbours[e + o] += 1;
        }
      }
    });
    world_reindex(*fast);
  }

  // The indexes against the planes, then the planes against the plain world's.
  std::string compare() const {
    const WorldCheck check = check_index(*fast);
    if (!check.ok) return check.message;
    return first_world_difference(*fast, *plain);
  }

  std::string step() {
    life_step(*fast);
    plain_life_step(*plain);
    return compare();
  }

  std::string eat(int32_t x, int32_t y) {
    const int32_t a = eat_at(*fast, x, y);
    const int32_t b = plain_eat_at(*plain, x, y);
    return a == b ? compare() : "eat_at " + std::to_string(a) + " against " + std::to_string(b);
  }

  std::string plant(int32_t x, int32_t y) {
    const int32_t a = plant_at(*fast, x, y, kPlanter);
    const int32_t b = plain_plant_at(*plain, x, y, kPlanter);
    return a == b ? compare() : "plant_at " + std::to_string(a) + " against " + std::to_string(b);
  }
};

// Live cells at random, with the given density, in the rows and columns chosen.
std::vector<int32_t> soup(uint32_t seed, double density, bool (*chosen)(int32_t x, int32_t y)) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution live(density);
  std::vector<int32_t> cells;
  for (int32_t x = 0; x < kWorldWidth; ++x) {
    for (int32_t y = 0; y < kWorldHeight; ++y) {
      if (chosen(x, y) && live(rng)) cells.push_back(cell_index(x, y));
    }
  }
  return cells;
}

// Near the bitmap's word seams, or in the rows where a column continues into the next.
bool near_seams(int32_t x, int32_t y) {
  const int32_t in_word = x & 63;
  return y < 4 || y >= kWorldHeight - 4 || in_word < 4 || in_word >= 60;
}

bool anywhere(int32_t, int32_t) { return true; }

// Slots other than `exclude`, alive, within city-block distance below `reach` of (x, y),
// in ascending order: what a bucket query must return.
std::vector<int32_t> plain_gather(const World& w, int32_t x, int32_t y, int32_t reach, int32_t exclude) {
  std::vector<int32_t> out;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    if (s != exclude && w.agents.alive[s] == 1 && city_distance(x, y, w.agents.pos_x[s], w.agents.pos_y[s]) < reach) {
      out.push_back(s);
    }
  }
  return out;
}

std::vector<int32_t> gather(World& w, int32_t x, int32_t y, int32_t reach, int32_t exclude) {
  const int32_t n = agent_buckets_gather(w, x, y, reach, exclude);
  return std::vector<int32_t>(w.index.buckets.found, w.index.buckets.found + n);
}

}  // namespace

// ---- the Life step's tracker ----

TEST(GridTracker, MarksFollowBirthsAndDeathsAcrossWordSeamsAndColumnEnds) {
  // Soups that live on the word seams and on rows 0 and 399, whose neighbours continue
  // into the next column two cells along: a mark one cell too narrow leaves a change
  // unmarked within a few generations.
  for (uint32_t seed : {1u, 2u, 3u}) {
    Grids grids;
    grids.scene(soup(seed, 0.3, near_seams));
    for (int32_t generation = 0; generation < 40; ++generation) {
      ASSERT_EQ(grids.step(), "") << "seed " << seed << " generation " << generation;
    }
  }
}

TEST(GridTracker, AChangeOnRowZeroOrRow399IsMarkedTwoColumnsAlongAcrossAWordSeam) {
  // Row 0 of column x borders row 399 of columns x - 2 .. x, and row 399 of column x
  // borders row 0 of columns x .. x + 2. A still block gives a dead cell two columns
  // along, across a word seam, a count of 2; a lone planted birth on the other row makes
  // it 3. Nothing else changes, so only the birth's own marks can reach that cell.
  const struct {
    int32_t block_x, block_y;  // upper-left cell of the block
    int32_t plant_x, plant_y, gene;  // gene 21 plants (x, y - 1), gene 25 (x, y + 1)
    int32_t born_x, born_y;
  } cases[] = {
      {62, 397, 65, 1, 21, 63, 399},    // seams of one word pair, 63 | 64
      {126, 397, 129, 1, 21, 127, 399},  // and of two pairs, 127 | 128
      {64, 1, 62, 398, 25, 64, 0},
      {128, 1, 126, 398, 25, 128, 0},
  };
  for (const auto& c : cases) {
    Grids grids;
    grids.change([&](World& w) {
      for (int32_t g = 20; g < 32; ++g) w.agents.genome[kPlanter][g] = g == c.gene ? 25 : 1;
    });
    grids.scene({cell_index(c.block_x, c.block_y), cell_index(c.block_x + 1, c.block_y),
                 cell_index(c.block_x, c.block_y + 1), cell_index(c.block_x + 1, c.block_y + 1)});
    ASSERT_EQ(grids.step(), "");
    ASSERT_EQ(grids.step(), "");  // the block stands: nothing is marked any more
    ASSERT_EQ(grids.plant(c.plant_x, c.plant_y), "");
    for (int32_t generation = 0; generation < 3; ++generation) {
      ASSERT_EQ(grids.step(), "") << "planted at " << c.plant_x << ", " << c.plant_y << " generation " << generation;
      if (generation == 1) {
        EXPECT_EQ(grids.fast->cells[cell_index(c.born_x, c.born_y)], 1) << c.born_x << ", " << c.born_y;
      }
    }
  }
}

TEST(GridTracker, EatingPlantingAndClaimingBetweenStepsKeepTheMarksAndLists) {
  Grids grids;
  grids.scene(soup(4, 0.2, anywhere));
  ASSERT_EQ(grids.step(), "");
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> column(0, kWorldWidth - 1), row(0, kWorldHeight - 1);
  const int32_t forager = place_agent(*grids.fast, 0, 0, kModeForage);
  place_agent(*grids.plain, 0, 0, kModeForage);
  auto same = [&](int32_t a, int32_t b) { return a == b ? std::string() : std::to_string(a) + " against " + std::to_string(b); };
  for (int32_t generation = 0; generation < 12; ++generation) {
    // Eating, planting and claiming, in turns; the indexes are held to the planes
    // after each kind of operation.
    for (int32_t kind = 0; kind < 3; ++kind) {
      for (int32_t k = 0; k < 40; ++k) {
        const int32_t x = column(rng), y = row(rng);
        if (kind == 0) {
          ASSERT_EQ(same(eat_at(*grids.fast, x, y), plain_eat_at(*grids.plain, x, y)), "") << "eat " << x << ", " << y;
        } else if (kind == 1) {
          ASSERT_EQ(same(plant_at(*grids.fast, x, y, kPlanter), plain_plant_at(*grids.plain, x, y, kPlanter)), "")
              << "plant " << x << ", " << y;
        } else {
          grids.change([&](World& w) {
            w.agents.pos_x[forager] = x;
            w.agents.pos_y[forager] = y;
            w.agents.search_radius[forager] = 30;
          });
          ASSERT_EQ(same(find_food(*grids.fast, forager), plain_find_food(*grids.plain, forager)), "")
              << "search from " << x << ", " << y;
        }
      }
      ASSERT_EQ(grids.compare(), "") << "operations " << kind << ", generation " << generation;
    }
    ASSERT_EQ(grids.step(), "") << "generation " << generation;
  }
}

TEST(GridTracker, APlantingAloneIsMarkedAndBorn) {
  // The only change on an empty grid: nothing else marks the planted cells' words.
  // Corners and seams included, where the pattern reaches into the next column.
  const int32_t places[][2] = {{500, 200}, {64, 0}, {63, 399}, {128, 1}, {999, 399}, {0, 0}, {1, 398}};
  for (const auto& p : places) {
    Grids grids;
    grids.scene({});
    ASSERT_EQ(grids.step(), "");
    ASSERT_EQ(grids.step(), "");
    ASSERT_EQ(grids.plant(p[0], p[1]), "") << p[0] << ", " << p[1];
    for (int32_t generation = 0; generation < 4; ++generation) {
      ASSERT_EQ(grids.step(), "") << p[0] << ", " << p[1] << " generation " << generation;
    }
  }
}

TEST(GridTracker, WipesAndFullListsFallBackAndStepLikeThePlainGrid) {
  // A wipe of a tracked grid, a wipe while the full passes are due, and more plantings
  // than the planted list holds.
  for (int32_t variant = 0; variant < 3; ++variant) {
    Grids grids;
    grids.scene(soup(6, 0.25, anywhere));
    ASSERT_EQ(grids.step(), "");
    ASSERT_EQ(grids.plant(300, 300), "");
    ASSERT_EQ(grids.eat(301, 300), "");
    if (variant == 1) world_reindex(*grids.fast);
    if (variant < 2) {
      wipe_grid(*grids.fast);
      grids.change([](World& w) {
        std::memset(w.cells, 0, sizeof(w.cells));
        std::memset(w.neighbours, 0, sizeof(w.neighbours));
      });
      ASSERT_EQ(grids.compare(), "") << "variant " << variant;
      ASSERT_EQ(grids.plant(700, 100), "") << "variant " << variant;
    } else {
      grids.change([](World& w) {
        for (int32_t g = 20; g < 32; ++g) w.agents.genome[kPlanter][g] = g == 21 ? 25 : 1;
      });
      // Each planting forces one cell, on every other row, until the list is full.
      for (int32_t k = 0; k < kCellCount / 2 && grids.fast->index.tracking; ++k) {
        const int32_t x = k % kWorldWidth, y = 1 + 2 * (k / kWorldWidth);
        plant_at(*grids.fast, x, y, kPlanter);
        plain_plant_at(*grids.plain, x, y, kPlanter);
      }
      ASSERT_EQ(grids.fast->index.tracking, 0);
      ASSERT_EQ(grids.compare(), "");
    }
    for (int32_t generation = 0; generation < 3; ++generation) {
      ASSERT_EQ(grids.step(), "") << "variant " << variant << " generation " << generation;
    }
    EXPECT_EQ(grids.fast->index.tracking, 1);
  }
}

// ---- the food counts ----

TEST(FoodIndex, FollowsBirthsDeathsEatingClaimsAndLapsedClaims) {
  // A blinker at (100, 100) and a block at (200, 200), the blinker's centre claimed.
  Grids grids;
  grids.scene({cell_index(100, 100), cell_index(101, 100), cell_index(102, 100), cell_index(200, 200),
               cell_index(201, 200), cell_index(200, 201), cell_index(201, 201)});
  ASSERT_EQ(grids.step(), "");  // the blinker stands up: (101, 99..101)
  const FoodIndex& food = grids.fast->index.food;
  ASSERT_EQ(grids.fast->index.tracking, 1);
  EXPECT_EQ(food.total, 7);
  const int32_t fast_agent = place_agent(*grids.fast, 96, 100, kModeForage);
  const int32_t plain_agent = place_agent(*grids.plain, 96, 100, kModeForage);
  // Ring 5's right column, top down: (101, 99) first, then the centre.
  for (int32_t claim = 0; claim < 2; ++claim) {
    ASSERT_EQ(find_food(*grids.fast, fast_agent), 1);
    ASSERT_EQ(plain_find_food(*grids.plain, plain_agent), 1);
    ASSERT_EQ(grids.compare(), "") << "claim " << claim;
  }
  EXPECT_EQ(grids.fast->agents.target_y[fast_agent], 100);
  EXPECT_EQ(food.total, 5);
  ASSERT_EQ(grids.eat(200, 200), "");  // eats (200, 200), (201, 200) and (200, 201)
  EXPECT_EQ(food.total, 2);
  // The blinker lies down: (101, 99) and (101, 101) die, (100, 100) and (102, 100) are
  // born, the claimed centre lives on and is food again; the block's last cell dies.
  ASSERT_EQ(grids.step(), "");
  EXPECT_EQ(food.total, 3);
  EXPECT_EQ(food.row_total[100], 3);
  EXPECT_EQ(food.column_total[101], 1);
}

TEST(FoodIndex, IsCountedFromThePlanesWhenAWorldWasWrittenDirectly) {
  auto w = make_world();
  for (int32_t x = 10; x < 990; x += 7) w->cells[cell_index(x, x % 400)] = 1;
  w->claimed[cell_index(17, 17)] = 1;
  world_reindex(*w);
  EXPECT_EQ(w->index.tracking, 0);
  const int32_t a = place_agent(*w, 500, 200, kModeForage);
  w->agents.search_radius[a] = 400;
  ASSERT_EQ(find_food(*w, a), 1);
  EXPECT_EQ(w->index.food.total, 140 - 1);  // less the claimed cell, counted for this search
  // Nothing keeps the counts until the next step tracks again: the next search counts
  // afresh, without the cell the first one claimed, and finds another.
  const int32_t first_x = w->agents.target_x[a], first_y = w->agents.target_y[a];
  ASSERT_EQ(find_food(*w, a), 1);
  EXPECT_EQ(w->index.food.total, 140 - 2);
  EXPECT_FALSE(w->agents.target_x[a] == first_x && w->agents.target_y[a] == first_y);
  EXPECT_EQ(check_index(*w).ok, 1) << check_index(*w).message;
}

// ---- the agent buckets ----

TEST(AgentBuckets, FollowMovesSpawnsAndDeathsAndGatherWhatThePlainPassMeets) {
  auto w = make_world();
  std::mt19937 rng(8);
  // Positions on the grid and off it: within the margins and far beyond them.
  std::uniform_int_distribution<int32_t> column(-200, 1200), row(-200, 600), reach(1, 400);
  for (int32_t i = 0; i < 300; ++i) place_agent(*w, column(rng), row(rng));
  place_agent(*w, INT32_MIN, INT32_MAX);
  place_agent(*w, -kBucketMargin - 1, -kBucketMargin);
  agent_buckets_build(*w);
  ASSERT_EQ(check_index(*w).ok, 1) << check_index(*w).message;
  std::uniform_int_distribution<int32_t> slot(0, 299), nudge(-40, 40);  // the first 300, on or near the grid
  for (int32_t round = 0; round < 400; ++round) {
    const int32_t s = slot(rng);
    switch (round % 4) {
      case 0:  // a step, within its bucket or into the next
        w->agents.pos_x[s] += nudge(rng);
        w->agents.pos_y[s] += nudge(rng);
        agent_buckets_place(*w, s);
        break;
      case 1:  // a jump anywhere
        w->agents.pos_x[s] = column(rng);
        w->agents.pos_y[s] = row(rng);
        agent_buckets_place(*w, s);
        break;
      case 2:  // a death, and a spawn into the lowest free slot
        w->agents.alive[s] = 0;
        if (round % 8 == 2) place_agent(*w, column(rng), row(rng));
        break;
      default:
        break;
    }
    ASSERT_EQ(check_index(*w).ok, 1) << "round " << round << ": " << check_index(*w).message;
    const int32_t x = column(rng), y = row(rng), r = reach(rng);
    ASSERT_EQ(gather(*w, x, y, r, s), plain_gather(*w, x, y, r, s)) << "round " << round;
  }
  agent_buckets_stop(*w);
  EXPECT_EQ(check_index(*w).ok, 1);
}

TEST(AgentBuckets, FollowAgentsThroughTheirTurnsAndTheirBreeding) {
  // Agents scattered over the grid walk home to (500, 200) in long steps, crossing
  // buckets; mates on their home cells breed children into them.
  auto w = make_world();
  set_default_gene_limits(*w);
  std::mt19937 rng(9);
  std::uniform_int_distribution<int32_t> column(0, kWorldWidth - 1), row(0, kWorldHeight - 1);
  for (int32_t i = 0; i < 150; ++i) place_agent(*w, column(rng), row(rng));
  for (int32_t i = 0; i < 5; ++i) {
    const int32_t a = place_agent(*w, 500, 200, kModeMate);
    w->agents.food_eaten[a] = 60;
  }
  agent_buckets_build(*w);
  for (int32_t round = 0; round < 6; ++round) {
    for (int32_t s = 0; s < kMaxAgents; ++s) {
      if (w->agents.alive[s] == 1) update_agent(*w, s);
    }
    ASSERT_EQ(std::string(check_index(*w).message), "ok") << "round " << round;
  }
  EXPECT_GT(w->agents.alive[155], 0) << "no child was born";
}

// ---- the check itself ----

TEST(CheckIndex, NamesTheFirstDifferenceOfEachIndex) {
  struct Damage {
    void (*apply)(World&);
    const char* expected;
  };
  // A blinker standing at (101, 99..101) with food counted, a planted cell at (300, 199)
  // waiting to be born, and two agents in their buckets.
  const Damage cases[] = {
      {[](World&) {}, "ok"},
      {[](World& w) { w.index.grid.live_rows[100][1] &= ~(uint64_t{1} << 37); },
       "tracker live bit (101, 100) is 0, the cells plane gives 1"},
      {[](World& w) { w.index.grid.live_rows[5][0] |= 1; }, "tracker live bit (0, 5) is 1, the cells plane gives 0"},
      {[](World& w) { w.index.grid.live_rows[7][kRowWords - 1] |= uint64_t{1} << 63; },
       "tracker live bit (1023, 7) is set beyond the grid"},
      {[](World& w) { w.neighbours[cell_index(50, 50)] = 1; },
       "tracker count (50, 50) is 1, its neighbours give 0, and it is not on the planted list"},
      {[](World& w) { w.index.grid.planted_count = 0; },
       "tracker count (300, 199) is 3, its neighbours give 0, and it is not on the planted list"},
      {[](World& w) { w.next_cells[cell_index(7, 8)] = 1; },
       "tracker next_cells (7, 8) is 1, cells gives 0, and it is not on the stale list"},
      {[](World& w) { w.claimed[cell_index(9, 9)] = 1; }, "tracker claimed (9, 9) is set but not on the claimed list"},
      {[](World& w) { w.index.grid.dirty_words[199] = 0; },
       "tracker (300, 199) changes at the next step (kind 0, count 3) but word 4 of row 199 is not marked"},
      {[](World& w) { w.index.grid.stale_count = kStaleCapacity + 1; }, "tracker stale_count is 65537, outside 0..65536"},
      {[](World& w) {
         w.index.grid.claimed[0] = -4;
         w.index.grid.claimed_count = 1;
       },
       "tracker claimed[0] is -4, not a cell"},
      {[](World& w) { w.index.food.total += 1; }, "food total is 4, the grid gives 3"},
      {[](World& w) { w.index.food.row_total[17] = 4; }, "food row_total[17] is 4, the grid gives 0"},
      {[](World& w) { w.index.food.column_total[101] = 2; }, "food column_total[101] is 2, the grid gives 3"},
      {[](World& w) { w.index.food.row_segment[100][6] = 0; }, "food row_segment[100][6] is 0, the grid gives 1"},
      {[](World& w) { w.index.food.column_segment[101][6] = 2; },
       "food column_segment[101][6] is 2, the grid gives 3"},
      {[](World& w) { w.agents.pos_x[1] = 500; }, "buckets slot 1 at (500, 20) is in bucket 83, its position gives 89"},
      {[](World& w) { w.index.buckets.linked_in[1] = 0; }, "buckets bucket 83 lists slot 1, not linked in this generation"},
      {[](World& w) { w.index.buckets.prev[0] = 1; }, "buckets slot 0's prev is 1, its list gives -1"},
      {[](World& w) { w.index.buckets.next[0] = 0; }, "buckets slot 0's prev is -1, its list gives 0"},
      {[](World& w) { w.index.buckets.head[83] = -1; }, "buckets link 2 slots in this generation, their lists hold 1"},
  };
  for (const Damage& d : cases) {
    Grids grids;
    grids.scene({cell_index(100, 100), cell_index(101, 100), cell_index(102, 100)});
    ASSERT_EQ(grids.step(), "");
    grids.change([](World& w) {
      for (int32_t g = 20; g < 32; ++g) w.agents.genome[kPlanter][g] = g == 21 ? 25 : 1;
    });
    ASSERT_EQ(grids.plant(300, 200), "");  // (300, 199) only
    World& w = *grids.fast;
    place_agent(w, 40, 20);
    place_agent(w, 300, 20);
    agent_buckets_build(w);
    d.apply(w);
    EXPECT_EQ(std::string(check_index(w).message), d.expected);
  }
}
