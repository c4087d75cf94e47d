#include <array>
#include <set>
#include <utility>
#include <vector>

#include "test_support.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/renderer.h"
#include "world/world_index.h"

namespace {

using Rgb = std::array<int32_t, 3>;

Rgb pixel(const PixelBuffer& b, int32_t x, int32_t y) {
  return {b.rgb[y][x][0], b.rgb[y][x][1], b.rgb[y][x][2]};
}

void fill(PixelBuffer& b, uint8_t value) { std::memset(b.rgb, value, sizeof b.rgb); }

// Pixels that differ from the background.
std::set<std::pair<int32_t, int32_t>> painted(const Canvas& c) {
  std::set<std::pair<int32_t, int32_t>> out;
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      if (pixel(c.drawing, x, y) != pixel(c.background, x, y)) out.insert({x, y});
    }
  }
  return out;
}

int32_t midpoint(const World& w, int32_t g) {
  return (w.limits.gene_init_lo[g] + w.limits.gene_init_hi[g]) / 2;
}

// An agent whose genome is all zero (no sprite bit) except the given genes.
int32_t bare_agent(World& w, int32_t slot, int32_t x, int32_t y, float energy) {
  w.agents.alive[slot] = 1;
  w.agents.pos_x[slot] = x;
  w.agents.pos_y[slot] = y;
  w.agents.energy[slot] = energy;
  std::memset(w.agents.genome[slot], 0, sizeof w.agents.genome[slot]);
  return slot;
}

std::unique_ptr<World> limited_world() {
  auto w = make_world();
  set_default_gene_limits(*w);
  return w;
}

}  // namespace

TEST(Canvas, StartsWhiteOverBlack) {
  auto c = make_canvas();
  int32_t off = 0;
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      off += pixel(c->drawing, x, y) != Rgb{255, 255, 255} ||
             pixel(c->background, x, y) != Rgb{0, 0, 0};
    }
  }
  EXPECT_EQ(off, 0);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(c->background_colour[i], 0) << i;
}

TEST(DrawWorld, PaintsLiveCellsBlueByTheBackgroundLevelInsideTheBorder) {
  const struct {
    float level;
    bool painted;
    int32_t blue;
  } cases[] = {{0.0f, false, 0},    {0.1f, false, 0},    {0.3f, true, 0},
               {100.0f, true, 100}, {200.7f, true, 200}, {255.0f, true, 255}};
  const int32_t inside[][2] = {{1, 1}, {998, 398}, {500, 200}, {1, 398}};
  const int32_t border[][2] = {{0, 5}, {999, 5}, {5, 0}, {5, 399}, {0, 0}, {999, 399}};
  auto w = make_world();
  for (const auto& c : inside) w->cells[cell_index(c[0], c[1])] = 1;
  for (const auto& c : border) w->cells[cell_index(c[0], c[1])] = 1;
  auto canvas = make_canvas();
  fill(canvas->background, 9);
  for (const auto& c : cases) {
    w->background_level = c.level;
    draw_world(*w, canvas->drawing, canvas->background);
    const auto dots = painted(*canvas);
    EXPECT_EQ(dots.size(), c.painted ? 4u : 0u) << "level " << c.level;
    for (const auto& p : inside) {
      const Rgb want = c.painted ? Rgb{0, 0, c.blue} : Rgb{9, 9, 9};
      EXPECT_EQ(pixel(canvas->drawing, p[0], p[1]), want) << "level " << c.level;
    }
  }
}

TEST(DrawWorld, AgentColourScalesWithEnergyOverGene6WithoutALowerBound) {
  const struct {
    float energy;
    Rgb colour;
  } cases[] = {{100.0f, {255, 80, 30}},
               {1000.0f, {255, 80, 30}},
               {0.0f, {76, 24, 9}},
               {-100.0f, {154, 224, 244}}};  // brightness -0.4 keeps the low bytes
  auto w = limited_world();
  auto canvas = make_canvas();
  for (const auto& c : cases) {
    const int32_t a = bare_agent(*w, 0, 500, 200, c.energy);
    w->agents.genome[a][kGeneRed] = 255;  // the only gene above its midpoint
    w->agents.genome[a][kGeneGreen] = 80;
    w->agents.genome[a][kGeneBlue] = 30;
    w->agents.genome[a][kGeneTravelReserve] = 100;
    draw_world(*w, canvas->drawing, canvas->background);
    EXPECT_EQ(painted(*canvas).size(), 1u);
    EXPECT_EQ(pixel(canvas->drawing, 500, 198), c.colour) << "energy " << c.energy;
  }
}

