#include <vector>

#include "test_support.h"
#include "world/agent_behaviour.h"
#include "world/genome.h"

// Every scene below uses the quiet genome: home (500, 200), away (100, 40), long
// step 20 beyond a distance of 10, walking cost 5/60 per cell of step.
namespace {

std::unique_ptr<World> scene() {
  auto w = make_world();
  set_default_gene_limits(*w);
  random_seed(*w, 99);
  return w;
}

void live(World& w, int32_t x, int32_t y) { w.cells[cell_index(x, y)] = 1; }

}  // namespace

TEST(UpdateAgent, Gene33MarksTheColumnBeforeTheMove) {
  // Off the grid too, where nine times the column passes the 32-bit range.
  const int32_t cases[][2] = {{0, 0},         {111, 0},        {112, 1},           {500, 4},
                              {999, 8},       {-1001, -9},     {238609294, 2147483}, {238609295, 2147483},
                              {INT32_MAX, 19327352}, {INT32_MIN, -19327352}};
  for (const auto& c : cases) {
    auto w = scene();
    const int32_t a = place_agent(*w, c[0], 300);
    update_agent(*w, a);
    EXPECT_EQ(w->agents.genome[a][kGenePositionMarker], c[1]) << "column " << c[0];
  }
}

TEST(UpdateAgent, GenomeAndAgeChecksKillButTheUpdateStillRuns) {
  const struct {
    int32_t gene, value, away_x, age, alive;
  } cases[] = {{5, 110, -1, 0, 0}, {5, 111, -1, 0, 1}, {11, 149, -1, 0, 0},   {11, 150, -1, 0, 1},
               {-1, 0, 649, 0, 0}, {-1, 0, 650, 0, 1}, {-1, 0, -1, 10000, 0}, {-1, 0, -1, 9999, 1}};
  for (const auto& c : cases) {
    auto w = scene();
    AgentTable& t = w->agents;
    const int32_t a = place_agent(*w, 300, 200);
    if (c.gene >= 0) t.genome[a][c.gene] = c.value;
    if (c.away_x >= 0) t.away_x[a] = c.away_x, t.away_y[a] = 200;
    t.age[a] = c.age;
    update_agent(*w, a);
    EXPECT_EQ(t.alive[a], c.alive) << "gene " << c.gene << " away " << c.away_x << " age " << c.age;
    EXPECT_EQ(t.age[a], c.age + 1);
    EXPECT_EQ(t.pos_x[a], 320);  // walked toward home all the same
  }
}

TEST(UpdateAgent, PauseLengthFollowsTheRadiusBeforeItWears) {
  const int32_t cases[][2] = {{0, 0},   {50, 0},   {51, 1},   {99, 1},
                              {100, 2}, {950, 19}, {999, 19}, {1000, 20}};
  for (const auto& c : cases) {
    auto w = scene();
    const int32_t a = place_agent(*w, 300, 200);
    w->agents.search_radius[a] = c[0];
    update_agent(*w, a);
    EXPECT_EQ(w->agents.pause_length[a], c[1]) << "radius " << c[0];
    // The long step along x and the short one along y wear the radius by 21.
    EXPECT_EQ(w->agents.search_radius[a], c[0] > 20 ? c[0] - 21 : c[0]) << "radius " << c[0];
  }
}

TEST(UpdateAgent, APausedForagerKeepsItsTargetAndSearchesWhenThePauseRunsOut) {
  auto w = scene();
  AgentTable& t = w->agents;
  const int32_t a = place_agent(*w, 300, 200, kModeForage);
  t.energy[a] = 100.0f;
  t.search_radius[a] = 10;
  t.target_x[a] = 300, t.target_y[a] = 200;
  t.pause_count[a] = 0, t.pause_length[a] = 2;
  live(*w, 301, 200);
  update_agent(*w, a);
  EXPECT_EQ(t.pause_count[a], 1);
  EXPECT_EQ(t.pause_length[a], 0);
  EXPECT_EQ(w->claimed[cell_index(301, 200)], 0);
  EXPECT_EQ(t.target_x[a], 300);
  update_agent(*w, a);  // 1 is not below the new length 0: search
  EXPECT_EQ(t.pause_count[a], 0);
  EXPECT_EQ(w->claimed[cell_index(301, 200)], 1);
  EXPECT_EQ(t.pos_x[a], 301);
  EXPECT_EQ(t.food_eaten[a], 1);
  // The first update walked on the spot and paid; the second ate and walked free.
  EXPECT_EQ(t.energy[a], (100.0f - static_cast<float>(2 * (5 / 60.0))) + 1.0f);
  EXPECT_EQ(w->cells[cell_index(301, 200)], 0);
  EXPECT_EQ(w->random_state, 99u);
}

