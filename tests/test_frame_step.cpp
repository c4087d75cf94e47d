#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "test_support.h"
#include "world/agent_table.h"
#include "world/frame_step.h"
#include "world/genome.h"
#include "world/sound.h"
#include "world/world_index.h"

namespace {

const std::vector<uint8_t> kSilence(kSpectrumBytes, 0);

int32_t pixels_not(const PixelBuffer& b, uint8_t value) {
  int32_t n = 0;
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      n += b.rgb[y][x][0] != value || b.rgb[y][x][1] != value || b.rgb[y][x][2] != value;
    }
  }
  return n;
}

// A world whose next frame is its first simulated one, the generator at `state`.
std::unique_ptr<World> simulating(uint32_t state, SpawnMode spawn_mode) {
  auto w = make_world();
  set_default_gene_limits(*w);
  w->frame_count = kStartupFrames + 1;
  w->random_state = state;
  w->spawn_mode = spawn_mode;
  return w;
}

// n quiet agents 12 cells apart, beyond each other's reach, each standing on its home
// with its away site 500 columns off: their updates neither draw, meet nor kill.
void populate(World& w, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = 12 + 12 * (i % 82), y = 12 + 12 * (i / 82);
    const int32_t s = place_agent(w, x, y);
    w.agents.home_x[s] = x;
    w.agents.home_y[s] = y;
    w.agents.away_x[s] = x < 500 ? x + 500 : x - 500;
    w.agents.away_y[s] = y;
  }
}

// The planting test of a frame fails on the first draw.
bool no_planting(Lcg& g) { return g.range(0, 5) != 1; }

// Replays a simulated frame's draws when agents draw nothing and a genome is re-seeded.
void replay_reseeding_frame(Lcg& g, const World& w, int32_t genes[kGeneCount]) {
  if (g.range(0, 5) == 1) {
    for (int32_t k = 0; k < 3; ++k) g.next();  // slot, row, column
  }
  for (int32_t i = 0; i < kGeneCount; ++i) {
    genes[i] = g.range(w.limits.gene_init_lo[i], w.limits.gene_init_hi[i]);
  }
  g.next();  // discarded
}

int32_t alive_count(const World& w) {
  int32_t n = 0;
  for (int32_t s = 0; s < kMaxAgents; ++s) n += w.agents.alive[s];
  return n;
}

}  // namespace

TEST(FrameStep, WaitsOutTheStartUpThenSpawnsTheFirstAgentOnItsHome) {
  auto w = make_world();
  auto canvas = make_canvas();
  w->cells[cell_index(10, 10)] = 1;  // a lone cell dies at the first Life step
  world_reindex(*w);
  for (int32_t f = 0; f <= kStartupFrames; ++f) {
    // Only the first frame's seed is taken.
    const FrameReport report = frame_step(*w, *canvas, kSilence.data(), f == 0 ? 4242u : 1000u + f);
    ASSERT_EQ(report.picture, kPictureKept) << "frame " << f;
    ASSERT_EQ(report.births + report.deaths + report.agents_counted, 0) << "frame " << f;
  }
  EXPECT_EQ(w->frame_count, 151);
  EXPECT_EQ(w->random_state, 4242u);  // seeded, never drawn
  EXPECT_EQ(w->limits.gene_max[35], 50000);
  EXPECT_EQ(w->cells[cell_index(10, 10)], 1);
  EXPECT_EQ(alive_count(*w), 0);
  EXPECT_EQ(pixels_not(canvas->drawing, 255), 0);
  EXPECT_EQ(w->background_level, 255.0f);

  const FrameReport first = frame_step(*w, *canvas, kSilence.data(), 99);
  EXPECT_EQ(w->frame_count, 152);
  EXPECT_EQ(first.picture, kPictureRedrawn);  // the white start-up picture is gone
  EXPECT_EQ(first.births, 1);
  EXPECT_EQ(first.deaths, 0);
  EXPECT_EQ(first.agents_counted, 1);  // the newcomer alone
  EXPECT_EQ(first.reseeding_started, 0);  // re-seeding was on from the start
  EXPECT_EQ(first.cull, kCullNone);
  EXPECT_EQ(w->cells[cell_index(10, 10)], 0);
  EXPECT_EQ(pixels_not(canvas->drawing, 0), 0);  // drawn before the newcomer arrived
  Lcg g{4242};
  int32_t genes[kGeneCount];
  replay_reseeding_frame(g, *w, genes);
  EXPECT_EQ(w->random_state, g.state);
  ASSERT_EQ(alive_count(*w), 1);
  const AgentTable& t = w->agents;
  for (int32_t i = 0; i < kGeneCount; ++i) {
    EXPECT_EQ(t.genome[0][i], genes[i]) << "gene " << i;
    EXPECT_EQ(w->reseed_genome[i], genes[i]) << "gene " << i;
  }
  EXPECT_EQ(t.pos_x[0], t.home_x[0]);
  EXPECT_EQ(t.pos_y[0], t.home_y[0]);
  EXPECT_EQ(t.energy[0], static_cast<float>(genes[kGeneEnergyCeiling] / 2));  // 117 here: 58
  EXPECT_EQ(t.age[0], 0);
  // From here on only the pixels a draw touches change.
  EXPECT_EQ(frame_step(*w, *canvas, kSilence.data(), 99).picture, kPictureListed);
}