TEST(DrawWorld, EachGenePaintsItsOwnSpritePixelOnlyAboveItsMidpoint) {
  auto w = limited_world();
  auto canvas = make_canvas();
  fill(canvas->background, 9);
  for (int32_t g = 0; g < kGeneCount; ++g) {
    const int32_t a = bare_agent(*w, 4, 500, 200, 1.0f);
    w->agents.genome[a][kGeneTravelReserve] = 1;
    w->agents.genome[a][g] = midpoint(*w, g) + 1;
    draw_world(*w, canvas->drawing, canvas->background);
    const auto dots = painted(*canvas);
    ASSERT_EQ(dots.size(), 1u) << "gene " << g;
    EXPECT_EQ(*dots.begin(), std::make_pair(500 + g % 6 - 2, 200 + g / 6 - 2)) << "gene " << g;
  }
  const int32_t a = bare_agent(*w, 4, 500, 200, 100.0f);
  for (int32_t g = 0; g < kGeneCount; ++g) w->agents.genome[a][g] = midpoint(*w, g);
  draw_world(*w, canvas->drawing, canvas->background);
  EXPECT_TRUE(painted(*canvas).empty());
}

TEST(DrawWorld, SpritesAreClippedToTheBuffer) {
  const struct {
    int32_t x, y, expected;
  } cases[] = {{0, 0, 16}, {999, 399, 9}, {-3, -3, 1}, {1002, 402, 0}, {500, 0, 24}, {2, 397, 30}};
  auto w = limited_world();
  auto canvas = make_canvas();
  for (const auto& c : cases) {
    const int32_t a = bare_agent(*w, 9, c.x, c.y, 101.0f);
    for (int32_t g = 0; g < kGeneCount; ++g) w->agents.genome[a][g] = midpoint(*w, g) + 1;
    draw_world(*w, canvas->drawing, canvas->background);
    const auto dots = painted(*canvas);
    EXPECT_EQ(dots.size(), static_cast<size_t>(c.expected)) << "at " << c.x << "," << c.y;
    for (const auto& d : dots) {
      EXPECT_EQ(pixel(canvas->drawing, d.first, d.second), (Rgb{168, 168, 168}));
      EXPECT_GE(d.first - c.x, -2);
      EXPECT_LE(d.first - c.x, 3);
      EXPECT_GE(d.second - c.y, -2);
      EXPECT_LE(d.second - c.y, 3);
    }
  }
}

TEST(DrawWorld, LaterSlotsPaintOverEarlierOnesAndOverCellsAndTheDeadAreNotDrawn) {
  for (bool later_is_bright : {true, false}) {
    auto w = limited_world();
    w->cells[cell_index(500, 198)] = 1;
    const int32_t slots[] = {3, 5, 7};
    for (int32_t s : slots) {
      bare_agent(*w, s, 500, 200, 0.0f);
      w->agents.genome[s][kGeneRed] = 255;
      w->agents.genome[s][kGeneGreen] = 80;
      w->agents.genome[s][kGeneBlue] = 30;
      w->agents.genome[s][kGeneTravelReserve] = 100;
    }
    w->agents.energy[later_is_bright ? 5 : 3] = 100.0f;
    w->agents.alive[7] = 0;
    w->agents.genome[7][kGeneBlue] = 250;
    auto canvas = make_canvas();
    draw_world(*w, canvas->drawing, canvas->background);
    const Rgb top = later_is_bright ? Rgb{255, 80, 30} : Rgb{76, 24, 9};
    EXPECT_EQ(pixel(canvas->drawing, 500, 198), top);
    EXPECT_EQ(pixel(canvas->drawing, 499, 199),
              (Rgb{0, 0, 0}));  // only the dead slot has gene 7 set
  }
}

