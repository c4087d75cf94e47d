#include "test_support.h"
#include "world/agent_table.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/world_index.h"

namespace {

int32_t forager(World& w, int32_t x, int32_t y, int32_t radius) {
  const int32_t a = place_agent(w, x, y, kModeForage);
  w.agents.search_radius[a] = radius;
  w.agents.target_x[a] = 77;
  w.agents.target_y[a] = 88;
  return a;
}

void live(World& w, int32_t x, int32_t y) { w.cells[cell_index(x, y)] = 1; }

// With `indexed`, the scene goes through the indexes a simulated frame builds, which
// must not change any answer: the live cells are kept through one Life step (counts
// of 2) so that the food index is built from the tracker's bitmap. Without, the food
// search counts its index from the planes as it finds them.
void ready(World& w, bool indexed) {
  if (!indexed) return;
  for (int32_t e = 0; e < kCellCount; ++e) w.neighbours[e] = w.cells[e] == 1 ? 2 : 0;
  world_reindex(w);
  life_step(w);
  food_index_build(w);
  agent_buckets_build(w);
}

int32_t claimed_count(const World& w) {
  int32_t n = 0;
  for (int32_t e = 0; e < kCellCount; ++e) n += w.claimed[e];
  return n;
}

}  // namespace

TEST(FindFood, ClaimsTheFirstCellOfEachRingInSideOrderAndNeverTheLowerRightDiagonal) {
  // Ring 1, then ring 2, each: top row, bottom row, left column, right column, every
  // side 2i cells long, so the lower-right corner is never examined.
  const int32_t order[][2] = {{-1, -1}, {0, -1},  {-1, 1},  {0, 1},   {-1, 0}, {1, -1},
                              {1, 0},   {-2, -2}, {-1, -2}, {0, -2},  {1, -2}, {-2, 2},
                              {-1, 2},  {0, 2},   {1, 2},   {-2, -1}, {-2, 0}, {-2, 1},
                              {2, -2},  {2, -1},  {2, 0},   {2, 1}};
  for (bool indexed : {false, true}) {
    auto w = make_world();
    const int32_t a = forager(*w, 100, 100, 3);
    for (int32_t dx = -2; dx <= 2; ++dx) {
      for (int32_t dy = -2; dy <= 2; ++dy) live(*w, 100 + dx, 100 + dy);  // centre included
    }
    ready(*w, indexed);
    for (const auto& o : order) {
      ASSERT_EQ(find_food(*w, a), 1) << "indexed " << indexed;
      EXPECT_EQ(w->agents.target_x[a], 100 + o[0]) << "indexed " << indexed;
      EXPECT_EQ(w->agents.target_y[a], 100 + o[1]) << "indexed " << indexed;
      EXPECT_EQ(w->claimed[cell_index(100 + o[0], 100 + o[1])], 1);
    }
    EXPECT_EQ(find_food(*w, a), 0);  // the centre, (+1, +1) and (+2, +2) are left
    EXPECT_EQ(claimed_count(*w), 22);
    EXPECT_EQ(w->agents.target_x[a], 102);  // a failed search writes nothing
    EXPECT_EQ(w->agents.target_y[a], 101);
    EXPECT_EQ(w->random_state, 1u);
  }
}

TEST(FindFood, FindsNothingWithinRadiusOneOrBeyondTheDiagonal) {
  for (bool indexed : {false, true}) {
    auto w = make_world();
    for (int32_t dx = -1; dx <= 1; ++dx) {
      for (int32_t dy = -1; dy <= 1; ++dy) live(*w, 200 + dx, 200 + dy);
    }
    for (int32_t i = 1; i < 10; ++i) live(*w, 600 + i, 200 + i);
    ready(*w, indexed);
    for (int32_t radius : {-5, 0, 1}) {
      const int32_t a = forager(*w, 200, 200, radius);
      EXPECT_EQ(find_food(*w, a), 0) << "radius " << radius;
      EXPECT_EQ(w->agents.target_x[a], 77);
    }
    EXPECT_EQ(find_food(*w, forager(*w, 600, 200, 30)), 0) << "indexed " << indexed;
    EXPECT_EQ(claimed_count(*w), 0);
  }
}