TEST(FrameStep, EarlySimulatedFramesDrawPlantingTestGenomeAndDiscardInOrder) {
  auto w = make_world();
  auto canvas = make_canvas();
  for (int32_t f = 0; f < 161; ++f) frame_step(*w, *canvas, kSilence.data(), 777);
  Lcg g{777};
  int32_t genes[kGeneCount];
  for (int32_t f = 0; f < 10; ++f) replay_reseeding_frame(g, *w, genes);
  EXPECT_EQ(w->random_state, g.state);
  EXPECT_EQ(std::memcmp(w->reseed_genome, genes, sizeof genes), 0);
  EXPECT_EQ(w->spawn_mode, kSpawnReseeding);
}

TEST(FrameStep, PopulationPolicyThresholds) {
  constexpr SpawnMode kOff = kSpawnBreeding;
  constexpr SpawnMode kOn = kSpawnReseeding;
  const struct {
    int32_t agents;
    SpawnMode spawn_mode, want_spawn_mode;
    float old_energy;
    int32_t draws;
  } cases[] = {
      {6, kOff, kOn, 66, 2},      {7, kOff, kOff, 200, 2},    {5, kOn, kOn, 200, 38},  // re-seeding turns on at 6
      {49, kOn, kOn, 200, 38},    {50, kOn, kOff, 200, 38},                           // and off above 50
      {399, kOff, kOff, 200, 2},  {400, kOff, kOff, 200, 1},                          // the discarded draw
      {398, kOn, kOff, 200, 38},  {399, kOn, kOff, 200, 37},  {1000, kOff, kOff, 200, 1},  // no cull at 1000
  };
  const uint32_t state = find_state(no_planting);
  auto canvas = make_canvas();
  for (const auto& c : cases) {
    auto w = simulating(state, c.spawn_mode);
    populate(*w, c.agents);
    w->reseed_genome[kGeneTravelReserve] = 33;  // a crash's survivors get twice the last reserve drawn
    const FrameReport report = frame_step(*w, *canvas, kSilence.data(), 0);
    const int32_t reseeded = c.spawn_mode == kOn ? 1 : 0;
    EXPECT_EQ(w->spawn_mode, c.want_spawn_mode) << c.agents << " agents";
    EXPECT_EQ(report.agents_counted, c.agents + reseeded) << c.agents << " agents";
    EXPECT_EQ(report.reseeding_started, c.spawn_mode == kOff && c.want_spawn_mode == kOn ? 1 : 0) << c.agents;
    EXPECT_EQ(report.births, reseeded) << c.agents << " agents";
    EXPECT_EQ(report.deaths, 0) << c.agents << " agents";
    EXPECT_EQ(report.cull, kCullNone) << c.agents << " agents";
    EXPECT_EQ(draws_between(state, w->random_state, 100), c.draws) << c.agents << " agents";
    int32_t wrong = 0;
    for (int32_t s = 0; s < c.agents; ++s)
      wrong += !w->agents.alive[s] || w->agents.energy[s] != c.old_energy;
    EXPECT_EQ(wrong, 0) << c.agents << " agents";
    EXPECT_EQ(alive_count(*w), c.agents + reseeded);
  }
}

