#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "world/life_grid.h"
#include "world/world_index.h"

namespace {

using Cells = std::vector<std::pair<int32_t, int32_t>>;

// The eight neighbours as element offsets; one that leaves the plane is dead.
const int32_t kAround[8] = {-401, -400, -399, -1, 1, 399, 400, 401};

int32_t recount(const World& w, int32_t e) {
  int32_t n = 0;
  for (int32_t off : kAround) {
    const int32_t f = e + off;
    if (f >= 0 && f < kCellCount && w.cells[f] == 1) ++n;
  }
  return n;
}

// Counts as a step leaves them, so tests can start from any pattern.
void settle_counts(World& w) {
  for (int32_t e = 0; e < kCellCount; ++e) w.neighbours[e] = recount(w, e);
  world_reindex(w);
}

void set_live(World& w, const Cells& live) {
  for (const auto& c : live) w.cells[cell_index(c.first, c.second)] = 1;
}

Cells live_cells(const World& w) {
  Cells out;
  for (int32_t e = 0; e < kCellCount; ++e) {
    if (w.cells[e] != 0) out.emplace_back(e / kWorldHeight, e % kWorldHeight);
  }
  return out;
}

Cells sorted(Cells c) {
  std::sort(c.begin(), c.end());
  return c;
}

bool planes_equal(const int32_t* a, const int32_t* b) {
  return std::memcmp(a, b, sizeof(int32_t) * kCellCount) == 0;
}

}  // namespace

TEST(LifeStep, ConwayPatterns) {
  const struct {
    const char* name;
    Cells start, next;
  } cases[] = {
      {"lone cell dies", {{10, 10}}, {}},
      {"block stays",
       {{10, 10}, {11, 10}, {10, 11}, {11, 11}},
       {{10, 10}, {10, 11}, {11, 10}, {11, 11}}},
      {"blinker turns", {{9, 10}, {10, 10}, {11, 10}}, {{10, 9}, {10, 10}, {10, 11}}},
      {"birth on three", {{9, 9}, {11, 9}, {10, 11}}, {{10, 10}}},
      {"no birth on two", {{9, 9}, {11, 9}}, {}},
      {"pair dies of loneliness", {{10, 10}, {11, 10}}, {}},
      {"crowded centre dies",
       {{10, 10}, {9, 10}, {11, 10}, {10, 9}, {10, 11}},
       {{9, 9}, {9, 10}, {9, 11}, {10, 9}, {10, 11}, {11, 9}, {11, 10}, {11, 11}}},
      // Row 399 continues into row 0 of the next column: a vertical blinker
      // across that seam turns into a row of three on row 399.
      {"seam blinker", {{5, 398}, {5, 399}, {6, 0}}, {{4, 399}, {5, 399}, {6, 399}}},
  };
  for (const auto& c : cases) {
    auto w = make_world();
    set_live(*w, c.start);
    settle_counts(*w);
    life_step(*w);
    EXPECT_EQ(live_cells(*w), sorted(c.next)) << c.name;
    life_step(*w);
    if (std::string(c.name).find("blinker") != std::string::npos) {
      EXPECT_EQ(live_cells(*w), sorted(c.start)) << c.name << ", second step";
    }
  }
}

