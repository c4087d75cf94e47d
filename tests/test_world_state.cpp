#include <cmath>
#include <cstring>
#include <limits>

#include "test_support.h"
#include "world/agent_table.h"

TEST(WorldReset, ClearsEverythingButSpawnModeSoundLevelsAndRandomState) {
  std::unique_ptr<World> w(new World);
  std::memset(w.get(), 0xA5, sizeof(World));  // whatever the memory held before
  world_reset(*w);
  EXPECT_EQ(w->spawn_mode, kSpawnReseeding);
  EXPECT_EQ(w->sound_level, 100.0f);
  EXPECT_EQ(w->background_level, 100.0f);
  EXPECT_EQ(w->random_state, 1u);
  EXPECT_EQ(w->frame_count, 0);
  EXPECT_EQ(w->index.tracking, 0);  // the first Life step takes the full passes
  const int32_t* planes[] = {w->cells, w->next_cells, w->neighbours, w->claimed, w->dead_run};
  for (const int32_t* plane : planes) {
    int32_t nonzero = 0;
    for (int32_t e = 0; e < kCellCount; ++e) nonzero += plane[e] != 0;
    EXPECT_EQ(nonzero, 0);
  }
  int32_t nonzero = 0;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    nonzero += w->agents.alive[s] != 0 || w->agents.energy[s] != 0.0f ||
               w->agents.pause_count[s] != 0 || w->agents.pause_length[s] != 0 ||
               w->agents.genome[s][kGeneCount - 1] != 0;
  }
  EXPECT_EQ(nonzero, 0);
  for (int32_t g = 0; g < kGeneCount; ++g) {
    EXPECT_EQ(w->limits.gene_max[g], 0);
    EXPECT_EQ(w->reseed_genome[g], 0);
  }
  for (int32_t b = 0; b < kBandCount; ++b) EXPECT_EQ(w->band_peak[b] | w->band_stale[b], 0);
}

TEST(RandomSource, SeedOneStartsWithTheKnownValues) {
  auto w = make_world();
  random_seed(*w, 1);
  EXPECT_EQ(random_next(*w), 41);
  EXPECT_EQ(random_next(*w), 18467);
  EXPECT_EQ(random_next(*w), 6334);
  // The same draws mapped to ranges: 41 / 32767 * 5, 18467 / 32767 * 19 = 10.71,
  // 6334 / 32767 * 999 = 193.1, and 26500 / 32767 * -10 = -8.09, cut toward zero.
  random_seed(*w, 1);
  EXPECT_EQ(rand_range(*w, 0, 5), 0);
  EXPECT_EQ(rand_range(*w, -7, 12), 3);
  EXPECT_EQ(rand_range(*w, 1, 1000), 194);
  EXPECT_EQ(rand_range(*w, 0, -10), -8);
  // The bare generator the tests steer by, and the state it leaves (the stream holds it).
  uint32_t state = 1;
  EXPECT_EQ(lcg_next(state), 41);
  EXPECT_EQ(state, 2745024u);
  EXPECT_EQ(lcg_range(state, -7, 12), 3);
}

TEST(RandomSource, RangeReachesItsTopOnlyOnTheLargestDrawAndAlwaysDrawsOnce) {
  auto w = make_world();
  const uint32_t top = find_state([](Lcg& g) { return g.next() == 32767; });
  const uint32_t below = find_state([](Lcg& g) { return g.next() == 32766; });
  w->random_state = top;
  EXPECT_EQ(rand_range(*w, 0, 3), 3);
  w->random_state = below;
  EXPECT_EQ(rand_range(*w, 0, 3), 2);
  // The span is made single precision first: 33554431 becomes 33554432.
  w->random_state = top;
  EXPECT_EQ(rand_range(*w, 0, 33554431), 33554432);
  for (uint32_t s : {top, below, 5u}) {
    w->random_state = s;
    EXPECT_EQ(rand_range(*w, 5, 5), 5);
    EXPECT_EQ(draws_between(s, w->random_state, 10), 1);
  }
}

TEST(ToInt32, TruncatesTowardZeroAndMapsTheUnrepresentableToMin) {
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  const int32_t kMax = std::numeric_limits<int32_t>::max();
  const struct {
    double in;
    int32_t out;
  } cases[] = {{2.9, 2},
               {-2.9, -2},
               {0.99, 0},
               {-0.99, 0},
               {2147483647.0, kMax},
               {2147483647.9, kMax},
               {-2147483648.0, kMin},
               {2147483648.0, kMin},
               {-2147483649.0, kMin},
               {1e30, kMin},
               {-1e30, kMin},
               {std::nan(""), kMin},
               {HUGE_VAL, kMin},
               {-HUGE_VAL, kMin}};
  for (const auto& c : cases) EXPECT_EQ(to_int32(c.in), c.out) << c.in;
}

