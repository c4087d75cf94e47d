// Benchmarks of the world's hot operations and of whole runs from recorded worlds.
// Run: build/release/corvanta-bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "world/frame_step.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/sound.h"
#include "world/world_index.h"
#include "world/world_state.h"
#include "world/world_stream.h"

namespace {

std::unique_ptr<World> fresh_world(uint32_t seed) {
  std::unique_ptr<World> world(new World);
  world_reset(*world);
  set_default_gene_limits(*world);
  random_seed(*world, seed);
  return world;
}

// Live cells at the given density with their neighbour counts, stepped once so the
// tracking knows them.
void fill_grid(World& world, int32_t percent) {
  for (int32_t e = 0; e < kCellCount; ++e) world.cells[e] = rand_range(world, 0, 99) < percent ? 1 : 0;
  for (int32_t e = 0; e < kCellCount; ++e) {
    if (world.cells[e] != 1) continue;
    for (int32_t o : kAround) {
      if (e + o >= 0 && e + o < kCellCount) world.neighbours[e + o] += 1;
    }
  }
  world_reindex(world);
  life_step(world);
}

void spawn_random_agents(World& world, int32_t count) {
  int32_t genes[kGeneCount];
  for (int32_t i = 0; i < count; ++i) {
    random_genome(world, genes);
    const int32_t s = spawn_agent(world, rand_range(world, 0, 999), rand_range(world, 0, 399), genes);
    world.agents.genome[s][kGeneContactRadius] = 20;
  }
}

// One generation of a random grid, from the same grid every time. Tracked: the step
// the frame takes; full: the three passes over every cell.
void BM_LifeStep(benchmark::State& state) {
  auto world = fresh_world(7);
  fill_grid(*world, static_cast<int32_t>(state.range(0)));
  std::unique_ptr<World> scene(new World);
  std::memcpy(scene.get(), world.get(), sizeof(World));
  const bool tracked = state.range(1) == 1;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(world.get(), scene.get(), sizeof(World));
    if (!tracked) world_reindex(*world);
    state.ResumeTiming();
    life_step(*world);
  }
}
BENCHMARK(BM_LifeStep)->ArgsProduct({{0, 2, 30}, {0, 1}})->ArgNames({"percent_live", "tracked"});

void BM_ContactScan(benchmark::State& state) {
  auto world = fresh_world(11);
  spawn_random_agents(*world, static_cast<int32_t>(state.range(0)));
  // Crowd tolerance and species kept so nobody dies and the scene stays the same.
  for (int32_t s = 0; s < kMaxAgents; ++s) {
    world->agents.genome[s][kGeneCrowdTolerance] = 1000000;
    world->agents.genome[s][kGeneSpecies] = 1000;
  }
  agent_buckets_build(*world);
  int32_t slot = 0;
  for (auto _ : state) {
    contact_scan(*world, slot);
    slot = (slot + 1) % static_cast<int32_t>(state.range(0));
  }
}
BENCHMARK(BM_ContactScan)->Arg(100)->Arg(1000)->Arg(5000)->ArgName("agents");

// Near: a block 10 cells away. Far: an empty grid searched to radius 1000.
void BM_FindFood(benchmark::State& state) {
  const bool near = state.range(0) == 1;
  auto world = fresh_world(13);
  if (near) {
    for (int32_t x = 510; x <= 511; ++x) {
      for (int32_t y = 205; y <= 206; ++y) world->cells[cell_index(x, y)] = 1;
    }
  }
  world_reindex(*world);
  life_step(*world);
  life_step(*world);
  spawn_random_agents(*world, 1);
  world->agents.pos_x[0] = 500;
  world->agents.pos_y[0] = 200;
  world->agents.search_radius[0] = near ? kBaseSearchRadius : kWidestSearchRadius;
  for (auto _ : state) {
    state.PauseTiming();
    std::memset(world->claimed, 0, sizeof(world->claimed));
    food_index_build(*world);
    state.ResumeTiming();
    benchmark::DoNotOptimize(find_food(*world, 0));
  }
}
BENCHMARK(BM_FindFood)->Arg(1)->Arg(0)->ArgName("near");

void BM_DrawWorld(benchmark::State& state) {
  auto world = fresh_world(17);
  fill_grid(*world, 2);
  spawn_random_agents(*world, 1000);
  std::unique_ptr<Canvas> canvas(new Canvas);
  canvas_load_state(*canvas);
  const bool tracked = state.range(0) == 1;
  for (auto _ : state) {
    if (tracked) {
      draw_world_tracked(*world, *canvas);
    } else {
      draw_world(*world, canvas->drawing, canvas->background);
    }
  }
}
BENCHMARK(BM_DrawWorld)->Arg(0)->Arg(1)->ArgName("tracked");

void BM_Cull(benchmark::State& state) {
  auto world = fresh_world(19);
  std::unique_ptr<World> scene(new World);
  spawn_random_agents(*world, 1001);
  fill_grid(*world, 2);
  std::memcpy(scene.get(), world.get(), sizeof(World));
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(world.get(), scene.get(), sizeof(World));
    state.ResumeTiming();
    cull_population(*world, static_cast<CullKind>(state.range(0)));
  }
}
BENCHMARK(BM_Cull)->Arg(kCullRandom)->Arg(kCullCrowding)->ArgName("kind");

bool load_snapshot(World& world, const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<uint8_t> data(kWorldStreamBytes + 1);
  const int got = gzread(file, data.data(), static_cast<unsigned>(data.size()));
  gzclose(file);
  return got == static_cast<int>(kWorldStreamBytes) && read_world_stream(world, data.data(), kWorldStreamBytes);
}

// A thousand frames from a recorded world: seed 26 at frame 17000, its population near
// its peak, and seed 15 at frame 5000.
void BM_RecordedRun(benchmark::State& state, const char* snapshot) {
  std::unique_ptr<World> recorded(new World);
  world_reset(*recorded);
  if (!load_snapshot(*recorded, std::string(CORVANTA_SNAPSHOT_DIR) + "/" + snapshot)) {
    state.SkipWithError("snapshot missing");
    return;
  }
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  static const uint8_t silence[kSpectrumBytes] = {};
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(world.get(), recorded.get(), sizeof(World));
    canvas_load_state(*canvas);
    state.ResumeTiming();
    // A recorded world is past its first frame, so the seed goes unused.
    for (int32_t frame = 0; frame < 1000; ++frame) frame_step(*world, *canvas, silence, 0);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK_CAPTURE(BM_RecordedRun, seed26_frame17000, "seed26/frame-017000.cvw.gz")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordedRun, seed15_frame5000, "seed15/frame-005000.cvw.gz")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