TEST(LifeStep, AfterEveryStepThePlanesAreConsistentOnRandomGrids) {
  std::mt19937 rng(12345);
  std::vector<int32_t> before_cells(kCellCount), before_counts(kCellCount);
  for (double density : {0.05, 0.35, 0.9}) {
    auto w = make_world();
    std::bernoulli_distribution live(density);
    for (int32_t e = 0; e < kCellCount; ++e) w->cells[e] = live(rng) ? 1 : 0;
    settle_counts(*w);
    for (int32_t e = 0; e < kCellCount; e += 7) w->claimed[e] = 1;
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[3][g] = 25;
    for (int32_t step = 0; step < 3; ++step) {
      // Eating and planting between steps edit the counts the next step obeys.
      std::uniform_int_distribution<int32_t> column(0, kWorldWidth - 1), row(0, kWorldHeight - 1);
      for (int32_t k = 0; k < 100 * step; ++k) {
        eat_at(*w, column(rng), row(rng));
        plant_at(*w, column(rng), row(rng), 3);
      }
      before_cells.assign(w->cells, w->cells + kCellCount);
      before_counts.assign(w->neighbours, w->neighbours + kCellCount);
      life_step(*w);
      int32_t wrong_rule = 0, wrong_count = 0, stale = 0;
      for (int32_t e = 0; e < kCellCount; ++e) {
        const int32_t n = before_counts[e];
        const int32_t want = (n == 3 || (before_cells[e] == 1 && n == 2)) ? 1 : 0;
        wrong_rule += w->cells[e] != want;
        wrong_count += w->neighbours[e] != recount(*w, e);
        stale += w->next_cells[e] != w->cells[e] || w->claimed[e] != 0 || w->dead_run[e] != 0;
      }
      EXPECT_EQ(wrong_rule, 0) << "density " << density << " step " << step;
      EXPECT_EQ(wrong_count, 0) << "density " << density << " step " << step;
      EXPECT_EQ(stale, 0) << "density " << density << " step " << step;
    }
  }
}

TEST(WipeGrid, NextCellsKeepTheirKindsUntilTheStepWhichClearsThem) {
  // A sparse grid is wiped cell by cell; a dense one has more live cells than the step
  // keeps a list of, and falls back to the full passes.
  std::mt19937 rng(11);
  for (double density : {0.02, 0.5}) {
    auto w = make_world();
    std::bernoulli_distribution live(density);
    for (int32_t e = 0; e < kCellCount; ++e) w->cells[e] = live(rng) ? 1 : 0;
    settle_counts(*w);
    life_step(*w);
    life_step(*w);
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[0][g] = 25;
    plant_at(*w, 500, 200, 0);
    const std::vector<int32_t> next_before(w->next_cells, w->next_cells + kCellCount);
    wipe_grid(*w);
    int32_t left = 0;
    for (int32_t e = 0; e < kCellCount; ++e) left += w->cells[e] != 0 || w->neighbours[e] != 0;
    EXPECT_EQ(left, 0) << "density " << density;
    EXPECT_TRUE(planes_equal(w->next_cells, next_before.data())) << "density " << density;
    life_step(*w);
    for (int32_t e = 0; e < kCellCount; ++e) left += w->cells[e] | w->next_cells[e] | w->neighbours[e];
    EXPECT_EQ(left, 0) << "density " << density;
    // Steps go on from the empty grid: a tub planted into it is born and stays.
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[0][g] = g == 21 || g == 23 || g == 25 || g == 27 ? 25 : 1;
    EXPECT_EQ(plant_at(*w, 300, 100, 0), 4);
    life_step(*w);
    life_step(*w);
    EXPECT_EQ(live_cells(*w), sorted({{299, 100}, {300, 99}, {300, 101}, {301, 100}})) << "density " << density;
    int32_t wrong = 0;
    for (int32_t e = 0; e < kCellCount; ++e) wrong += w->neighbours[e] != recount(*w, e);
    EXPECT_EQ(wrong, 0) << "density " << density;
  }
}

TEST(EatAt, DeadCentreEatsNothingEvenAmidLiveNeighbours) {
  auto w = make_world();
  set_live(*w, {{51, 50}, {49, 50}, {50, 51}, {50, 49}});
  settle_counts(*w);
  std::unique_ptr<World> before(new World(*w));
  EXPECT_EQ(eat_at(*w, 50, 50), 0);
  EXPECT_TRUE(planes_equal(w->cells, before->cells));
  EXPECT_TRUE(planes_equal(w->neighbours, before->neighbours));
}