// The frame step's drawing restores only what it painted: it must still match a full
// drawing, and every pixel that changes between two pictures must be among those it
// reports as changed.
TEST(DrawWorld, TheFrameStepsTrackedDrawingMatchesAFullDrawing) {
  auto w = limited_world();
  random_seed(*w, 11);
  for (int32_t g = 20; g < 32; ++g) w->agents.genome[kMaxAgents - 1][g] = 25;
  for (int32_t k = 0; k < 400; ++k) {
    plant_at(*w, rand_range(*w, 0, 999), rand_range(*w, 0, 399), kMaxAgents - 1);
  }
  for (int32_t s = 0; s < 60; ++s) {
    int32_t genes[kGeneCount];
    random_genome(*w, genes);
    spawn_agent(*w, rand_range(*w, -3, 1002), rand_range(*w, -3, 402), genes);
    w->agents.energy[s] = static_cast<float>(rand_range(*w, -50, 400));
  }
  world_reindex(*w);
  auto canvas = make_canvas();
  std::unique_ptr<PixelBuffer> full(new PixelBuffer);
  std::unique_ptr<PixelBuffer> before(new PixelBuffer);
  const float levels[] = {100.0f, 255.0f, 0.1f, 30.0f, 30.0f, 200.0f};
  for (int32_t f = 0; f < 6; ++f) {
    life_step(*w);
    for (int32_t k = 0; k < 30; ++k) eat_at(*w, rand_range(*w, 0, 999), rand_range(*w, 0, 399));
    for (int32_t s = 0; s < 60; ++s) {
      w->agents.pos_x[s] += rand_range(*w, -3, 3);
      w->agents.pos_y[s] += rand_range(*w, -3, 3);
    }
    w->agents.alive[f * 7] = f % 2;  // deaths and births between pictures
    w->background_level = levels[f];
    std::memcpy(before->rgb, canvas->drawing.rgb, sizeof before->rgb);
    draw_world_tracked(*w, *canvas);
    draw_world(*w, *full, canvas->background);
    EXPECT_EQ(std::memcmp(canvas->drawing.rgb, full->rgb, sizeof full->rgb), 0) << "frame " << f;
    EXPECT_EQ(canvas->changes_known, f > 0 ? 1 : 0) << "frame " << f;
    if (canvas->changes_known) {
      std::vector<uint8_t> reported(sizeof before->rgb / 3, 0);
      for_each_changed_pixel(*canvas, [&](int32_t offset) { reported[offset / 3] = 1; });
      const uint8_t* a = &before->rgb[0][0][0];
      const uint8_t* b = &canvas->drawing.rgb[0][0][0];
      int32_t unreported = 0;
      for (size_t p = 0; p < reported.size(); ++p) {
        if (std::memcmp(a + 3 * p, b + 3 * p, 3) != 0 && !reported[p]) ++unreported;
      }
      EXPECT_EQ(unreported, 0) << "frame " << f;
    }
  }
}

// A grid so full that its pixels overflow the list of painted pixels: the overflowing
// cells are still painted, and the next draw, which cannot know them all, starts over
// and reports changes anywhere; the one after that is tracked again.
// Also over a plain background whose red is not a live cell's.
TEST(DrawWorld, TheTrackedDrawingOfAGridTooFullForItsListStillMatchesAFullDrawing) {
  for (const uint8_t red : {0, 200}) {
    auto w = limited_world();
    for (int32_t e = 0; e < kCellCount; ++e) w->neighbours[e] = 3;
    world_reindex(*w);
    life_step(*w);  // every cell is born: far more than the list holds
    ASSERT_EQ(w->index.tracking, 1);
    w->background_level = 150.0f;
    auto canvas = make_canvas();
    const uint8_t colour[3] = {red, 30, 60};
    for (int32_t y = 0; y < kWorldHeight; ++y) {
      for (int32_t x = 0; x < kWorldWidth; ++x) std::memcpy(canvas->background.rgb[y][x], colour, 3);
    }
    std::memcpy(canvas->background_colour, colour, 3);
    std::unique_ptr<PixelBuffer> full(new PixelBuffer);
    for (int32_t f = 0; f < 3; ++f) {
      draw_world_tracked(*w, *canvas);
      draw_world(*w, *full, canvas->background);
      EXPECT_EQ(std::memcmp(canvas->drawing.rgb, full->rgb, sizeof full->rgb), 0) << "frame " << f << " red " << +red;
      EXPECT_EQ(canvas->changes_known, f == 2 ? 1 : 0) << "frame " << f;
      life_step(*w);
    }
  }
}