TEST(SpawnAgent, TakesTheLowestFreeSlotAndResetsItsListedFields) {
  auto w = make_world();
  AgentTable& t = w->agents;
  t.alive[0] = t.alive[2] = 1;
  t.pos_x[2] = 77;
  // Leftovers of a previous occupant of slot 1.
  t.target_x[1] = 7, t.target_y[1] = 8, t.mode[1] = kModeAway, t.age[1] = 9, t.food_eaten[1] = 3;
  t.crowd[1] = 4, t.search_radius[1] = 5, t.plant_counter[1] = 6, t.energy[1] = 1.5f;
  t.pause_count[1] = 7, t.pause_length[1] = 3;
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  genes[kGeneTravelReserve] = 37;
  w->random_state = 4321;

  ASSERT_EQ(spawn_agent(*w, -5, 1234, genes), 1);
  EXPECT_EQ(t.alive[1], 1);
  EXPECT_EQ(t.pos_x[1], -5);  // no bounds test
  EXPECT_EQ(t.pos_y[1], 1234);
  EXPECT_EQ(t.target_x[1] | t.target_y[1] | t.age[1] | t.food_eaten[1] | t.crowd[1], 0);
  EXPECT_EQ(t.plant_counter[1], 0);
  EXPECT_EQ(t.mode[1], kModeHome);
  EXPECT_EQ(t.search_radius[1], 50);
  EXPECT_EQ(t.energy[1], 74.0f);
  EXPECT_EQ(t.pause_count[1], 7);  // the search pause is not reset
  EXPECT_EQ(t.pause_length[1], 3);
  EXPECT_EQ(std::memcmp(t.genome[1], genes, sizeof genes), 0);
  EXPECT_EQ(w->random_state, 4321u);
  EXPECT_EQ(t.pos_x[2], 77);
  EXPECT_EQ(t.alive[3], 0);
  EXPECT_EQ(spawn_agent(*w, 0, 0, genes), 3);
  t.alive[1] = 0;  // a freed slot is reused at once
  EXPECT_EQ(spawn_agent(*w, 0, 0, genes), 1);
}

TEST(SpawnAgent, FullTableAnswersNoSlotAndWritesNothing) {
  auto w = make_world();
  for (int32_t s = 0; s < kMaxAgents; ++s) w->agents.alive[s] = 1, w->agents.pos_x[s] = s;
  std::unique_ptr<AgentTable> before(new AgentTable(w->agents));
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  EXPECT_EQ(spawn_agent(*w, 1, 2, genes), kNoSlot);
  EXPECT_EQ(std::memcmp(before.get(), &w->agents, sizeof(AgentTable)), 0);
}

TEST(SpawnAgent, DerivesBothSitesFromTheCopiedGenes) {
  // Divide by 80 first: 23, 41, 46 and 51 land one row short of the exact value.
  const int32_t rows[][2] = {{1, 10},   {79, 390}, {23, 114}, {41, 204}, {46, 229},
                             {51, 254}, {40, 200}, {0, 10},   {80, 390}};
  const int32_t columns[][2] = {{1, 12}, {79, 987}, {40, 500}, {0, 10}, {80, 990}};
  auto w = make_world();
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  for (const auto& r : rows) {
    genes[kGeneHomeRow] = genes[kGeneAwayRow] = r[0];
    const int32_t s = spawn_agent(*w, 0, 0, genes);
    EXPECT_EQ(w->agents.home_y[s], r[1]) << "gene " << r[0];
    EXPECT_EQ(w->agents.away_y[s], r[1]) << "gene " << r[0];
  }
  genes[kGeneHomeRow] = genes[kGeneAwayRow] = 40;
  for (const auto& c : columns) {
    genes[kGeneHomeColumn] = genes[kGeneAwayColumn] = c[0];
    const int32_t s = spawn_agent(*w, 0, 0, genes);
    EXPECT_EQ(w->agents.home_x[s], c[1]) << "gene " << c[0];
    EXPECT_EQ(w->agents.away_x[s], c[1]) << "gene " << c[0];
  }
  genes[kGeneHomeColumn] = 8, genes[kGeneHomeRow] = 16, genes[kGeneAwayColumn] = 72, genes[kGeneAwayRow] = 64;
  const int32_t s = spawn_agent(*w, 0, 0, genes);
  EXPECT_EQ(w->agents.home_x[s], 100);
  EXPECT_EQ(w->agents.home_y[s], 80);
  EXPECT_EQ(w->agents.away_x[s], 900);
  EXPECT_EQ(w->agents.away_y[s], 320);
}

// The 32-bit test of reach must agree with the capped 64-bit distance everywhere,
// at the int32 limits too, where a sum of the two axes leaves 32 bits.
TEST(WithinReach, AgreesWithTheCityDistanceAtEveryScale) {
  const int32_t coords[] = {INT32_MIN, INT32_MIN + 1, -1000000000, -5, -1, 0, 1, 7, 999,
                            1000000000, INT32_MAX - 1, INT32_MAX};
  const int32_t reaches[] = {1, 2, 6, 1000, 1000000000, INT32_MAX - 1, INT32_MAX};
  int32_t agreed_true = 0;
  for (int32_t x1 : coords) {
    for (int32_t x2 : coords) {
      for (int32_t y2 : coords) {
        for (int32_t reach : reaches) {
          const bool expected = city_distance(x1, 3, x2, y2) < reach;
          ASSERT_EQ(within_reach(x1, 3, x2, y2, reach), expected)
              << x1 << " " << x2 << " " << y2 << " reach " << reach;
          agreed_true += expected ? 1 : 0;
        }
      }
    }
  }
  EXPECT_GT(agreed_true, 0);
}