TEST(UpdateAgent, AFailedSearchAtRadiusUpTo50IsFatalAtTheNextFailure) {
  auto w = scene();
  AgentTable& t = w->agents;
  const int32_t a = place_agent(*w, 300, 200, kModeForage);
  t.energy[a] = 100.0f;
  t.target_x[a] = 400, t.target_y[a] = 250;
  update_agent(*w, a);
  EXPECT_EQ(t.alive[a], 1);
  EXPECT_EQ(t.search_radius[a], 1000);
  EXPECT_EQ(t.pos_x[a], 300);  // no move, no eating, no cost
  EXPECT_EQ(t.pos_y[a], 200);
  EXPECT_EQ(t.energy[a], 100.0f);
  update_agent(*w, a);
  EXPECT_EQ(t.alive[a], 0);
  EXPECT_EQ(t.pause_length[a], 20);
}

TEST(UpdateAgent, AFailedSearchAbove50WalksFirstAndSurvivesItsNextFailure) {
  auto w = scene();
  AgentTable& t = w->agents;
  const int32_t a = place_agent(*w, 300, 200, kModeForage);
  t.energy[a] = 100.0f;
  t.search_radius[a] = 60;
  t.target_x[a] = 300, t.target_y[a] = 200;
  update_agent(*w, a);
  EXPECT_EQ(t.search_radius[a], 1000);
  EXPECT_EQ(t.pause_length[a], 1);
  update_agent(*w, a);  // paused: walks on the spot and wears the radius
  EXPECT_EQ(t.search_radius[a], 998);
  EXPECT_EQ(t.energy[a], 100.0f - static_cast<float>(2 * (5 / 60.0)));
  int32_t updates = 2;
  while (t.search_radius[a] != 1000 && updates < 60) {
    update_agent(*w, a);
    ++updates;
  }
  EXPECT_EQ(t.search_radius[a], 1000) << "no second search";
  EXPECT_EQ(t.alive[a], 1);
}

TEST(UpdateAgent, LongStepsOvershootOnlyTowardSmallerCoordinates) {
  const struct {
    int32_t x, y;
    int32_t walk[3][2];
    int32_t radius[3];
  } cases[] = {
      {485, 200, {{485, 200}, {485, 200}, {485, 200}}, {29, 8, 8}},    // 15 right: step taken back
      {515, 200, {{495, 200}, {496, 200}, {497, 200}}, {29, 27, 25}},  // 15 left: 5 past
      {500, 185, {{500, 185}, {500, 185}, {500, 185}}, {29, 8, 8}},
      {500, 215, {{500, 195}, {500, 196}, {500, 197}}, {29, 27, 25}},
      {495, 203, {{496, 202}, {497, 201}, {498, 200}}, {48, 46, 44}},
  };
  for (const auto& c : cases) {
    auto w = scene();
    AgentTable& t = w->agents;
    const int32_t a = place_agent(*w, c.x, c.y, kModeMate);  // heads home without breeding
    t.food_eaten[a] = 50;
    for (int32_t u = 0; u < 3; ++u) {
      update_agent(*w, a);
      EXPECT_EQ(t.pos_x[a], c.walk[u][0]) << "from " << c.x << "," << c.y << " update " << u;
      EXPECT_EQ(t.pos_y[a], c.walk[u][1]) << "from " << c.x << "," << c.y << " update " << u;
      EXPECT_EQ(t.search_radius[a], c.radius[u]) << "from " << c.x << "," << c.y;
    }
    EXPECT_EQ(t.mode[a], kModeMate);
    EXPECT_EQ(t.energy[a], 200.0f);  // walking is free outside foraging
  }
}