TEST(FrameStep, MoreThan1000AgentsAreCulledAfterTheGridWasDrawn) {
  for (bool random_kind : {true, false}) {
    const uint32_t state =
        find_state([&](Lcg& g) { return no_planting(g) && (g.range(0, 2) == 1) == random_kind; });
    auto w = simulating(state, kSpawnBreeding);
    populate(*w, 1001);
    const int32_t block[][2] = {{600, 300}, {601, 300}, {600, 301}, {601, 301}};
    for (const auto& b : block) w->cells[cell_index(b[0], b[1])] = 1;
    for (int32_t x = 599; x <= 602; ++x) {
      for (int32_t y = 299; y <= 302; ++y) {
        int32_t n = 0;
        for (const auto& b : block)
          n += (b[0] != x || b[1] != y) && std::abs(b[0] - x) <= 1 && std::abs(b[1] - y) <= 1;
        w->neighbours[cell_index(x, y)] = n;
      }
    }
    world_reindex(*w);
    auto canvas = make_canvas();
    const FrameReport report = frame_step(*w, *canvas, kSilence.data(), 0);
    EXPECT_EQ(report.cull, random_kind ? kCullRandom : kCullCrowding);
    EXPECT_EQ(report.agents_counted, 1001);
    EXPECT_EQ(report.deaths, 1001 - alive_count(*w));
    const uint8_t* shown = canvas->drawing.rgb[300][600];
    EXPECT_EQ(shown[2], 102);  // background level 100 + 2 in this silent frame
    int32_t grid_left = 0;
    for (int32_t e = 0; e < kCellCount; ++e) grid_left += w->cells[e] != 0 || w->neighbours[e] != 0;
    EXPECT_EQ(grid_left, 0);

    const AgentTable& t = w->agents;
    Lcg g{state};
    g.next();  // the planting test
    g.next();  // the cull kind
    int32_t wrong = 0;
    for (int32_t i = 0; i < 1001; ++i) {
      if (t.alive[i]) wrong += t.energy[i] != 150.0f;  // doubled, then capped at gene 5
      if (random_kind) {
        wrong += t.alive[i] != (g.range(0, 100) <= 10 ? 1 : 0);
        continue;
      }
      // A crowding cull keeps exactly the agents with no lower survivor within 19.
      bool near_lower_survivor = false;
      for (int32_t j = 0; j < i; ++j) {
        near_lower_survivor |=
            t.alive[j] && city_distance(t.pos_x[i], t.pos_y[i], t.pos_x[j], t.pos_y[j]) < 20;
      }
      wrong += t.alive[i] == near_lower_survivor;
    }
    EXPECT_EQ(wrong, 0) << (random_kind ? "random" : "crowding") << " cull";
    EXPECT_EQ(draws_between(state, w->random_state, 2000), random_kind ? 1003 : 2);
    EXPECT_GT(alive_count(*w), 0);
    EXPECT_LT(alive_count(*w), 1001);
  }
}

// The buckets hold for the whole simulated frame: an agent re-seeded in the frame that
// culls, moved to its home after spawning, is culled for crowding by where it stands.
TEST(FrameStep, ACrowdingCullSeesTheAgentReseededInTheSameFrameOnItsHome) {
  constexpr int32_t kAgents = 1001;
  // The populated agents' own crowding survivors: slot order decides, and the newcomer,
  // in the highest slot, cannot change them.
  std::vector<std::pair<int32_t, int32_t>> survivors;
  for (int32_t i = 0; i < kAgents; ++i) {
    const int32_t x = 12 + 12 * (i % 82), y = 12 + 12 * (i / 82);
    bool near = false;
    for (const auto& s : survivors) near |= city_distance(x, y, s.first, s.second) < 20;
    if (!near) survivors.push_back({x, y});
  }
  auto scratch = make_world();
  set_default_gene_limits(*scratch);
  // No planting, a genome whose home lies within 19 of a survivor, a crowding cull.
  const uint32_t state = find_state([&](Lcg& g) {
    if (!no_planting(g)) return false;
    int32_t genes[kGeneCount];
    for (int32_t i = 0; i < kGeneCount; ++i) {
      genes[i] = g.range(scratch->limits.gene_init_lo[i], scratch->limits.gene_init_hi[i]);
    }
    if (g.range(0, 2) == 1) return false;
    scratch->agents.alive[0] = 0;
    const int32_t s = spawn_agent(*scratch, 0, 0, genes);
    for (const auto& v : survivors) {
      if (city_distance(scratch->agents.home_x[s], scratch->agents.home_y[s], v.first, v.second) < 20) return true;
    }
    return false;
  });
  auto w = simulating(state, kSpawnReseeding);
  populate(*w, kAgents);
  auto canvas = make_canvas();
  const FrameReport report = frame_step(*w, *canvas, kSilence.data(), 0);
  ASSERT_EQ(report.cull, kCullCrowding);
  const AgentTable& t = w->agents;
  EXPECT_EQ(t.pos_x[kAgents], t.home_x[kAgents]);
  EXPECT_EQ(t.pos_y[kAgents], t.home_y[kAgents]);
  EXPECT_EQ(t.alive[kAgents], 0);
  int32_t alive = 0;
  for (int32_t i = 0; i < kAgents; ++i) alive += t.alive[i];
  EXPECT_EQ(alive, static_cast<int32_t>(survivors.size()));
  EXPECT_EQ(report.births - report.deaths, alive - kAgents);
}

