#include "world/agent_behaviour.h"

#include "world/genome.h"
#include "world/life_grid.h"
#include "world/senses.h"

// Fields are read from the table at every step rather than cached: an agent that
// breeds after dying can hand its own slot to its child, and the rest of the turn
// then acts on the child.
void update_agent(World& world, int32_t a) {
  AgentTable& t = world.agents;

  // Position marker. The product needs 64 bits only far off the grid, and a 32-bit
  // build divides 64 bits in a library call.
  {
    const int32_t x = t.pos_x[a];
    constexpr int32_t kNineFits = INT32_MAX / 9;
    t.genome[a][33] = x >= -kNineFits && x <= kNineFits ? x * 9 / 1000
                                                        : static_cast<int32_t>(static_cast<int64_t>(x) * 9 / 1000);
  }

  // Genome checks.
  {
    const int32_t* g = t.genome[a];
    if (g[5] - g[6] <= 10) t.alive[a] = 0;
    if (g[16] + g[32] > g[11]) t.alive[a] = 0;
    if (city_distance(t.home_x[a], t.home_y[a], t.away_x[a], t.away_y[a]) < g[16] + g[32]) {
      t.alive[a] = 0;
    }
  }

  // Age.
  t.age[a] += 1;
  if (t.age[a] > t.genome[a][35]) t.alive[a] = 0;

  contact_scan(world, a);

  // Search pacing: a target search only once the pause has run out.
  int32_t found;
  if (t.pause_count[a] < t.pause_length[a]) {
    found = 1;
    t.pause_count[a] += 1;
  } else {
    t.pause_count[a] = 0;
    found = t.mode[a] == kModeForage ? find_food(world, a) : 0;
  }

  // The wider the last search, the longer until the next.
  t.pause_length[a] = t.search_radius[a] > 50 ? t.search_radius[a] * 20 / 1000 : 0;

  if (found == 0 && t.mode[a] == kModeForage) {
    if (t.search_radius[a] >= 1000) {
      t.alive[a] = 0;
    } else {
      t.search_radius[a] = 1000;
    }
  } else {
    // Target by mode.
    const int32_t mode = t.mode[a];
    if (mode == kModeHome) {
      t.target_x[a] = t.home_x[a];
      t.target_y[a] = t.home_y[a];
    } else if (mode == kModeAway) {
      t.target_x[a] = t.away_x[a];
      t.target_y[a] = t.away_y[a];
    } else if (mode == kModeMate && found == 0) {
      t.target_x[a] = t.home_x[a];
      t.target_y[a] = t.home_y[a];
      if (t.target_x[a] == t.pos_x[a] && t.target_y[a] == t.pos_y[a]) {
        const int32_t child = spawn_agent(world, t.pos_x[a] - 5, t.pos_y[a] - 5, t.genome[a]);
        if (child != kNoSlot) {
          const int32_t scale = rand_range(world, 0, 3);
          mutate_genome(world, child, static_cast<float>(scale));
        }
        t.food_eaten[a] = 0;
      }
    }

    // Move: the row, then the column. A step toward a larger coordinate that would
    // pass the target is taken back; one toward a smaller coordinate is kept.
    // The distances in 64 bits: a world loaded from a file may put an agent anywhere.
    const int64_t dx = t.pos_x[a] > t.target_x[a] ? int64_t{t.pos_x[a]} - t.target_x[a]
                                                  : int64_t{t.target_x[a]} - t.pos_x[a];
    const int64_t dy = t.pos_y[a] > t.target_y[a] ? int64_t{t.pos_y[a]} - t.target_y[a]
                                                  : int64_t{t.target_y[a]} - t.pos_y[a];
    const int32_t step_x = dx > t.genome[a][8] ? t.genome[a][9] : 1;
    const int32_t step_y = dy > t.genome[a][8] ? t.genome[a][9] : 1;
    if (t.target_y[a] > t.pos_y[a]) t.pos_y[a] += step_y;
    if (t.target_y[a] < t.pos_y[a]) t.pos_y[a] -= step_y;
    if (t.target_x[a] > t.pos_x[a]) t.pos_x[a] += step_x;
    if (t.target_x[a] < t.pos_x[a]) t.pos_x[a] -= step_x;
    agent_buckets_place(world, a);

    // The search radius wears down with the steps taken.
    if (t.search_radius[a] > 20) t.search_radius[a] -= step_x + step_y;

    // Eating; walking costs energy only when nothing was eaten.
    if (t.mode[a] == kModeForage) {
      const int32_t n = eat_at(world, t.pos_x[a], t.pos_y[a]);
      t.energy[a] = t.energy[a] + static_cast<float>(n);
      if (n > 0) {
        // Wrapping, as the counter would on the machine: fights can leave it anywhere.
        t.food_eaten[a] = static_cast<int32_t>(static_cast<uint32_t>(t.food_eaten[a]) + static_cast<uint32_t>(n));
      } else if (t.energy[a] > 0.0f) {
        const double cost = (step_x + step_y) * (t.genome[a][10] / 60.0);
        t.energy[a] = t.energy[a] - static_cast<float>(cost);
      }
    }

    // Planting near the site the agent is heading for, once every gene 4 updates.
    if ((t.mode[a] == kModeHome || t.mode[a] == kModeAway) && dx + dy < t.genome[a][11]) {
      if (t.plant_counter[a] == 0) {
        const int32_t n = plant_at(world, t.pos_x[a], t.pos_y[a], a);
        t.energy[a] = t.energy[a] - static_cast<float>(2 * n);
      }
      t.plant_counter[a] += 1;
      if (t.plant_counter[a] >= t.genome[a][4]) t.plant_counter[a] = 0;
    }

    // Mode changes, each seeing the mode the previous one left.
    const int32_t* g = t.genome[a];
    if (t.mode[a] == kModeHome && t.food_eaten[a] > g[13] / 8.0) t.mode[a] = kModeMate;
    if (t.mode[a] == kModeMate && t.food_eaten[a] < g[13]) t.mode[a] = kModeForage;
    if (t.mode[a] == kModeForage && static_cast<double>(t.energy[a]) >= g[5]) t.mode[a] = kModeHome;
    const int32_t from_home = city_distance(t.pos_x[a], t.pos_y[a], t.home_x[a], t.home_y[a]);
    if (t.mode[a] == kModeHome) {
      if (static_cast<double>(t.energy[a]) < g[6]) {
        t.mode[a] = kModeForage;
      } else if (from_home < g[16]) {
        t.mode[a] = kModeAway;
      }
    }
    if (t.mode[a] == kModeAway) {
      if (static_cast<double>(t.energy[a]) < g[6]) {
        t.mode[a] = kModeForage;
      } else if (from_home - g[32] >= g[16]) {
        t.mode[a] = kModeHome;
      }
    }
  }

  // Exhaustion.
  if (t.energy[a] <= 0.0f) t.alive[a] = 0;
}