TEST(UpdateAgent, WalkingCostsAForagerThatAteNothing) {
  {  // long step plus short step: 21 x 5/60
    auto w = scene();
    const int32_t a = place_agent(*w, 300, 200, kModeForage);
    w->agents.energy[a] = 100.0f;
    w->agents.pause_length[a] = 3;
    w->agents.target_x[a] = 400, w->agents.target_y[a] = 200;
    update_agent(*w, a);
    EXPECT_EQ(w->agents.pos_x[a], 320);
    EXPECT_EQ(w->agents.energy[a], 98.25f);
  }
  {  // 0.1 left: pays the full cost after walking and dies of exhaustion
    auto w = scene();
    const int32_t a = place_agent(*w, 300, 200, kModeForage);
    w->agents.energy[a] = 0.1f;
    w->agents.search_radius[a] = 10;
    live(*w, 305, 200);
    update_agent(*w, a);
    EXPECT_EQ(w->agents.pos_x[a], 301);
    EXPECT_EQ(w->agents.energy[a], 0.1f - static_cast<float>(2 * (5 / 60.0)));
    EXPECT_EQ(w->agents.alive[a], 0);
  }
  {  // nothing left: no cost, but dead
    auto w = scene();
    const int32_t a = place_agent(*w, 300, 200, kModeForage);
    w->agents.energy[a] = 0.0f;
    w->agents.pause_length[a] = 3;
    w->agents.target_x[a] = 300, w->agents.target_y[a] = 200;
    update_agent(*w, a);
    EXPECT_EQ(w->agents.energy[a], 0.0f);
    EXPECT_EQ(w->agents.alive[a], 0);
  }
}