TEST(CullPopulation, CrowdingKeepsLowerSurvivorsAtLeast20ApartAndDoublesTheirEnergy) {
  const struct {
    int32_t slot, x, y;
    float energy;
    int32_t alive_after;
    float energy_after;
  } agents[] = {{1, 100, 50, 80, 1, 150}, {2, 115, 50, 80, 0, 80},  {3, 130, 50, 60, 1, 120},
                {5, 300, 300, 10, 1, 20}, {6, 310, 309, 10, 0, 10}, {7, 500, 300, 10, 1, 20},
                {8, 510, 310, 10, 1, 20}};
  auto w = make_world();
  AgentTable& t = w->agents;
  t.pos_x[0] = 101, t.pos_y[0] = 50, t.energy[0] = 5;  // a free slot kills nobody
  for (const auto& a : agents) {
    t.alive[a.slot] = 1, t.pos_x[a.slot] = a.x, t.pos_y[a.slot] = a.y, t.energy[a.slot] = a.energy;
    t.genome[a.slot][5] = 150;
  }
  w->cells[7] = w->neighbours[7] = 1;
  w->next_cells[7] = w->claimed[7] = w->dead_run[7] = 1;
  agent_buckets_build(*w);  // as the frame step has them when it culls
  cull_population(*w, kCullCrowding);
  EXPECT_EQ(w->deaths_counted, 2);
  for (const auto& a : agents) {
    EXPECT_EQ(t.alive[a.slot], a.alive_after) << "slot " << a.slot;
    EXPECT_EQ(t.energy[a.slot], a.energy_after) << "slot " << a.slot;
  }
  EXPECT_EQ(t.energy[0], 5.0f);
  EXPECT_EQ(w->random_state, 1u);
  EXPECT_EQ(w->cells[7] | w->neighbours[7], 0);
  EXPECT_EQ(w->next_cells[7] & w->claimed[7] & w->dead_run[7], 1);  // left as they were
}

TEST(FrameStep, AgentsAreUpdatedAsTheLoopFindsThem) {
  auto w = simulating(12345, kSpawnBreeding);
  AgentTable& t = w->agents;
  const int32_t parent = place_agent(*w, 500, 200, kModeMate);  // breeds on its home cell
  t.food_eaten[parent] = 60;
  t.energy[parent] = 120.0f;
  const int32_t gap = place_agent(*w, 0, 0);
  const int32_t rival = place_agent(*w, 503, 200);
  t.genome[rival][kGeneSpecies] = 2000;
  t.energy[rival] = 1.0f;
  t.alive[gap] = 0;
  auto canvas = make_canvas();
  const FrameReport report = frame_step(*w, *canvas, kSilence.data(), 0);
  EXPECT_EQ(report.births, 1);
  EXPECT_EQ(report.deaths, 1);
  EXPECT_EQ(report.agents_counted, 2);  // the parent and its child; the rival never had a turn
  EXPECT_EQ(t.alive[rival], 0);  // lost to the parent before its own turn
  EXPECT_EQ(t.age[rival], 0);
  EXPECT_EQ(t.pos_x[rival], 503);
  EXPECT_NE(t.pos_x[gap], 0);  // the child, born near (495, 195), took the free slot
  EXPECT_EQ(t.age[gap], 1);    // and had its turn in the same frame
}

