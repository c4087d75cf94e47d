#include "world/agent_behaviour.h"

#include "world/agent_table.h"
#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"
#include "world/world_index.h"

// Each step reads the agent's fields from the table rather than from values cached by
// an earlier step: an agent that breeds after dying can hand its own slot to its
// child, and the rest of the turn then acts on the child.
namespace {

// A search wider than kBaseSearchRadius (world_constants.h) is followed by a pause of
// this many updates for every kPausePerCells cells of radius.
constexpr int32_t kPauseUpdates = 20;
constexpr int32_t kPausePerCells = 1000;
// A child is born this many cells up and to the left of its parent, on both axes.
constexpr int32_t kChildOffset = 5;
// A child's genes mutate by a scale drawn from 0 to this, in gene steps.
constexpr int32_t kWidestMutationScale = 3;
// The position marker gene holds which of this many equal parts of the grid's width
// the agent stands in (0 to 8 on the grid).
constexpr int32_t kMarkerParts = 9;
// A genome whose energy ceiling lies this much energy or less above its travel reserve
// cannot work.
constexpr int32_t kUnworkableEnergyGap = 10;
// The walking cost gene counts sixtieths of energy per cell stepped.
constexpr double kWalkingCostUnitsPerEnergy = 60.0;
// A home agent turns mate once it has eaten more than one part in this many of its
// breeding need; a mate with less than the whole of it forages again.
constexpr double kBreedingNeedParts = 8.0;
// Energy a planting costs for every cell whose count it forces.
constexpr int32_t kPlantingCostPerCell = 2;

// This update's move: the distances to the target before it and the steps taken.
struct Walk {
  int64_t dx, dy;
  int32_t step_x, step_y;
};

// The position marker gene from the column. The product needs 64 bits only far off the
// grid, and a 32-bit build divides 64 bits in a library call.
inline void mark_position(AgentTable& t, int32_t a) {
  const int32_t x = t.pos_x[a];
  constexpr int32_t kProductFits = INT32_MAX / kMarkerParts;
  t.genome[a][kGenePositionMarker] =
      x >= -kProductFits && x <= kProductFits
          ? x * kMarkerParts / kWorldWidth
          : static_cast<int32_t>(static_cast<int64_t>(x) * kMarkerParts / kWorldWidth);
}

// A genome that cannot work: an energy ceiling too close to the travel reserve, a
// roaming range beyond the planting radius, or sites closer together than that range.
inline void check_genome(World& world, int32_t a) {
  const AgentTable& t = world.agents;
  const int32_t* g = t.genome[a];
  const int32_t roaming = g[kGeneHomeRadius] + g[kGeneRoamingMargin];
  if (g[kGeneEnergyCeiling] - g[kGeneTravelReserve] <= kUnworkableEnergyGap) agent_dies(world, a);
  if (roaming > g[kGenePlantingRadius]) agent_dies(world, a);
  if (city_distance(t.home_x[a], t.home_y[a], t.away_x[a], t.away_y[a]) < roaming) agent_dies(world, a);
}

inline void grow_older(World& world, int32_t a) {
  AgentTable& t = world.agents;
  t.age[a] += 1;
  if (t.age[a] > t.genome[a][kGeneLifespan]) agent_dies(world, a);
}

// Whether the agent has a target this update: it keeps the old one while its pause
// runs, and a forager whose pause is over searches for food. The wider its search
// radius, the longer the next pause.
inline int32_t pace_search(World& world, int32_t a) {
  AgentTable& t = world.agents;
  int32_t found;
  if (t.pause_count[a] < t.pause_length[a]) {
    found = 1;
    t.pause_count[a] += 1;
  } else {
    t.pause_count[a] = 0;
    found = t.mode[a] == kModeForage ? find_food(world, a) : 0;
  }
  t.pause_length[a] =
      t.search_radius[a] > kBaseSearchRadius ? t.search_radius[a] * kPauseUpdates / kPausePerCells : 0;
  return found;
}

// A forager that found nothing searches the widest rings next time, and dies if it
// already had.
inline void widen_search_or_die(World& world, int32_t a) {
  AgentTable& t = world.agents;
  if (t.search_radius[a] >= kWidestSearchRadius) {
    agent_dies(world, a);
  } else {
    t.search_radius[a] = kWidestSearchRadius;
  }
}

// The breeding itself costs the parent nothing but the food it gathered. The child's
// genes mutate by a scale of 0 to kWidestMutationScale; no scale is drawn when the
// table is full.
inline void breed(World& world, int32_t a) {
  AgentTable& t = world.agents;
  const int32_t child = spawn_agent(world, t.pos_x[a] - kChildOffset, t.pos_y[a] - kChildOffset, t.genome[a]);
  if (child != kNoSlot) {
    const int32_t scale = rand_range(world, 0, kWidestMutationScale);
    mutate_genome(world, child, static_cast<float>(scale));
  }
  t.food_eaten[a] = 0;
}

// Home and away agents head for their sites; a mate without a kept target heads home
// and breeds once it stands there. A forager keeps the target its search set.
inline void choose_target(World& world, int32_t a, int32_t found) {
  AgentTable& t = world.agents;
  const AgentMode mode = t.mode[a];
  if (mode == kModeHome) {
    t.target_x[a] = t.home_x[a];
    t.target_y[a] = t.home_y[a];
  } else if (mode == kModeAway) {
    t.target_x[a] = t.away_x[a];
    t.target_y[a] = t.away_y[a];
  } else if (mode == kModeMate && found == 0) {
    t.target_x[a] = t.home_x[a];
    t.target_y[a] = t.home_y[a];
    if (t.target_x[a] == t.pos_x[a] && t.target_y[a] == t.pos_y[a]) breed(world, a);
  }
}

// The row, then the column: a long step beyond the step threshold, else one cell. A
// step toward a larger coordinate that would pass the target is taken back; one toward
// a smaller coordinate is kept, and may overshoot. The distances are taken in 64 bits:
// a world loaded from a file may put an agent anywhere.
inline Walk walk_toward_target(World& world, int32_t a) {
  AgentTable& t = world.agents;
  Walk w;
  w.dx = t.pos_x[a] > t.target_x[a] ? int64_t{t.pos_x[a]} - t.target_x[a] : int64_t{t.target_x[a]} - t.pos_x[a];
  w.dy = t.pos_y[a] > t.target_y[a] ? int64_t{t.pos_y[a]} - t.target_y[a] : int64_t{t.target_y[a]} - t.pos_y[a];
  w.step_x = w.dx > t.genome[a][kGeneStepThreshold] ? t.genome[a][kGeneLongStep] : 1;
  w.step_y = w.dy > t.genome[a][kGeneStepThreshold] ? t.genome[a][kGeneLongStep] : 1;
  if (t.target_y[a] > t.pos_y[a]) t.pos_y[a] += w.step_y;
  if (t.target_y[a] < t.pos_y[a]) t.pos_y[a] -= w.step_y;
  if (t.target_x[a] > t.pos_x[a]) t.pos_x[a] += w.step_x;
  if (t.target_x[a] < t.pos_x[a]) t.pos_x[a] -= w.step_x;
  agent_buckets_place(world, a);
  // The radius wears down by the steps taken, whether or not the agent moved.
  if (t.search_radius[a] > kLeastWornSearchRadius) t.search_radius[a] -= w.step_x + w.step_y;
  return w;
}

// A forager eats where it now stands; walking costs it energy only when it ate nothing.
inline void eat_or_pay_for_walking(World& world, int32_t a, const Walk& w) {
  AgentTable& t = world.agents;
  if (t.mode[a] != kModeForage) return;
  const int32_t n = eat_at(world, t.pos_x[a], t.pos_y[a]);
  t.energy[a] = t.energy[a] + static_cast<float>(n);
  if (n > 0) {
    // Wrapping, as the counter would on the machine: fights can leave it anywhere.
    t.food_eaten[a] = static_cast<int32_t>(static_cast<uint32_t>(t.food_eaten[a]) + static_cast<uint32_t>(n));
  } else if (t.energy[a] > 0.0f) {
    const double cost = (w.step_x + w.step_y) * (t.genome[a][kGeneWalkingCost] / kWalkingCostUnitsPerEnergy);
    t.energy[a] = t.energy[a] - static_cast<float>(cost);
  }
}

// Near the site it heads for (measured before the move), an agent plants once every
// planting period; the counter keeps its phase while the agent is away.
inline void plant_near_site(World& world, int32_t a, const Walk& w) {
  AgentTable& t = world.agents;
  if ((t.mode[a] != kModeHome && t.mode[a] != kModeAway) || w.dx + w.dy >= t.genome[a][kGenePlantingRadius]) return;
  if (t.plant_counter[a] == 0) {
    const int32_t n = plant_at(world, t.pos_x[a], t.pos_y[a], a);
    t.energy[a] = t.energy[a] - static_cast<float>(kPlantingCostPerCell * n);
  }
  t.plant_counter[a] += 1;
  if (t.plant_counter[a] >= t.genome[a][kGenePlantingPeriod]) t.plant_counter[a] = 0;
}

// Each test sees the mode the one before left, so several changes can follow each
// other in one update.
inline void change_mode(AgentTable& t, int32_t a) {
  const int32_t* g = t.genome[a];
  if (t.mode[a] == kModeHome && t.food_eaten[a] > g[kGeneBreedingNeed] / kBreedingNeedParts) t.mode[a] = kModeMate;
  if (t.mode[a] == kModeMate && t.food_eaten[a] < g[kGeneBreedingNeed]) t.mode[a] = kModeForage;
  if (t.mode[a] == kModeForage && static_cast<double>(t.energy[a]) >= g[kGeneEnergyCeiling]) t.mode[a] = kModeHome;
  const int32_t from_home = city_distance(t.pos_x[a], t.pos_y[a], t.home_x[a], t.home_y[a]);
  if (t.mode[a] == kModeHome) {
    if (static_cast<double>(t.energy[a]) < g[kGeneTravelReserve]) {
      t.mode[a] = kModeForage;
    } else if (from_home < g[kGeneHomeRadius]) {
      t.mode[a] = kModeAway;
    }
  }
  if (t.mode[a] == kModeAway) {
    if (static_cast<double>(t.energy[a]) < g[kGeneTravelReserve]) {
      t.mode[a] = kModeForage;
    } else if (from_home - g[kGeneRoamingMargin] >= g[kGeneHomeRadius]) {
      t.mode[a] = kModeHome;
    }
  }
}

inline void die_if_exhausted(World& world, int32_t a) {
  if (world.agents.energy[a] <= 0.0f) agent_dies(world, a);
}

}  // namespace

void update_agent(World& world, int32_t a) {
  AgentTable& t = world.agents;
  mark_position(t, a);
  check_genome(world, a);
  grow_older(world, a);
  contact_scan(world, a);
  const int32_t found = pace_search(world, a);
  if (found == 0 && t.mode[a] == kModeForage) {
    // A failed search: no move, meal, planting or change of mode this update.
    widen_search_or_die(world, a);
  } else {
    choose_target(world, a, found);
    const Walk walk = walk_toward_target(world, a);
    eat_or_pay_for_walking(world, a, walk);
    plant_near_site(world, a, walk);
    change_mode(t, a);
  }
  die_if_exhausted(world, a);
}