TEST(UpdateAgent, PlantsEveryGene4UpdatesWhileWithinGene11OfTheSite) {
  for (int32_t period : {1, 5}) {
    auto w = scene();
    AgentTable& t = w->agents;
    const int32_t a = place_agent(*w, 200, 200);
    t.genome[a][kGenePlantingPeriod] = period;
    t.genome[a][kGenePlantingRing] = 13;  // one cell per planting, 2 energy
    std::vector<int32_t> planted;
    for (int32_t u = 1; u <= 11; ++u) {
      const float before = t.energy[a];
      update_agent(*w, a);
      if (t.energy[a] == before - 2.0f) planted.push_back(u);
      EXPECT_EQ(w->neighbours[cell_index(t.pos_x[a] - 1, t.pos_y[a] - 1)],
                (u - 1) % period ? 0 : 3);
    }
    const std::vector<int32_t> every{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, fifth{1, 6, 11};
    EXPECT_EQ(planted, period == 1 ? every : fifth);
  }
  // At exactly gene 11 from the target there is no planting and the phase holds.
  auto w = scene();
  AgentTable& t = w->agents;
  const int32_t a = place_agent(*w, 200, 200);
  t.genome[a][kGenePlantingRadius] = 300;
  t.genome[a][kGenePlantingPeriod] = 2;
  t.genome[a][kGenePlantingRing] = 13;
  update_agent(*w, a);
  EXPECT_EQ(t.energy[a], 200.0f);
  EXPECT_EQ(t.plant_counter[a], 0);
  update_agent(*w, a);
  EXPECT_EQ(t.energy[a], 198.0f);
  EXPECT_EQ(t.plant_counter[a], 1);
}

TEST(UpdateAgent, ModeChangesInTheirOrder) {
  const struct {
    AgentMode mode;
    int32_t food;
    float energy;
    int32_t x, y;
    AgentMode want;
  } cases[] = {
      {kModeHome, 6, 120, 200, 200, kModeHome},   {kModeHome, 7, 120, 200, 200, kModeForage},
      {kModeHome, 7, 200, 381, 200, kModeAway},   {kModeHome, 50, 120, 200, 200, kModeMate},
      {kModeHome, 0, 99, 200, 200, kModeForage},  {kModeHome, 0, 120, 380, 200, kModeHome},
      {kModeHome, 0, 120, 381, 200, kModeAway},   {kModeMate, 49, 120, 200, 200, kModeForage},
      {kModeForage, 0, 160, 200, 200, kModeHome}, {kModeForage, 0, 140, 200, 200, kModeForage},
      {kModeAway, 0, 99, 200, 200, kModeForage},  {kModeAway, 0, 120, 669, 220, kModeAway},
      {kModeAway, 0, 120, 670, 220, kModeHome},
  };
  for (const auto& c : cases) {
    auto w = scene();
    AgentTable& t = w->agents;
    const int32_t a = place_agent(*w, c.x, c.y, c.mode);
    t.food_eaten[a] = c.food;
    t.energy[a] = c.energy;
    t.pause_length[a] = 5;  // foragers and mates keep the target home
    t.target_x[a] = 500, t.target_y[a] = 200;
    update_agent(*w, a);
    EXPECT_EQ(t.mode[a], c.want) << "mode " << c.mode << " food " << c.food << " energy "
                                 << c.energy << " at " << c.x << "," << c.y;
    EXPECT_EQ(w->random_state, 99u);
  }
}

namespace {

// A mate on its home cell with food enough to breed, its pause run out.
int32_t ready_parent(World& w) {
  const int32_t a = place_agent(w, 500, 200, kModeMate);
  w.agents.food_eaten[a] = 60;
  w.agents.energy[a] = 120.0f;
  return a;
}

}  // namespace

TEST(UpdateAgent, BreedsOnItsHomeCellIntoTheLowestFreeSlot) {
  auto w = scene();
  AgentTable& t = w->agents;
  const uint32_t state = find_state([](Lcg& g) { return g.range(0, 3) == 2; });
  const int32_t a = ready_parent(*w);
  w->random_state = state;
  update_agent(*w, a);
  EXPECT_EQ(draws_between(state, w->random_state, 100), 37);
  EXPECT_EQ(t.food_eaten[a], 0);
  EXPECT_EQ(t.mode[a], kModeForage);
  EXPECT_EQ(t.energy[a], 120.0f);
  ASSERT_EQ(t.alive[1], 1);
  EXPECT_EQ(t.pos_x[1], 495);
  EXPECT_EQ(t.pos_y[1], 195);
  EXPECT_EQ(t.mode[1], kModeHome);
  EXPECT_EQ(t.energy[1], 200.0f);
  EXPECT_EQ(t.home_x[1], 500);
  EXPECT_EQ(t.away_y[1], 40);
  // The parent's genome as it stood (gene 33 just rewritten), mutated at scale 2.
  auto expected = scene();
  quiet_genome(expected->agents.genome[1]);
  expected->agents.genome[1][kGenePositionMarker] = 4;
  expected->random_state = state;
  EXPECT_EQ(rand_range(*expected, 0, 3), 2);
  mutate_genome(*expected, 1, 2.0f);
  for (int32_t g = 0; g < kGeneCount; ++g) {
    EXPECT_EQ(t.genome[1][g], expected->agents.genome[1][g]) << "gene " << g;
  }
}

TEST(UpdateAgent, NoBreedingWhilePausedOrWithAFullTable) {
  {
    auto w = scene();
    const int32_t a = ready_parent(*w);
    w->agents.pause_length[a] = 1;
    update_agent(*w, a);
    EXPECT_EQ(w->agents.alive[1], 0);
    EXPECT_EQ(w->agents.food_eaten[a], 60);
    EXPECT_EQ(w->random_state, 99u);
  }
  auto w = scene();
  const int32_t a = ready_parent(*w);
  for (int32_t s = 1; s < kMaxAgents; ++s) w->agents.alive[s] = 1;  // far away, at (0, 0)
  update_agent(*w, a);
  EXPECT_EQ(w->random_state, 99u);  // neither the scale nor the mutation draws
  EXPECT_EQ(w->agents.food_eaten[a], 0);
  EXPECT_EQ(w->agents.mode[a], kModeForage);
  EXPECT_EQ(w->agents.genome[1][kGeneEnergyCeiling], 0);
}

TEST(UpdateAgent, ADyingParentBreedsIntoItsOwnSlotAndTheUpdateGoesOnWithTheChild) {
  auto w = scene();
  AgentTable& t = w->agents;
  const uint32_t state = find_state([](Lcg& g) { return g.range(0, 3) == 0; });
  const int32_t a = ready_parent(*w);
  t.age[a] = 10000;  // beyond gene 35 after this update's birthday
  w->random_state = state;
  update_agent(*w, a);
  EXPECT_EQ(draws_between(state, w->random_state, 100), 37);
  EXPECT_EQ(t.alive[1], 0);
  ASSERT_EQ(t.alive[a], 1);
  EXPECT_EQ(t.age[a], 0);
  EXPECT_EQ(t.energy[a], 200.0f);
  // The child spawned at (495, 195) with target (0, 0) takes its long steps there,
  // and ends within gene 16 of home.
  EXPECT_EQ(t.pos_x[a], 475);
  EXPECT_EQ(t.pos_y[a], 175);
  EXPECT_EQ(t.search_radius[a], 10);
  EXPECT_EQ(t.mode[a], kModeAway);
}
