#include "test_support.h"
#include "world/genome.h"
#include "world/renderer.h"

namespace {

// min, init_lo, init_hi, max, step for genes 0..35.
const int32_t kDefaultLimits[kGeneCount][5] = {
    {1, 1, 79, 79, 10},      {1, 1, 79, 79, 10},     {30, 80, 255, 255, 10},
    {30, 80, 255, 255, 10},  {1, 1, 40, 100, 5},     {1, 100, 200, 3000, 30},
    {1, 1, 200, 300, 15},    {30, 80, 255, 255, 10}, {2, 10, 500, 1000, 15},
    {2, 4, 20, 40, 3},       {5, 5, 5, 5, 2},        {5, 400, 1200, 2000, 20},
    {1, 200, 2000, 3000, 2}, {50, 50, 50, 50, 20},   {1, 2, 6, 20, 1},
    {1, 1, 40, 40, 10},      {1, 100, 150, 500, 10}, {1, 1, 79, 79, 30},
    {1, 1, 79, 79, 30},      {1, 10, 20, 200, 10},   {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},      {1, 10, 25, 25, 2},     {1, 10, 25, 25, 2},
    {1, 10, 15, 15, 2},      {1, 10, 25, 25, 2},     {1, 10, 15, 15, 2},
    {1, 10, 15, 15, 2},      {1, 10, 15, 15, 2},     {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},      {1, 10, 25, 25, 2},     {10, 50, 200, 1000, 10},
    {0, 0, 9, 9, 1},         {3, 3, 30, 3000, 10},   {60, 5000, 10000, 50000, 10}};

std::unique_ptr<World> limited_world() {
  auto w = make_world();
  set_default_gene_limits(*w);
  return w;
}

}  // namespace

TEST(GeneLimits, DefaultTableIsStoredForEveryGene) {
  auto w = limited_world();
  const GeneLimits& l = w->limits;
  for (int32_t g = 0; g < kGeneCount; ++g) {
    const int32_t stored[5] = {l.gene_min[g], l.gene_init_lo[g], l.gene_init_hi[g], l.gene_max[g],
                               l.gene_step[g]};
    for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(stored[k], kDefaultLimits[g][k]) << "gene " << g;
  }
}

TEST(RandomGenome, DrawsEachGeneInOrderFromItsInitialRange) {
  auto w = limited_world();
  for (uint32_t seed : {3u, 777u, 2024u}) {
    random_seed(*w, seed);
    int32_t genes[kGeneCount];
    random_genome(*w, genes);
    Lcg g{seed};
    for (int32_t i = 0; i < kGeneCount; ++i) {
      EXPECT_EQ(genes[i], g.range(kDefaultLimits[i][1], kDefaultLimits[i][2])) << "gene " << i;
    }
    EXPECT_EQ(w->random_state, g.state);  // fixed genes 10 and 13 still cost a draw
    EXPECT_EQ(genes[kGeneWalkingCost], 5);
    EXPECT_EQ(genes[kGeneBreedingNeed], 50);
  }
}

TEST(MutateGene, DeltaFollowsTheSinglePrecisionStepTable) {
  const struct {
    int32_t amount, d, delta;
  } cases[] = {{10, 1000, 10}, {10, 850, 6},  {10, 650, 3},  {10, 550, 1},
               {10, 500, 0},   {10, 451, 0},  {10, 450, -1}, {10, 50, -8},
               {10, 1, -9},    {30, 850, 20}, {30, 1, -29}};
  auto w = limited_world();
  for (const auto& c : cases) {
    const uint32_t s = find_state([&](Lcg& g) { return g.range(1, 1000) == c.d; });
    w->random_state = s;
    w->agents.genome[3][kGenePlantingRadius] = 1000;  // it runs 5..2000: no clamp in play
    mutate_gene(*w, 3, 11, c.amount);
    EXPECT_EQ(w->agents.genome[3][kGenePlantingRadius], 1000 + c.delta) << "amount " << c.amount << " d " << c.d;
    EXPECT_EQ(draws_between(s, w->random_state, 10), 1);
  }
}

TEST(MutateGene, ClampsToTheLimitsOnEveryCall) {
  auto w = limited_world();
  const uint32_t up = find_state([](Lcg& g) { return g.range(1, 1000) == 1000; });
  const struct {
    int32_t gene, before, amount, after;
  } cases[] = {{11, 3000, 0, 2000}, {11, -7, 0, 5},    {11, 1995, 10, 2000},
               {10, 5, 100, 5},     {13, 50, 100, 50}, {33, 9, 1, 9}};
  for (const auto& c : cases) {
    w->random_state = up;
    w->agents.genome[0][c.gene] = c.before;
    mutate_gene(*w, 0, c.gene, c.amount);
    EXPECT_EQ(w->agents.genome[0][c.gene], c.after) << "gene " << c.gene << " from " << c.before;
  }
}