TEST(FrameStep, AScanSeesEarlierAgentsWhereTheyHaveJustMoved) {
  auto w = simulating(12345, kSpawnBreeding);
  AgentTable& t = w->agents;
  const int32_t walker = place_agent(*w, 180, 200);  // a long step home, to (200, 200)
  const int32_t rival = place_agent(*w, 209, 200);
  t.genome[rival][kGeneSpecies] = 2000;
  t.energy[rival] = 149.0f;
  t.energy[walker] = 120.0f;
  auto canvas = make_canvas();
  frame_step(*w, *canvas, kSilence.data(), 0);
  EXPECT_EQ(t.alive[walker], 0);
  EXPECT_EQ(t.food_eaten[rival], 120);
}

TEST(FrameStep, RandomPlantingAddressesTheDrawnRowLinearlyWithinThePlanes) {
  // Row first, then column; a row past 399 runs on into the next columns.
  const auto draws = [](Lcg& g, int32_t& slot, int32_t& element) {
    if (g.range(0, 5) != 1) return false;
    slot = g.range(0, 10000);
    const int32_t y = g.range(0, 1000);
    element = g.range(0, 1000) * 400 + y;
    return y >= 400;
  };
  const struct {
    const char* what;
    bool (*wanted)(int32_t slot, int32_t element);
  } cases[] = {
      {"spill into the next column", [](int32_t s, int32_t e) { return s < 10000 && e < 399600; }},
      {"beyond the planes", [](int32_t s, int32_t e) { return s < 10000 && e >= 400000; }},
      {"slot 10000", [](int32_t s, int32_t e) { return s == 10000 && e < 399600; }},
  };
  for (const auto& c : cases) {
    const uint32_t state = find_state([&](Lcg& g) {
      int32_t slot = 0, element = 0;
      return draws(g, slot, element) && c.wanted(slot, element);
    });
    auto w = simulating(state, kSpawnBreeding);
    for (int32_t s = 0; s < kMaxAgents; ++s) w->agents.genome[s][kGenePlantingRing + 3] = 13;  // plants (x + 1, y)
    auto canvas = make_canvas();
    frame_step(*w, *canvas, kSilence.data(), 0);
    Lcg g{state};
    int32_t slot = 0, element = 0;
    draws(g, slot, element);
    int32_t planted = 0;
    for (int32_t e = 0; e < kCellCount; ++e) planted += w->neighbours[e] != 0;
    const bool plants = slot < 10000 && element < 400000;
    EXPECT_EQ(planted, plants ? 1 : 0) << c.what;
    if (plants) {
      EXPECT_EQ(w->neighbours[element + 400], 3) << c.what;
    }
  }
}

TEST(FrameStep, FrameCountStopsAtInt32Max) {
  auto w = simulating(5, kSpawnReseeding);
  w->frame_count = std::numeric_limits<int32_t>::max();
  auto canvas = make_canvas();
  EXPECT_EQ(frame_step(*w, *canvas, kSilence.data(), 0).births, 1);
  EXPECT_EQ(w->frame_count, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(w->agents.alive[0], 1);
}

// The report's births and deaths are counted where they happen, not from a census, so
// a census must agree with them after every frame, through breeding, fights, old age
// and starvation alike.
TEST(FrameReport, BirthsLessDeathsFollowTheCensusFrameByFrame) {
  auto w = make_world();
  auto canvas = make_canvas();
  int32_t population = 0;
  int64_t births = 0, deaths = 0;
  for (int32_t f = 0; f < 1500; ++f) {
    const FrameReport report = frame_step(*w, *canvas, kSilence.data(), 26);
    population += report.births - report.deaths;
    births += report.births;
    deaths += report.deaths;
    ASSERT_EQ(alive_count(*w), population) << "frame " << f + 1;
    ASSERT_EQ(report.picture == kPictureKept, f <= kStartupFrames) << "frame " << f + 1;
  }
  EXPECT_GT(births, 150);  // more than re-seeding alone brings
  EXPECT_GT(deaths, 50);
}
