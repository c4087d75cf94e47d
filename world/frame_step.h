#pragma once
// The per-frame driver: sound, seeding, Life, agents, drawing, population policy.
#include "world/renderer.h"
#include "world/world_state.h"

// How a frame thinned out its population, if it did.
enum CullKind : int32_t {
  kCullNone = 0,
  kCullRandom = 1,    // each agent spared by a draw, about one in nine
  kCullCrowding = 2,  // no two survivors close together
};

// Frames whose starting frame_count is at most this only analyse sound.
constexpr int32_t kStartupFrames = 150;

// The population policy, by the number of agents a frame counts (agents updated,
// plus one re-seeded).
constexpr int32_t kReseedAtOrBelow = 6;     // re-seeding starts at or below this
constexpr int32_t kReseedUntilAbove = 50;   // and stops above this
constexpr int32_t kCullAbove = 1000;        // more than this are culled
constexpr int32_t kDiscardedDrawBelow = 400;  // below this one draw is made and dropped

// What frame_step did to the picture.
enum PictureOutcome : int32_t {
  kPictureKept = 0,     // nothing drawn: the canvas holds what it held
  kPictureListed = 1,   // drawn; only the pixels for_each_changed_pixel visits can
                        // differ from the last picture drawn
  kPictureRedrawn = 2,  // drawn; any pixel may differ
};

// What one frame did, for whoever shows the picture or keeps statistics.
struct FrameReport {
  PictureOutcome picture;
  int32_t births;             // agents spawned, by breeding and by re-seeding
  int32_t deaths;             // agents that died: in their turn, in a fight, in a cull
  int32_t agents_counted;     // the count the population policy went by
  int32_t reseeding_started;  // 1 when the population fell low enough to re-seed
  CullKind cull;              // kCullNone unless the frame culled
};

// Runs one frame. spectrum: 1152 bytes, channel 0 first. seed: taken by the random
// source in the world's first frame (frame_count 0) and ignored after; the plug-in
// passes the calendar's seconds. The world never reads a clock.
FrameReport frame_step(World& world, Canvas& canvas, const uint8_t* spectrum, uint32_t seed);
// Thins out the population, wipes the grid and doubles the survivors' energy. The
// crowding kind asks the buckets, so it runs inside a frame step (or after
// agent_buckets_build).
void cull_population(World& world, CullKind kind);