TEST(MutateGenome, ScaleZeroKeepsGenesButStillDraws36) {
  auto w = limited_world();
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  const int32_t slot = spawn_agent(*w, 0, 0, genes);
  random_seed(*w, 55);
  mutate_genome(*w, slot, 0.0f);
  for (int32_t i = 0; i < kGeneCount; ++i) EXPECT_EQ(w->agents.genome[slot][i], genes[i]) << i;
  EXPECT_EQ(draws_between(55, w->random_state, 100), 36);
}

TEST(MutateGenome, MutatesEveryGeneInOrderWithTruncatedScaledSteps) {
  auto w = limited_world();
  auto expected = limited_world();
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  for (float scale : {1.0f, 1.5f, 3.0f}) {
    for (uint32_t seed : {9u, 31337u}) {
      std::memcpy(w->agents.genome[4], genes, sizeof genes);
      std::memcpy(expected->agents.genome[4], genes, sizeof genes);
      random_seed(*w, seed);
      random_seed(*expected, seed);
      mutate_genome(*w, 4, scale);
      for (int32_t i = 0; i < kGeneCount; ++i) {
        mutate_gene(*expected, 4, i, to_int32(kDefaultLimits[i][4] * static_cast<double>(scale)));
      }
      for (int32_t i = 0; i < kGeneCount; ++i) {
        EXPECT_EQ(w->agents.genome[4][i], expected->agents.genome[4][i])
            << "gene " << i << " scale " << scale << " seed " << seed;
      }
      EXPECT_EQ(w->random_state, expected->random_state);
    }
  }
}

TEST(MutateGenome, FixedGenesAndSpawnedSitesNeverMove) {
  auto w = limited_world();
  random_seed(*w, 8);
  int32_t genes[kGeneCount];
  quiet_genome(genes);
  const int32_t slot = spawn_agent(*w, 0, 0, genes);
  for (int32_t round = 0; round < 300; ++round) mutate_genome(*w, slot, 3.0f);
  const int32_t* mutated = w->agents.genome[slot];
  EXPECT_EQ(mutated[10], 5);
  EXPECT_EQ(mutated[13], 50);
  for (int32_t i = 0; i < kGeneCount; ++i) {
    EXPECT_GE(mutated[i], kDefaultLimits[i][0]) << i;
    EXPECT_LE(mutated[i], kDefaultLimits[i][3]) << i;
  }
  EXPECT_EQ(w->agents.home_x[slot], 500);
  EXPECT_EQ(w->agents.home_y[slot], 200);
  EXPECT_EQ(w->agents.away_x[slot], 100);
  EXPECT_EQ(w->agents.away_y[slot], 40);
}

// A gene shows as its sprite pixel (column gene % 6, row gene / 6 of the 6 x 6
// sprite from two left of and two above the agent) only above the midpoint of its
// initial range, the midpoint rounded down.
TEST(SpriteBit, SetOnlyAboveTheMidpointOfTheInitialRange) {
  const struct {
    int32_t gene, value, bit;
  } cases[] = {{0, 40, 0}, {0, 41, 1},    {5, 150, 0},   {5, 151, 1}, {33, 4, 0},
               {33, 5, 1}, {35, 7500, 0}, {35, 7501, 1}, {2, 167, 0}, {2, 168, 1},
               {10, 5, 0}, {10, 6, 1},    {4, 20, 0},    {4, 21, 1},  {33, -3, 0}};
  auto w = limited_world();
  auto canvas = make_canvas();
  std::memset(canvas->background.rgb, 9, sizeof canvas->background.rgb);  // a sprite may be black
  AgentTable& t = w->agents;
  t.alive[9] = 1;
  t.pos_x[9] = 500;
  t.pos_y[9] = 200;
  t.energy[9] = 1.0f;
  for (const auto& c : cases) {
    std::memset(t.genome[9], 0, sizeof t.genome[9]);  // no gene above its midpoint
    t.genome[9][kGeneTravelReserve] = 1;               // full brightness
    t.genome[9][c.gene] = c.value;
    draw_world(*w, canvas->drawing, canvas->background);
    const int32_t x = 500 + c.gene % 6 - 2;
    const int32_t y = 200 + c.gene / 6 - 2;
    const bool shown = std::memcmp(canvas->drawing.rgb[y][x], canvas->background.rgb[y][x], 3) != 0;
    EXPECT_EQ(shown, c.bit == 1) << "gene " << c.gene << " = " << c.value;
  }
}
