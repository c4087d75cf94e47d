// The indexed world against the plain one, frame by frame: two worlds from the same
// seed and sound, one stepped by frame_step, the other by the plain frame driver of
// tests/reference, must agree in every plane, every agent field, every scalar and
// every pixel after every frame, and the indexed one's indexes must match its planes.
// The worlds are pushed where the indexes work hardest: populations that crash and
// are re-seeded, crowds culled both ways, planting, eating and claims at the seams of
// the bitmap's words and of the planes' columns.
#include <cstring>
#include <string>
#include <vector>

#include "tests/reference/plain_world.h"
#include "test_support.h"
#include "world/agent_table.h"
#include "world/frame_step.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/sound.h"
#include "world/world_check.h"

namespace {

class Lockstep {
 public:
  explicit Lockstep(uint32_t seed) : seed_(seed) {
    std::memset(picture->rgb, 255, sizeof(picture->rgb));
  }

  // One frame of both worlds; the first difference, or empty. Sound runs in phases of
  // noise, silence and full scale, so the grid is drawn at changing levels and not at all.
  std::string step() {
    uint8_t spectrum[kSpectrumBytes];
    const int32_t phase = (fast->frame_count / 120) % 3;
    for (int32_t i = 0; i < kSpectrumBytes; ++i) {
      noise_ = noise_ * 1664525u + 1013904223u;
      spectrum[i] = phase == 0 ? static_cast<uint8_t>(noise_ >> 25) : (phase == 1 ? 0 : 255);
    }
    frame_step(*fast, *canvas, spectrum, seed_);
    plain_frame_step(*plain, *picture, spectrum, seed_);
    return compare();
  }

  std::string compare() const {
    std::string d = first_world_difference(*fast, *plain);
    if (d.empty()) d = first_picture_difference(canvas->drawing, *picture);
    if (d.empty()) {
      const WorldCheck check = check_index(*fast);
      if (!check.ok) d = check.message;
    }
    return d.empty() ? d : "after frame " + std::to_string(fast->frame_count) + ": " + d;
  }

  // Frames until frame_count reaches `until`, stopping at the first difference.
  std::string run_to(int32_t until) {
    while (fast->frame_count < until) {
      const std::string d = step();
      if (!d.empty()) return d;
    }
    return "";
  }

  // The same change to both worlds.
  template <typename Change>
  void change(Change c) {
    c(*fast);
    c(*plain);
  }

  int32_t population() const {
    int32_t n = 0;
    for (int32_t s = 0; s < kMaxAgents; ++s) n += fast->agents.alive[s];
    return n;
  }

  std::unique_ptr<World> fast = make_world();
  std::unique_ptr<World> plain = make_world();
  std::unique_ptr<Canvas> canvas = make_canvas();
  std::unique_ptr<PixelBuffer> picture{new PixelBuffer};

 private:
  uint32_t seed_;
  uint32_t noise_ = 99;
};

int32_t live_cells(const World& w) {
  int32_t n = 0;
  for (int32_t e = 0; e < kCellCount; ++e) n += w.cells[e];
  return n;
}

// Whether every two live agents stand at least 20 apart, as a crowding cull leaves them.
bool spread_at_least_20(const World& w) {
  const AgentTable& t = w.agents;
  std::vector<int32_t> live;
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    if (t.alive[s] == 1) live.push_back(s);
  }
  for (size_t i = 0; i < live.size(); ++i) {
    for (size_t j = i + 1; j < live.size(); ++j) {
      if (city_distance(t.pos_x[live[i]], t.pos_y[live[i]], t.pos_x[live[j]], t.pos_y[live[j]]) < 20) return false;
    }
  }
  return true;
}

}  // namespace

TEST(FastVsPlain, WorldsFromTheStartAgreeEveryFrame) {
  for (uint32_t seed : {1u, 2u, 15u, 26u}) {
    Lockstep pair(seed);
    ASSERT_EQ(pair.run_to(560), "") << "seed " << seed;
    EXPECT_GT(pair.population(), 6) << "seed " << seed;
    EXPECT_GT(live_cells(*pair.fast), 0) << "seed " << seed;
  }
}

