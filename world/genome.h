#pragma once
// Gene limits, random genomes and mutation. (Each gene's sprite pixel is the
// renderer's: a gene shows when above the midpoint of its initial range.)
#include "world/world_state.h"

void set_default_gene_limits(World& world);
// 36 draws, one per gene, from gene_init_lo..gene_init_hi.
void random_genome(World& world, int32_t out[kGeneCount]);
void mutate_gene(World& world, int32_t agent, int32_t gene, int32_t amount);
// 36 draws, one per gene, whatever the scale.
void mutate_genome(World& world, int32_t agent, float scale);