TEST(EatAt, EatsTheCentreAndItsLiveOrthogonalsOnlyAndLowersTheCounts) {
  const struct {
    Cells live;
    int32_t x, y, eaten;
    Cells left;
  } cases[] = {
      // A full 3 x 3 block: the diagonals survive.
      {{{49, 49}, {50, 49}, {51, 49}, {49, 50}, {50, 50}, {51, 50}, {49, 51}, {50, 51}, {51, 51}},
       50,
       50,
       5,
       {{49, 49}, {51, 49}, {49, 51}, {51, 51}}},
      {{{50, 50}, {51, 50}, {50, 49}, {52, 50}}, 50, 50, 3, {{52, 50}}},
      // Above row 0 lies row 399 of the column to the left.
      {{{5, 0}, {4, 399}, {5, 399}}, 5, 0, 2, {{5, 399}}},
      // Steps off the plane at the corners reach nothing.
      {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, 0, 0, 3, {{1, 1}}},
      {{{999, 399}, {998, 399}, {999, 398}, {998, 398}}, 999, 399, 3, {{998, 398}}},
  };
  for (const auto& c : cases) {
    auto w = make_world();
    set_live(*w, c.live);
    settle_counts(*w);
    const int32_t centre_before = w->neighbours[cell_index(c.x, c.y)];
    std::unique_ptr<World> before(new World(*w));
    EXPECT_EQ(eat_at(*w, c.x, c.y), c.eaten) << "at " << c.x << "," << c.y;
    EXPECT_EQ(live_cells(*w), sorted(c.left)) << "at " << c.x << "," << c.y;
    int32_t wrong = 0;
    for (int32_t e = 0; e < kCellCount; ++e) wrong += w->neighbours[e] != recount(*w, e);
    EXPECT_EQ(wrong, 0) << "at " << c.x << "," << c.y;
    if (c.eaten == 5) {
      EXPECT_EQ(w->neighbours[cell_index(c.x, c.y)], centre_before - 4);
    }
    EXPECT_TRUE(planes_equal(w->next_cells, before->next_cells));
    EXPECT_TRUE(planes_equal(w->claimed, before->claimed));
    EXPECT_TRUE(planes_equal(w->dead_run, before->dead_run));
  }
}

TEST(EatAt, PositionsOffTheGridEatNothing) {
  const int32_t positions[][2] = {{5, 400}, {5, -1}, {-1, 0}, {-1, 400}, {1000, 0}, {-3, -3}};
  auto w = make_world();
  // The cells these positions would alias by element number.
  set_live(*w, {{6, 0}, {4, 399}, {0, 0}, {0, 1}, {1, 0}});
  settle_counts(*w);
  std::unique_ptr<World> before(new World(*w));
  for (const auto& p : positions) {
    EXPECT_EQ(eat_at(*w, p[0], p[1]), 0) << p[0] << "," << p[1];
  }
  EXPECT_TRUE(planes_equal(w->cells, before->cells));
  EXPECT_TRUE(planes_equal(w->neighbours, before->neighbours));
}

TEST(PlantAt, EachPatternGenePlantsItsCellAboveItsThreshold) {
  const struct {
    int32_t gene, dx, dy, threshold;
  } pattern[] = {{20, -1, -1, 12}, {21, 0, -1, 12}, {22, 1, -1, 12}, {23, 1, 0, 12},
                 {24, 1, 1, 12},   {25, 0, 1, 12},  {26, -1, 1, 12}, {27, -1, 0, 12},
                 {28, 0, -2, 5},   {29, 0, 2, 5},   {30, -2, 0, 5},  {31, 2, 0, 5}};
  for (const auto& p : pattern) {
    auto w = make_world();
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[7][g] = pattern[g - 20].threshold;
    EXPECT_EQ(plant_at(*w, 50, 50, 7), 0) << "gene " << p.gene << " at its threshold";
    w->agents.genome[7][p.gene] = p.threshold + 1;  // slot 7 is free: planting ignores that
    EXPECT_EQ(plant_at(*w, 50, 50, 7), 1) << "gene " << p.gene;
    int32_t changed = 0;
    for (int32_t e = 0; e < kCellCount; ++e) changed += w->neighbours[e] != 0 || w->cells[e] != 0;
    EXPECT_EQ(changed, 1) << "gene " << p.gene;
    EXPECT_EQ(w->neighbours[cell_index(50 + p.dx, 50 + p.dy)], 3) << "gene " << p.gene;
    EXPECT_EQ(plant_at(*w, 50, 50, 7), 0) << "gene " << p.gene << " planted twice";
  }
}