TEST(FastVsPlain, ACrashedPopulationIsReseededAlike) {
  Lockstep pair(15);
  ASSERT_EQ(pair.run_to(420), "");
  ASSERT_EQ(pair.fast->spawn_mode, 0) << "the population never passed 50";
  // All but four agents die between frames: the next frame counts few enough to
  // re-seed, and gives the survivors the re-seeding energy.
  pair.change([](World& w) {
    int32_t kept = 0;
    for (int32_t s = 0; s < kMaxAgents; ++s) {
      if (w.agents.alive[s] == 1 && ++kept > 4) w.agents.alive[s] = 0;
    }
  });
  ASSERT_EQ(pair.run_to(421), "");
  EXPECT_EQ(pair.fast->spawn_mode, 1);
  ASSERT_EQ(pair.run_to(620), "");
  EXPECT_GT(pair.population(), 6);
}

TEST(FastVsPlain, CrowdsAreCulledBothWaysAlike) {
  Lockstep pair(26);
  ASSERT_EQ(pair.run_to(300), "");
  bool random_cull = false, crowding_cull = false;
  for (int32_t round = 0; round < 10 && !(random_cull && crowding_cull); ++round) {
    // Over a thousand newcomers in a 150 x 100 box, all ready to mate and of one
    // species, so none fights another before the frame counts them.
    pair.change([round](World& w) {
      int32_t genes[kGeneCount];
      for (int32_t i = 0; i < 1100; ++i) {
        random_genome(w, genes);
        genes[kGeneSpecies] = 1000;
        const int32_t s = spawn_agent(w, 300 + 40 * round + i % 150, 150 + (i / 150) * 13, genes);
        if (s != kNoSlot) w.agents.mode[s] = kModeMate;
      }
    });
    ASSERT_EQ(pair.run_to(pair.fast->frame_count + 1), "") << "round " << round;
    ASSERT_EQ(live_cells(*pair.fast), 0) << "round " << round << ": the crowd was not culled";
    (spread_at_least_20(*pair.fast) ? crowding_cull : random_cull) = true;
    ASSERT_EQ(pair.run_to(pair.fast->frame_count + 25), "") << "round " << round;
  }
  EXPECT_TRUE(random_cull);
  EXPECT_TRUE(crowding_cull);
}

TEST(FastVsPlain, HeavyPlantingEatingAndSearchingAtTheSeamsAgree) {
  Lockstep pair(2);
  // A free slot's genome plants the whole pattern; nothing spawns this high.
  pair.change([](World& w) {
    for (int32_t g = 20; g < 32; ++g) w.agents.genome[kMaxAgents - 1][g] = 25;
  });
  ASSERT_EQ(pair.run_to(160), "");
  Lcg rng{7};
  // Columns on either side of the bitmap's word seams, and rows where a column
  // continues into the next.
  auto column = [&]() {
    const int32_t seam = 64 * (1 + rng.range(0, 14));
    return seam - 3 + rng.range(0, 6);
  };
  auto row = [&]() {
    const int32_t r = rng.range(0, 7);
    return r < 4 ? r : kWorldHeight - 8 + r;
  };
  for (int32_t frame = 0; frame < 240; ++frame) {
    for (int32_t k = 0; k < 60; ++k) {
      const int32_t x = k % 3 == 0 ? rng.range(0, kWorldWidth - 1) : column();
      const int32_t y = k % 3 == 0 ? rng.range(0, kWorldHeight - 1) : row();
      ASSERT_EQ(plant_at(*pair.fast, x, y, kMaxAgents - 1), plain_plant_at(*pair.plain, x, y, kMaxAgents - 1))
          << "plant at " << x << ", " << y;
      if (k % 4 == 0) {
        ASSERT_EQ(eat_at(*pair.fast, y % 2 ? x : x + 1, y), plain_eat_at(*pair.plain, y % 2 ? x : x + 1, y))
            << "eat at " << x << ", " << y;
      }
    }
    ASSERT_EQ(pair.compare(), "") << "after the planting of frame " << frame;
    const std::string d = pair.step();
    ASSERT_EQ(d, "");
  }
  EXPECT_GT(live_cells(*pair.fast), 1000);
}
