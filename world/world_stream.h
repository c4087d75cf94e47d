#pragma once
// The world byte stream "CVW1" (little-endian; layout in docs/world-stream.md),
// used for snapshots and the world digest of a trace.
#include <cstddef>
#include <cstdint>

#include "world/renderer.h"
#include "world/world_state.h"

constexpr size_t kWorldStreamBytes = 10161008;

// Calls sink with consecutive pieces of the stream, in order.
using StreamSink = void (*)(const uint8_t* data, size_t size, void* context);
void write_world_stream(const World& world, StreamSink sink, void* context);
// Loads a whole stream into the world; false (world untouched) unless data holds
// exactly kWorldStreamBytes starting with the tag. The values are taken as they are:
// check_world says whether they make a sound world.
bool read_world_stream(World& world, const uint8_t* data, size_t size);

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;
// FNV-1a 64 continued from hash over data.
uint64_t fnv1a_update(uint64_t hash, const uint8_t* data, size_t size);
uint64_t world_digest(const World& world);
// Over R, G, B per pixel, rows top to bottom.
uint64_t picture_digest(const PixelBuffer& picture);