TEST(PlantAt, CountsOnlyCellsNotAlreadyAtThreeAndActsThroughTheNextStep) {
  auto w = make_world();
  for (int32_t g = 20; g < 32; ++g) w->agents.genome[2][g] = 25;
  w->neighbours[cell_index(51, 50)] = 3;
  EXPECT_EQ(plant_at(*w, 50, 50, 2), 11);
  EXPECT_EQ(w->neighbours[cell_index(50, 50)], 0);  // the position itself is never planted

  // A planted dead cell is born; one that loses a live neighbour to eating is not.
  for (bool eat : {false, true}) {
    auto v = make_world();
    v->agents.genome[0][23] = 13;  // plants (x + 1, y)
    set_live(*v, {{52, 50}});
    settle_counts(*v);
    EXPECT_EQ(plant_at(*v, 50, 50, 0), 1);
    if (eat) {
      EXPECT_EQ(eat_at(*v, 52, 50), 1);
    }
    EXPECT_EQ(v->neighbours[cell_index(51, 50)], eat ? 2 : 3);
    EXPECT_EQ(v->cells[cell_index(51, 50)], 0);
    life_step(*v);
    EXPECT_EQ(v->cells[cell_index(51, 50)], eat ? 0 : 1);
  }
}

TEST(PlantAt, ReachesOnlyElementsInsideThePlaneAtTheCorners) {
  const struct {
    int32_t x, y;
    std::vector<int32_t> offsets;  // element offsets of the cells that can be planted
  } cases[] = {{0, 0, {399, 400, 401, 1, 2, 800}}, {999, 399, {-401, -1, -399, -400, -2, -800}}};
  for (const auto& c : cases) {
    auto w = make_world();
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[1][g] = 25;
    std::unique_ptr<World> before(new World(*w));
    EXPECT_EQ(plant_at(*w, c.x, c.y, 1), 6);
    const int32_t e = cell_index(c.x, c.y);
    for (int32_t off : c.offsets) w->neighbours[e + off] -= 3;
    EXPECT_TRUE(planes_equal(w->neighbours, before->neighbours)) << c.x << "," << c.y;
    EXPECT_TRUE(planes_equal(w->cells, before->cells));
    EXPECT_TRUE(planes_equal(w->next_cells, before->next_cells));
  }
}

TEST(PlantAt, PositionsOffTheGridAndSlotsOutOfRangePlantNothing) {
  auto w = make_world();
  for (int32_t s : {0, kMaxAgents - 1}) {
    for (int32_t g = 20; g < 32; ++g) w->agents.genome[s][g] = 25;
  }
  const int32_t calls[][3] = {{5, 400, 0}, {5, -1, 0},   {-1, 5, 0},          {1000, 5, 0},
                              {-2, -2, 0}, {50, 50, -1}, {50, 50, kMaxAgents}};
  for (const auto& c : calls) {
    EXPECT_EQ(plant_at(*w, c[0], c[1], c[2]), 0) << c[0] << "," << c[1] << " slot " << c[2];
  }
  int32_t nonzero = 0;
  for (int32_t e = 0; e < kCellCount; ++e) nonzero += w->neighbours[e] != 0;
  EXPECT_EQ(nonzero, 0);
}