TEST(FindFood, PrefersUpperAndLeftAndSkipsClaimedCells) {
  const struct {
    int32_t first[2], second[2];
  } pairs[] = {{{0, -1}, {0, 1}}, {{-1, 0}, {1, 0}}, {{0, -3}, {0, 3}}, {{2, 0}, {0, 3}}};
  for (const auto& p : pairs) {
    for (bool indexed : {false, true}) {
      auto w = make_world();
      live(*w, 50 + p.first[0], 50 + p.first[1]);
      live(*w, 50 + p.second[0], 50 + p.second[1]);
      ready(*w, indexed);
      const int32_t a = forager(*w, 50, 50, 10);
      ASSERT_EQ(find_food(*w, a), 1);
      EXPECT_EQ(w->agents.target_x[a], 50 + p.first[0]);
      EXPECT_EQ(w->agents.target_y[a], 50 + p.first[1]);
      // A second agent searching in the same generation gets the other cell, then nothing.
      const int32_t b = forager(*w, 50, 50, 10);
      ASSERT_EQ(find_food(*w, b), 1);
      EXPECT_EQ(w->agents.target_x[b], 50 + p.second[0]);
      EXPECT_EQ(w->agents.target_y[b], 50 + p.second[1]);
      EXPECT_EQ(find_food(*w, forager(*w, 50, 50, 10)), 0);
    }
  }
}

TEST(FindFood, NeverTargetsColumnOrRowZeroButReachesTheFarEdges) {
  const struct {
    int32_t px, py, fx, fy, found;
  } cases[] = {{1, 5, 0, 5, 0},     {5, 1, 5, 0, 0},          {3, 3, 0, 0, 0},
               {998, 5, 999, 5, 1}, {5, 398, 5, 399, 1},      {998, 398, 999, 397, 1},
               {-3, -3, 1, 2, 1},   {1005, 405, 990, 390, 1}, {0, 0, 1, 1, 0}};
  for (const auto& c : cases) {
    for (bool indexed : {false, true}) {
      auto w = make_world();
      live(*w, c.fx, c.fy);
      ready(*w, indexed);
      const int32_t a = forager(*w, c.px, c.py, 40);
      EXPECT_EQ(find_food(*w, a), c.found)
          << "agent " << c.px << "," << c.py << " indexed " << indexed;
      if (c.found) {
        EXPECT_EQ(w->agents.target_x[a], c.fx);
        EXPECT_EQ(w->agents.target_y[a], c.fy);
      }
    }
  }
}

namespace {

// Two agents a few cells apart, across a 32-cell boundary; a is fuller unless a case
// says otherwise.
struct Pair {
  std::unique_ptr<World> w = make_world();
  int32_t a, j;
  Pair(int32_t species_gap, bool a_mates, bool j_mates, int32_t distance = 7) {
    a = place_agent(*w, 94, 94, a_mates ? kModeMate : kModeForage);
    j = place_agent(*w, 94 + distance / 2, 94 + distance - distance / 2,
                    j_mates ? kModeMate : kModeHome);
    w->agents.genome[j][kGeneSpecies] += species_gap;
    w->agents.energy[a] = 100.0f;
    w->agents.energy[j] = 30.0f;
  }
};

void scan(World& w, int32_t agent, bool indexed) {
  ready(w, indexed);
  contact_scan(w, agent);
}

}  // namespace

TEST(ContactScan, OutcomeBySpeciesGapAndMating) {
  const struct {
    int32_t gap;
    bool a_mates, j_mates, counted, fight;
  } cases[] = {{0, false, false, true, false},  {20, false, false, true, false},
               {-20, true, true, false, false}, {20, true, true, false, false},
               {21, false, false, true, true},  {-21, false, true, true, true},
               {21, true, true, false, false},  {100, true, true, false, false},
               {100, true, false, true, true},  {100, false, true, true, true},
               {101, true, true, true, true},   {-101, false, false, true, true}};
  for (const auto& c : cases) {
    for (bool indexed : {false, true}) {
      Pair p(c.gap, c.a_mates, c.j_mates);
      scan(*p.w, p.a, indexed);
      const AgentTable& t = p.w->agents;
      EXPECT_EQ(t.crowd[p.a], c.counted ? 1 : 0) << "gap " << c.gap << " indexed " << indexed;
      EXPECT_EQ(t.alive[p.j], c.fight ? 0 : 1) << "gap " << c.gap << " indexed " << indexed;
      EXPECT_EQ(t.alive[p.a], 1);
      EXPECT_EQ(t.energy[p.a], c.fight ? 130.0f : 100.0f) << "gap " << c.gap;
      EXPECT_EQ(t.food_eaten[p.a], c.fight ? 30 : 0) << "gap " << c.gap;
      EXPECT_EQ(t.energy[p.j], 30.0f);  // the loser keeps its energy
      EXPECT_EQ(p.w->random_state, 1u);
    }
  }
}

