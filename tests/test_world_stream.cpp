#include "world/world_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/world_fixture.h"
#include "world/frame_step.h"
#include "world/sound.h"

namespace {

uint64_t plain_fnv1a(uint64_t hash, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * kFnvPrime;
  return hash;
}

uint64_t plain_fnv1a(const std::vector<uint8_t>& bytes) {
  return plain_fnv1a(kFnvOffsetBasis, bytes.data(), bytes.size());
}

void append_sink(const uint8_t* data, size_t size, void* context) {
  auto& out = *static_cast<std::vector<uint8_t>*>(context);
  out.insert(out.end(), data, data + size);
}

std::vector<uint8_t> stream_of(const World& world) {
  std::vector<uint8_t> out;
  out.reserve(kWorldStreamBytes);
  write_world_stream(world, append_sink, &out);
  return out;
}

// Byte offsets of the stream fields, built from the field list alone (names, element
// counts, in order) the way a reader of the format would, not from the World struct.
struct Field {
  const char* name;
  size_t count;
};

constexpr size_t kSlots = kMaxAgents;
constexpr size_t kCells = kCellCount;
const Field kLayout[] = {
    {"frame_count", 1},   {"spawn_mode", 1},    {"random_state", 1},  {"sound_level", 1},
    {"background_level", 1}, {"band_sum", 10},  {"band_peak", 10},    {"band_stale", 10},
    {"gene_min", 36},     {"gene_init_lo", 36}, {"gene_init_hi", 36}, {"gene_max", 36},
    {"gene_step", 36},    {"reseed_genome", 36}, {"cells", kCells},   {"next_cells", kCells},
    {"neighbours", kCells}, {"claimed", kCells}, {"dead_run", kCells}, {"alive", kSlots},
    {"pos_x", kSlots},    {"pos_y", kSlots},    {"target_x", kSlots}, {"target_y", kSlots},
    {"mode", kSlots},     {"energy", kSlots},   {"age", kSlots},      {"food_eaten", kSlots},
    {"crowd", kSlots},    {"search_radius", kSlots}, {"pause_count", kSlots},
    {"pause_length", kSlots}, {"plant_counter", kSlots}, {"home_x", kSlots}, {"home_y", kSlots},
    {"away_x", kSlots},   {"away_y", kSlots},   {"genome", kSlots * 36},
};

size_t offset_of(const std::string& name, size_t index = 0) {
  size_t offset = 4;  // the tag
  for (const Field& f : kLayout) {
    if (name == f.name) {
      EXPECT_LT(index, f.count) << name;
      return offset + 4 * index;
    }
    offset += 4 * f.count;
  }
  ADD_FAILURE() << "no field " << name;
  return 0;
}

int32_t int_at(const std::vector<uint8_t>& s, size_t offset) {
  // Little-endian, assembled by hand so the check does not depend on the host.
  uint32_t v = uint32_t{s[offset]} | uint32_t{s[offset + 1]} << 8 | uint32_t{s[offset + 2]} << 16 |
               uint32_t{s[offset + 3]} << 24;
  return static_cast<int32_t>(v);
}

float float_at(const std::vector<uint8_t>& s, size_t offset) {
  uint32_t bits = static_cast<uint32_t>(int_at(s, offset));
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

TEST(WorldStream, SizeAndTagOfLoadState) {
  auto world = make_world();
  std::vector<uint8_t> s = stream_of(*world);
  ASSERT_EQ(s.size(), kWorldStreamBytes);
  size_t total = 4;
  for (const Field& f : kLayout) total += 4 * f.count;
  EXPECT_EQ(total, kWorldStreamBytes);
  EXPECT_EQ(std::string(s.begin(), s.begin() + 4), "CVW1");
  // The load state's non-zero scalars, where a reader looks for them.
  EXPECT_EQ(int_at(s, offset_of("spawn_mode")), 1);
  EXPECT_EQ(int_at(s, offset_of("random_state")), 1);
  EXPECT_EQ(float_at(s, offset_of("sound_level")), 100.0f);
  EXPECT_EQ(float_at(s, offset_of("background_level")), 100.0f);
}

TEST(WorldStream, EveryFieldLandsAtItsOffset) {
  auto world = make_world();
  World& w = *world;
  w.frame_count = 0x01020304;
  w.spawn_mode = kSpawnBreeding;  // the modes go in as the integers they stand for
  w.random_state = 0xdeadbeefu;
  w.sound_level = 153.0f;
  w.background_level = -2.5f;
  w.band_sum[0] = 11;
  w.band_peak[9] = 12;
  w.band_stale[4] = 13;
  w.limits.gene_min[0] = 21;
  w.limits.gene_init_lo[35] = 22;
  w.limits.gene_init_hi[17] = 23;
  w.limits.gene_max[1] = 24;
  w.limits.gene_step[34] = 25;
  w.reseed_genome[6] = 26;
  w.cells[cell_index(0, 0)] = 31;
  w.next_cells[cell_index(999, 399)] = 32;
  w.neighbours[cell_index(1, 2)] = -3;
  w.claimed[cell_index(500, 7)] = 34;
  w.dead_run[cell_index(3, 399)] = 35;
  AgentTable& a = w.agents;
  a.alive[9999] = 1;
  a.pos_x[1] = -41;
  a.pos_y[2] = 42;
  a.target_x[3] = 43;
  a.target_y[4] = 44;
  a.mode[5] = kModeMate;
  a.energy[6] = 1.5f;
  a.age[7] = 47;
  a.food_eaten[8] = 48;
  a.crowd[9] = 49;
  a.search_radius[10] = 50;
  a.pause_count[11] = 51;
  a.pause_length[12] = 52;
  a.plant_counter[13] = 53;
  a.home_x[14] = 54;
  a.home_y[15] = 55;
  a.away_x[16] = 56;
  a.away_y[9999] = 57;
  a.genome[0][0] = 61;
  a.genome[1][0] = 62;
  a.genome[9999][35] = 63;

  std::vector<uint8_t> s = stream_of(w);
  ASSERT_EQ(s.size(), kWorldStreamBytes);
  EXPECT_EQ(s[4], 0x04);  // little-endian
  EXPECT_EQ(s[7], 0x01);
  EXPECT_EQ(int_at(s, offset_of("frame_count")), 0x01020304);
  EXPECT_EQ(int_at(s, offset_of("spawn_mode")), 0);
  EXPECT_EQ(static_cast<uint32_t>(int_at(s, offset_of("random_state"))), 0xdeadbeefu);
  EXPECT_EQ(float_at(s, offset_of("sound_level")), 153.0f);
  EXPECT_EQ(float_at(s, offset_of("background_level")), -2.5f);
  EXPECT_EQ(int_at(s, offset_of("band_sum", 0)), 11);
  EXPECT_EQ(int_at(s, offset_of("band_peak", 9)), 12);
  EXPECT_EQ(int_at(s, offset_of("band_stale", 4)), 13);
  EXPECT_EQ(int_at(s, offset_of("gene_min", 0)), 21);
  EXPECT_EQ(int_at(s, offset_of("gene_init_lo", 35)), 22);
  EXPECT_EQ(int_at(s, offset_of("gene_init_hi", 17)), 23);
  EXPECT_EQ(int_at(s, offset_of("gene_max", 1)), 24);
  EXPECT_EQ(int_at(s, offset_of("gene_step", 34)), 25);
  EXPECT_EQ(int_at(s, offset_of("reseed_genome", 6)), 26);
  EXPECT_EQ(int_at(s, offset_of("cells", 0)), 31);
  EXPECT_EQ(int_at(s, offset_of("next_cells", 999 * 400 + 399)), 32);
  EXPECT_EQ(int_at(s, offset_of("neighbours", 1 * 400 + 2)), -3);
  EXPECT_EQ(int_at(s, offset_of("claimed", 500 * 400 + 7)), 34);
  EXPECT_EQ(int_at(s, offset_of("dead_run", 3 * 400 + 399)), 35);
  EXPECT_EQ(int_at(s, offset_of("alive", 9999)), 1);
  EXPECT_EQ(int_at(s, offset_of("pos_x", 1)), -41);
  EXPECT_EQ(int_at(s, offset_of("pos_y", 2)), 42);
  EXPECT_EQ(int_at(s, offset_of("target_x", 3)), 43);
  EXPECT_EQ(int_at(s, offset_of("target_y", 4)), 44);
  EXPECT_EQ(int_at(s, offset_of("mode", 5)), 3);
  EXPECT_EQ(float_at(s, offset_of("energy", 6)), 1.5f);
  EXPECT_EQ(int_at(s, offset_of("age", 7)), 47);
  EXPECT_EQ(int_at(s, offset_of("food_eaten", 8)), 48);
  EXPECT_EQ(int_at(s, offset_of("crowd", 9)), 49);
  EXPECT_EQ(int_at(s, offset_of("search_radius", 10)), 50);
  EXPECT_EQ(int_at(s, offset_of("pause_count", 11)), 51);
  EXPECT_EQ(int_at(s, offset_of("pause_length", 12)), 52);
  EXPECT_EQ(int_at(s, offset_of("plant_counter", 13)), 53);
  EXPECT_EQ(int_at(s, offset_of("home_x", 14)), 54);
  EXPECT_EQ(int_at(s, offset_of("home_y", 15)), 55);
  EXPECT_EQ(int_at(s, offset_of("away_x", 16)), 56);
  EXPECT_EQ(int_at(s, offset_of("away_y", 9999)), 57);
  EXPECT_EQ(int_at(s, offset_of("genome", 0)), 61);
  EXPECT_EQ(int_at(s, offset_of("genome", 36)), 62);
  EXPECT_EQ(int_at(s, offset_of("genome", 9999 * 36 + 35)), 63);
  EXPECT_EQ(offset_of("genome", 9999 * 36 + 35) + 4, kWorldStreamBytes);

  // Nothing else was written: every other 4-byte field is still zero.
  size_t non_zero = 0;
  for (size_t off = 4; off < s.size(); off += 4) non_zero += int_at(s, off) != 0;
  EXPECT_EQ(non_zero, 39u);
}

// A machine that must encode each value (big-endian, or the portable build) writes
// long stretches of values, runs of zeros between them, and values straddling its
// working block: every value must land as its own four bytes, lowest first.
TEST(WorldStream, LongRunsOfValuesAndZerosKeepTheirBytes) {
  auto world = make_world();
  World& w = *world;
  uint32_t v = 12345;
  auto next = [&] { return v = v * 2654435761u + 1; };
  // 5000 values (more than one block), 40 zeros, a lone value, 31 zeros, 3001 values.
  for (int32_t e = 0; e < 5000; ++e) w.neighbours[e] = static_cast<int32_t>(next());
  w.neighbours[5040] = -1;
  for (int32_t e = 5072; e < 8073; ++e) w.neighbours[e] = static_cast<int32_t>(next() | 1);
  w.agents.energy[kMaxAgents - 1] = -0.1f;
  const std::vector<uint8_t> s = stream_of(w);
  ASSERT_EQ(s.size(), kWorldStreamBytes);
  size_t wrong = 0;
  for (int32_t e = 0; e < 9000; ++e) {
    wrong += int_at(s, offset_of("neighbours", e)) != w.neighbours[e] ? 1 : 0;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(float_at(s, offset_of("energy", kMaxAgents - 1)), -0.1f);
  auto loaded = make_world();
  ASSERT_TRUE(read_world_stream(*loaded, s.data(), s.size()));
  EXPECT_EQ(std::memcmp(loaded->neighbours, w.neighbours, sizeof w.neighbours), 0);
  EXPECT_EQ(loaded->agents.energy[kMaxAgents - 1], -0.1f);
}

TEST(Fnv1a, PublishedVectorsOfFnv1a64) {
  auto hash = [](const char* text) {
    return fnv1a_update(kFnvOffsetBasis, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
  };
  EXPECT_EQ(hash(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(hash("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(hash("foobar"), 0x85944171f73967e8ull);
}

// The zero-run shortcut must give exactly the byte-at-a-time hash whatever the lengths
// of the zero runs, where they start relative to a word, and where the buffer starts.
TEST(Fnv1a, ZeroRunShortcutMatchesByteLoop) {
  std::mt19937 rng(2024);
  std::vector<uint8_t> buffer(1 << 16);
  for (int round = 0; round < 300; ++round) {
    size_t fill = 0;
    while (fill < buffer.size()) {
      bool zeros = rng() % 2 == 0;
      // Run lengths from 1 to beyond the 64-byte table and across several doublings.
      size_t run = rng() % 4 == 0 ? 1 + rng() % 5000 : 1 + rng() % 70;
      for (size_t k = 0; k < run && fill < buffer.size(); ++k) {
        uint8_t value = static_cast<uint8_t>(rng());
        buffer[fill++] = zeros ? 0 : (value == 0 ? 1 : value);
      }
    }
    size_t start = rng() % 16;
    size_t size = rng() % (buffer.size() - start);
    const uint8_t* data = buffer.data() + start;
    uint64_t seed = round % 2 ? kFnvOffsetBasis : (uint64_t{rng()} << 32 | rng());
    ASSERT_EQ(fnv1a_update(seed, data, size), plain_fnv1a(seed, data, size))
        << "round " << round << " start " << start << " size " << size;
  }
}

TEST(Fnv1a, LongZeroRunsAndPiecewiseUpdates) {
  std::vector<uint8_t> buffer(3 * 1000 * 1000 + 13, 0);
  buffer[0] = 7;
  buffer[2 * 1000 * 1000 + 5] = 0x80;
  buffer.back() = 1;
  uint64_t whole = plain_fnv1a(buffer);
  EXPECT_EQ(fnv1a_update(kFnvOffsetBasis, buffer.data(), buffer.size()), whole);
  // Split at awkward points: the hash carries over from piece to piece.
  const size_t cuts[] = {0, 1, 3, 4096, 1999999, 2000006, 2999999, buffer.size()};
  uint64_t hash = kFnvOffsetBasis;
  for (size_t c = 0; c + 1 < sizeof cuts / sizeof cuts[0]; ++c) {
    hash = fnv1a_update(hash, buffer.data() + cuts[c], cuts[c + 1] - cuts[c]);
  }
  EXPECT_EQ(hash, whole);
  std::vector<uint8_t> all_zero(1 << 20, 0);
  EXPECT_EQ(fnv1a_update(kFnvOffsetBasis, all_zero.data(), all_zero.size()), plain_fnv1a(all_zero));
}

TEST(Digests, WorldDigestIsFnvOfTheStream) {
  auto world = make_world();
  World& w = *world;
  std::mt19937 rng(7);
  // A populated-looking world: scattered live cells, a block of used slots.
  for (int k = 0; k < 20000; ++k) w.cells[rng() % kCellCount] = 1;
  for (int k = 0; k < 3000; ++k) w.neighbours[rng() % kCellCount] = static_cast<int32_t>(rng() % 9) - 1;
  for (int slot = 0; slot < 700; ++slot) {
    w.agents.alive[slot] = rng() % 3 != 0;
    w.agents.pos_x[slot] = static_cast<int32_t>(rng() % 1000);
    w.agents.energy[slot] = static_cast<float>(rng() % 10000) / 7.0f;
    for (int g = 0; g < kGeneCount; ++g) w.agents.genome[slot][g] = static_cast<int32_t>(rng() % 300);
  }
  w.random_state = rng();
  uint64_t digest = world_digest(w);
  EXPECT_EQ(digest, plain_fnv1a(stream_of(w)));
  w.agents.genome[699][35] ^= 1;
  EXPECT_NE(world_digest(w), digest);
}

TEST(Digests, PictureDigestReadsRowsTopToBottomAsRgb) {
  auto picture = std::make_unique<PixelBuffer>();
  std::memset(picture->rgb, 0xff, sizeof picture->rgb);
  // The white start-up picture: the digest every reference trace shows for its first
  // 151 frames, written by an independent implementation.
  EXPECT_EQ(picture_digest(*picture), 0xe1f019153458eda5ull);

  std::memset(picture->rgb, 0, sizeof picture->rgb);
  picture->rgb[1][0][2] = 200;  // blue of pixel (0, 1): byte 3 * 1000 + 2
  std::vector<uint8_t> expected(size_t{kWorldWidth} * kWorldHeight * 3, 0);
  expected[3 * 1000 + 2] = 200;
  EXPECT_EQ(picture_digest(*picture), plain_fnv1a(expected));
}

TEST(ReadWorldStream, RefusesWrongSizeOrTagAndLeavesTheWorldAlone) {
  auto source = make_world();
  source->frame_count = 77;
  std::vector<uint8_t> s = stream_of(*source);
  auto target = make_world();
  const uint64_t before = world_digest(*target);
  EXPECT_FALSE(read_world_stream(*target, s.data(), s.size() - 1));
  s[3] = '2';
  EXPECT_FALSE(read_world_stream(*target, s.data(), s.size()));
  EXPECT_EQ(world_digest(*target), before);
}

// The modes are enums in the World but int32s in the stream: values that name no mode
// load as they are (check_world is the one to object) and write back the same bytes.
TEST(ReadWorldStream, ModesThatNameNothingLoadAsTheyAre) {
  auto source = make_world();
  std::vector<uint8_t> s = stream_of(*source);
  const auto put = [&s](size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(offset_of("spawn_mode"), 9);
  put(offset_of("mode", 5), 0xfffffff9u);  // -7
  auto loaded = make_world();
  ASSERT_TRUE(read_world_stream(*loaded, s.data(), s.size()));
  EXPECT_EQ(static_cast<int32_t>(loaded->spawn_mode), 9);
  EXPECT_EQ(static_cast<int32_t>(loaded->agents.mode[5]), -7);
  EXPECT_TRUE(stream_of(*loaded) == s);
}

// A world loaded from a snapshot must go on exactly as the world it was taken from:
// the stream holds all of the state, and loading rebuilds whatever is kept beside it.
TEST(ReadWorldStream, LoadedSnapshotContinuesLikeTheOriginal) {
  auto original = make_world();
  auto canvas = std::make_unique<Canvas>();
  canvas_load_state(*canvas);
  std::vector<uint8_t> spectrum(kSpectrumBytes, 0);
  for (int frame = 0; frame < 320; ++frame) {
    for (int b = 0; b < 100; ++b) spectrum[b] = static_cast<uint8_t>((frame * 7 + b * 13) % 97);
    frame_step(*original, *canvas, spectrum.data(), 4242);
  }
  std::vector<uint8_t> s = stream_of(*original);
  // Loaded over a world that has run a course of its own, so nothing it kept may linger.
  auto loaded = make_world();
  auto other_canvas = std::make_unique<Canvas>();
  canvas_load_state(*other_canvas);
  std::vector<uint8_t> noise(kSpectrumBytes, 0);
  for (int frame = 0; frame < 300; ++frame) frame_step(*loaded, *other_canvas, noise.data(), 99);
  ASSERT_TRUE(read_world_stream(*loaded, s.data(), s.size()));
  EXPECT_EQ(world_digest(*loaded), world_digest(*original));

  for (int frame = 320; frame < 420; ++frame) {
    for (int b = 0; b < 100; ++b) spectrum[b] = static_cast<uint8_t>((frame * 7 + b * 13) % 97);
    frame_step(*original, *canvas, spectrum.data(), 4242);
    frame_step(*loaded, *other_canvas, spectrum.data(), 99);
    ASSERT_EQ(world_digest(*loaded), world_digest(*original)) << "frame " << frame + 1;
    ASSERT_EQ(picture_digest(other_canvas->drawing), picture_digest(canvas->drawing)) << "frame " << frame + 1;
  }
  int32_t alive = 0;
  for (int32_t slot = 0; slot < kMaxAgents; ++slot) alive += original->agents.alive[slot];
  EXPECT_GT(alive, 0) << "the run never got going, so the comparison proved little";
}

}  // namespace
