// The between-frames checker must pass real worlds and name the first broken
// invariant of a damaged one.
#include <string>

#include "test_support.h"
#include "world/frame_step.h"
#include "world/genome.h"
#include "world/world_check.h"

namespace {


TEST(WorldCheck, PassesLoadStateAndARunningWorld) {
  auto world = make_world();
  EXPECT_EQ(check_world(*world).ok, 1);
  auto canvas = make_canvas();
  static const uint8_t silence[1152] = {};
  for (int frame = 0; frame < 2000; ++frame) {
    frame_step(*world, *canvas, silence, 26);
    if (frame % 250 == 0) {
      ASSERT_EQ(check_world(*world).ok, 1) << check_world(*world).message;
    }
  }
}

TEST(WorldCheck, NamesTheBrokenFieldAndWhere) {
  struct Damage {
    void (*apply)(World&);
    const char* expected;
  };
  const Damage cases[] = {
      {[](World& w) { w.cells[cell_index(3, 7)] = 2; }, "cells (3, 7) = 2"},
      {[](World& w) { w.dead_run[cell_index(999, 399)] = 4; }, "dead_run (999, 399) = 4"},
      {[](World& w) { w.claimed[5] = -1; }, "claimed (0, 5) = -1"},
      {[](World& w) { w.band_sum[9] = 2551; }, "band_sum[9] = 2551"},
      {[](World& w) { w.background_level = 256.0f; }, "background_level = 256"},
      {[](World& w) { w.agents.mode[12] = static_cast<AgentMode>(4); }, "mode slot 12 = 4"},
      {[](World& w) { w.agents.mode[12] = static_cast<AgentMode>(-1); }, "mode slot 12 = -1"},
      {[](World& w) { w.spawn_mode = static_cast<SpawnMode>(2); }, "spawn_mode = 2"},
      {[](World& w) { w.agents.genome[1][kGeneEnergyCeiling] = 3001; }, "genome slot 1 gene 5 = 3001"},
      {[](World& w) { w.agents.home_y[1] = 391; }, "home_y slot 1 = 391"},
      {[](World& w) { w.agents.plant_counter[1] = 1; }, "plant_counter slot 1 = 1"},
      {[](World& w) { w.agents.search_radius[1] = 1001; }, "search_radius slot 1 = 1001"},
      // Worn from 21 by two longest steps of 40 at most.
      {[](World& w) { w.agents.search_radius[1] = -60; }, "search_radius slot 1 = -60"},
  };
  for (const Damage& d : cases) {
    auto world = make_world();
    set_default_gene_limits(*world);
    world->frame_count = 200;
    place_agent(*world, 100, 100);
    place_agent(*world, 300, 100);
    world->agents.genome[1][kGenePlantingPeriod] = 1;  // plants every update: the counter stays 0
    ASSERT_EQ(check_world(*world).ok, 1) << check_world(*world).message;
    d.apply(*world);
    const WorldCheck check = check_world(*world);
    EXPECT_EQ(check.ok, 0);
    EXPECT_EQ(std::string(check.message), d.expected);
  }
}

TEST(WorldCheck, DeadSlotsAndThePositionMarkerMayHoldAnything) {
  auto world = make_world();
  set_default_gene_limits(*world);
  world->frame_count = 200;
  const int32_t s = place_agent(*world, 100, 100);
  world->agents.genome[s][kGenePositionMarker] = -3;  // marker of an agent standing left of the grid
  EXPECT_EQ(check_world(*world).ok, 1) << check_world(*world).message;
  world->agents.alive[s] = 0;
  world->agents.genome[s][kGeneEnergyCeiling] = 99999;
  world->agents.home_x[s] = 0;
  EXPECT_EQ(check_world(*world).ok, 1) << check_world(*world).message;
}

}  // namespace