TEST(ContactScan, ReachIsTheScanningAgentsOwnGene19Exclusive) {
  for (bool indexed : {false, true}) {
    for (int32_t distance : {9, 10}) {
      Pair p(0, false, false, distance);
      scan(*p.w, p.a, indexed);
      EXPECT_EQ(p.w->agents.crowd[p.a], distance < 10 ? 1 : 0)
          << distance << " indexed " << indexed;
    }
    Pair p(0, false, false, 50);
    p.w->agents.genome[p.j][19] = 100;
    scan(*p.w, p.a, indexed);
    scan(*p.w, p.j, indexed);
    EXPECT_EQ(p.w->agents.crowd[p.a], 0);
    EXPECT_EQ(p.w->agents.crowd[p.j], 1);
  }
}

TEST(ContactScan, FullnessDecidesFightsAndTiesGoToTheScanner) {
  {  // 100 / 200 against 150 / 300
    Pair p(500, false, false);
    p.w->agents.genome[p.a][5] = 200;
    p.w->agents.genome[p.j][5] = 300;
    p.w->agents.energy[p.j] = 150.0f;
    contact_scan(*p.w, p.a);
    EXPECT_EQ(p.w->agents.alive[p.j], 0);
    EXPECT_EQ(p.w->agents.energy[p.a], 250.0f);
  }
  {  // winnings: food_eaten 10 + 7.9 truncates to 17; energy may pass gene 5
    Pair p(500, false, false);
    p.w->agents.energy[p.a] = 149.0f;
    p.w->agents.food_eaten[p.a] = 10;
    p.w->agents.energy[p.j] = 7.9f;
    contact_scan(*p.w, p.a);
    EXPECT_EQ(p.w->agents.food_eaten[p.a], 17);
    EXPECT_EQ(p.w->agents.energy[p.a], 149.0f + 7.9f);
  }
}

TEST(ContactScan, ALosingScannerKeepsScanningFightingAndCounting) {
  for (bool indexed : {false, true}) {
    auto w = make_world();
    AgentTable& t = w->agents;
    const int32_t a = place_agent(*w, 96, 96, kModeForage);
    const int32_t strong = place_agent(*w, 95, 96);
    const int32_t weak = place_agent(*w, 96, 95);
    t.genome[strong][kGeneSpecies] = t.genome[weak][kGeneSpecies] = 2000;
    t.energy[a] = 10.0f;
    t.energy[strong] = 100.0f;
    t.energy[weak] = 5.0f;
    scan(*w, a, indexed);
    EXPECT_EQ(t.alive[a], 0);
    EXPECT_EQ(t.alive[strong], 1);
    EXPECT_EQ(t.energy[strong], 110.0f);
    EXPECT_EQ(t.food_eaten[strong], 10);
    EXPECT_EQ(t.alive[weak], 0) << "indexed " << indexed;  // beaten by a scanner that had lost
    EXPECT_EQ(t.energy[a], 15.0f);
    EXPECT_EQ(t.food_eaten[a], 5);
    EXPECT_EQ(t.crowd[a], 2);
  }
}

TEST(ContactScan, CrowdBeyondGene14KillsButTheScanRunsToTheEnd) {
  const int32_t spots[][2] = {{97, 96}, {95, 96}, {96, 97}, {96, 95}, {98, 96},
                              {94, 96}, {96, 98}, {96, 94}, {93, 96}};
  for (bool indexed : {false, true}) {
    for (int32_t kin : {6, 7, 9}) {
      auto w = make_world();
      const int32_t a = place_agent(*w, 96, 96, kModeForage);
      const int32_t gone = place_agent(*w, 97, 97);
      for (int32_t k = 0; k < kin; ++k) place_agent(*w, spots[k][0], spots[k][1]);
      w->agents.alive[gone] = 0;  // a free slot is not met
      scan(*w, a, indexed);
      EXPECT_EQ(w->agents.crowd[a], kin) << "indexed " << indexed;
      EXPECT_EQ(w->agents.alive[a], kin > 6 ? 0 : 1) << kin << " kin";
    }
  }
}
