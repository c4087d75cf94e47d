#include "world/genome.h"

namespace {

struct GeneRow {
  int32_t min, init_lo, init_hi, max, step;
};

constexpr GeneRow kDefaultLimits[kGeneCount] = {
    {1, 1, 79, 79, 10},         // 0 home column
    {1, 1, 79, 79, 10},         // 1 home row
    {30, 80, 255, 255, 10},     // 2 red
    {30, 80, 255, 255, 10},     // 3 green
    {1, 1, 40, 100, 5},         // 4 planting period
    {1, 100, 200, 3000, 30},    // 5 energy ceiling
    {1, 1, 200, 300, 15},       // 6 travel reserve
    {30, 80, 255, 255, 10},     // 7 blue
    {2, 10, 500, 1000, 15},     // 8 step threshold
    {2, 4, 20, 40, 3},          // 9 long step
    {5, 5, 5, 5, 2},            // 10 walking cost
    {5, 400, 1200, 2000, 20},   // 11 planting radius
    {1, 200, 2000, 3000, 2},    // 12 species marker
    {50, 50, 50, 50, 20},       // 13 breeding need
    {1, 2, 6, 20, 1},           // 14 crowd tolerance
    {1, 1, 40, 40, 10},         // 15 sprite only
    {1, 100, 150, 500, 10},     // 16 home radius
    {1, 1, 79, 79, 30},         // 17 away column
    {1, 1, 79, 79, 30},         // 18 away row
    {1, 10, 20, 200, 10},       // 19 contact radius
    {1, 10, 25, 25, 2},         // 20..27 planting ring
    {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},
    {1, 10, 15, 15, 2},
    {1, 10, 25, 25, 2},
    {1, 10, 15, 15, 2},
    {1, 10, 15, 15, 2},
    {1, 10, 15, 15, 2},         // 28..31 planting two away
    {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},
    {1, 10, 25, 25, 2},
    {10, 50, 200, 1000, 10},    // 32 roaming margin
    {0, 0, 9, 9, 1},            // 33 position marker
    {3, 3, 30, 3000, 10},       // 34 sprite only
    {60, 5000, 10000, 50000, 10},  // 35 lifespan
};

}  // namespace

void set_default_gene_limits(World& world) {
  GeneLimits& l = world.limits;
  for (int32_t i = 0; i < kGeneCount; ++i) {
    l.gene_min[i] = kDefaultLimits[i].min;
    l.gene_init_lo[i] = kDefaultLimits[i].init_lo;
    l.gene_init_hi[i] = kDefaultLimits[i].init_hi;
    l.gene_max[i] = kDefaultLimits[i].max;
    l.gene_step[i] = kDefaultLimits[i].step;
  }
}

void random_genome(World& world, int32_t out[kGeneCount]) {
  for (int32_t i = 0; i < kGeneCount; ++i) {
    out[i] = rand_range(world, world.limits.gene_init_lo[i], world.limits.gene_init_hi[i]);
  }
}

void mutate_gene(World& world, int32_t agent, int32_t gene, int32_t amount) {
  const int32_t d = rand_range(world, 1, 1000);
  const float t = static_cast<float>((d - 500) / 500.0);
  const int32_t delta = to_int32(static_cast<double>(amount) * static_cast<double>(t));
  int32_t& g = world.agents.genome[agent][gene];
  // Wrapping add: a gene far outside its limits must not overflow into undefined behaviour.
  g = static_cast<int32_t>(static_cast<uint32_t>(g) + static_cast<uint32_t>(delta));
  if (g < world.limits.gene_min[gene]) g = world.limits.gene_min[gene];
  if (g > world.limits.gene_max[gene]) g = world.limits.gene_max[gene];
}

void mutate_genome(World& world, int32_t agent, float scale) {
  for (int32_t i = 0; i < kGeneCount; ++i) {
    const int32_t amount =
        to_int32(static_cast<double>(world.limits.gene_step[i]) * static_cast<double>(scale));
    mutate_gene(world, agent, i, amount);
  }
}
