#include "world/world_stream.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include "world/world_index.h"

// The stream's byte order is its own (little-endian), not the machine's: every value is
// written and read a byte at a time by arithmetic, so a big-endian machine writes the
// same bytes as a little-endian one.
#if !defined(__BYTE_ORDER__) || (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__ && __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__)
#error "the digests need to know the machine's byte order"
#endif
static_assert(std::numeric_limits<float>::is_iec559, "floats go into the stream as IEEE-754 bits");
static_assert(sizeof(float) == 4, "energy and the sound levels are 4 bytes in the stream");

namespace {

constexpr size_t kTagBytes = 4;

// A value's four bytes, lowest first.
inline void put_le32(uint8_t* to, uint32_t value) {
  to[0] = static_cast<uint8_t>(value);
  to[1] = static_cast<uint8_t>(value >> 8);
  to[2] = static_cast<uint8_t>(value >> 16);
  to[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t get_le32(const uint8_t* from) {
  return uint32_t{from[0]} | uint32_t{from[1]} << 8 | uint32_t{from[2]} << 16 | uint32_t{from[3]} << 24;
}

// Values of 4 bytes (int32, uint32 or float) into the stream through a block on the
// stack; the sink sees the stream's bytes only. Runs of zero values go to the sink as
// they lie, since zero reads the same in either byte order: a world is mostly zeros,
// and a trace digests all of it every frame.
constexpr size_t kZeroRun = 32;
constexpr size_t kEncodeBytes = 8192;
static_assert(kEncodeBytes % kZeroRun == 0, "the block holds whole runs");

inline uint64_t load_host_word(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline bool zero_run(const uint8_t* p) {
  return (load_host_word(p) | load_host_word(p + 8) | load_host_word(p + 16) | load_host_word(p + 24)) == 0;
}

void put_values(StreamSink sink, void* context, const void* values, size_t size) {
  const uint8_t* from = static_cast<const uint8_t*>(values);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && !defined(CORVANTA_PORTABLE)
  // A little-endian machine holds each value as the stream's four bytes already; the
  // portable build encodes here too, so that x86 tests the path big-endian takes.
  sink(from, size, context);
  return;
#endif
  uint8_t block[kEncodeBytes];
  while (size > 0) {
    size_t zeros = 0;
    while (size - zeros >= kZeroRun && zero_run(from + zeros)) zeros += kZeroRun;
    if (zeros > 0) {
      sink(from, zeros, context);
      from += zeros;
      size -= zeros;
      continue;
    }
    // Values up to a block's worth, or to the next run of zeros.
    size_t bytes = 0;
    do {
      const size_t piece = size - bytes < kZeroRun ? size - bytes : kZeroRun;
      for (size_t i = 0; i < piece; i += 4) {
        uint32_t value;
        std::memcpy(&value, from + bytes + i, 4);  // the value, as the machine holds it
        put_le32(block + bytes + i, value);
      }
      bytes += piece;
    } while (bytes < size && bytes + kZeroRun <= sizeof block && !(size - bytes >= kZeroRun && zero_run(from + bytes)));
    sink(block, bytes, context);
    from += bytes;
    size -= bytes;
  }
}

void get_values(void* values, const uint8_t* from, size_t size) {
  uint8_t* to = static_cast<uint8_t*>(values);
  for (size_t i = 0; i < size; i += 4) {
    const uint32_t value = get_le32(from + i);
    std::memcpy(to + i, &value, 4);
  }
}

// Multiplying by kFnvPrime^k is what k zero bytes do to an FNV-1a hash
// (the xor with 0 changes nothing), so a run of zeros costs one table lookup
// or a handful of multiplies instead of k of them.
struct PrimePowers {
  uint64_t small[64];     // prime^k for k < 64
  uint64_t doubling[64];  // prime^(2^j)
};

constexpr PrimePowers make_prime_powers() {
  PrimePowers powers{};
  uint64_t p = 1;
  for (int k = 0; k < 64; ++k) {
    powers.small[k] = p;
    p *= kFnvPrime;
  }
  uint64_t d = kFnvPrime;
  for (int j = 0; j < 64; ++j) {
    powers.doubling[j] = d;
    d *= d;
  }
  return powers;
}

constexpr PrimePowers kPrimePowers = make_prime_powers();

inline uint64_t skip_zero_bytes(uint64_t hash, uint64_t count) {
  if (count < 64) return hash * kPrimePowers.small[count];
  for (int j = 0; count != 0; ++j, count >>= 1) {
    if (count & 1) hash *= kPrimePowers.doubling[j];
  }
  return hash;
}

// Eight bytes as a word whose lowest byte is the first in memory.
inline uint64_t load_word(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

inline unsigned zero_bytes_below(uint64_t word) {
  // word is non-zero; the lowest non-zero byte is the next in memory order.
  return static_cast<unsigned>(__builtin_ctzll(word)) >> 3;
}

void hash_sink(const uint8_t* data, size_t size, void* context) {
  uint64_t& hash = *static_cast<uint64_t*>(context);
  hash = fnv1a_update(hash, data, size);
}

}  // namespace

namespace {

// The two modes are enums held as int32: the stream takes their values as the int32s
// they are, and a value read back may be any int32 (check_world says whether it names
// a mode).
static_assert(std::is_same_v<std::underlying_type_t<SpawnMode>, int32_t>, "spawn_mode is 4 bytes in the stream");
static_assert(std::is_same_v<std::underlying_type_t<AgentMode>, int32_t>, "an agent's mode is 4 bytes in the stream");

// Every field after the tag, in stream order, as (address, bytes), each an array of
// 4-byte values: the one list both the writer and the reader follow.
template <typename W, typename Field>
void for_each_field(W& world, Field field) {
  field(&world.frame_count, 4);
  field(&world.spawn_mode, 4);
  field(&world.random_state, 4);
  field(&world.sound_level, 4);
  field(&world.background_level, 4);
  field(world.band_sum, sizeof world.band_sum);
  field(world.band_peak, sizeof world.band_peak);
  field(world.band_stale, sizeof world.band_stale);

  auto& limits = world.limits;
  field(limits.gene_min, sizeof limits.gene_min);
  field(limits.gene_init_lo, sizeof limits.gene_init_lo);
  field(limits.gene_init_hi, sizeof limits.gene_init_hi);
  field(limits.gene_max, sizeof limits.gene_max);
  field(limits.gene_step, sizeof limits.gene_step);
  field(world.reseed_genome, sizeof world.reseed_genome);

  field(world.cells, sizeof world.cells);
  field(world.next_cells, sizeof world.next_cells);
  field(world.neighbours, sizeof world.neighbours);
  field(world.claimed, sizeof world.claimed);
  field(world.dead_run, sizeof world.dead_run);

  auto& a = world.agents;
  field(a.alive, sizeof a.alive);
  field(a.pos_x, sizeof a.pos_x);
  field(a.pos_y, sizeof a.pos_y);
  field(a.target_x, sizeof a.target_x);
  field(a.target_y, sizeof a.target_y);
  field(a.mode, sizeof a.mode);
  field(a.energy, sizeof a.energy);
  field(a.age, sizeof a.age);
  field(a.food_eaten, sizeof a.food_eaten);
  field(a.crowd, sizeof a.crowd);
  field(a.search_radius, sizeof a.search_radius);
  field(a.pause_count, sizeof a.pause_count);
  field(a.pause_length, sizeof a.pause_length);
  field(a.plant_counter, sizeof a.plant_counter);
  field(a.home_x, sizeof a.home_x);
  field(a.home_y, sizeof a.home_y);
  field(a.away_x, sizeof a.away_x);
  field(a.away_y, sizeof a.away_y);

  // Slot-major: slot 0's genes, then slot 1's.
  static_assert(sizeof a.genome == size_t{kMaxAgents} * kGeneCount * 4, "genome rows are packed");
  field(a.genome, sizeof a.genome);
}

}  // namespace

void write_world_stream(const World& world, StreamSink sink, void* context) {
  sink(reinterpret_cast<const uint8_t*>("CVW1"), kTagBytes, context);
  for_each_field(world, [&](const void* data, size_t size) { put_values(sink, context, data, size); });
}

bool read_world_stream(World& world, const uint8_t* data, size_t size) {
  if (size != kWorldStreamBytes || std::memcmp(data, "CVW1", kTagBytes) != 0) return false;
  size_t offset = kTagBytes;
  for_each_field(world, [&](void* field, size_t bytes) {
    get_values(field, data + offset, bytes);
    offset += bytes;
  });
  world_reindex(world);
  return true;
}

uint64_t fnv1a_update(uint64_t hash, const uint8_t* data, size_t size) {
  uint64_t pending_zeros = 0;
  size_t i = 0;
  while (i + 8 <= size) {
    // Most of a world is zero: hop over zero blocks four words at a time.
    while (i + 32 <= size &&
           (load_word(data + i) | load_word(data + i + 8) | load_word(data + i + 16) |
            load_word(data + i + 24)) == 0) {
      pending_zeros += 32;
      i += 32;
    }
    if (i + 8 > size) break;
    uint64_t word = load_word(data + i);
    i += 8;
    if (word == 0) {
      pending_zeros += 8;
      continue;
    }
    unsigned used = 0;
    while (word != 0) {
      unsigned gap = zero_bytes_below(word);
      hash = skip_zero_bytes(hash, pending_zeros + gap);
      pending_zeros = 0;
      word >>= 8 * gap;
      hash = (hash ^ (word & 0xff)) * kFnvPrime;
      word >>= 8;
      used += gap + 1;
    }
    pending_zeros += 8 - used;
  }
  hash = skip_zero_bytes(hash, pending_zeros);
  for (; i < size; ++i) hash = (hash ^ data[i]) * kFnvPrime;
  return hash;
}

uint64_t world_digest(const World& world) {
  uint64_t hash = kFnvOffsetBasis;
  write_world_stream(world, hash_sink, &hash);
  return hash;
}

uint64_t picture_digest(const PixelBuffer& picture) {
  static_assert(sizeof picture.rgb == size_t{kWorldWidth} * kWorldHeight * 3, "pixels are packed");
  return fnv1a_update(kFnvOffsetBasis, &picture.rgb[0][0][0], sizeof picture.rgb);
}
