#include "world/world_stream.h"

#include <cstring>
#include <limits>

// The stream is written straight from the World's arrays, so it is little-endian only
// because every host we build for (x86-64 Linux, 32-bit x86 Windows) is.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the world byte stream is written from memory as it lies and needs a little-endian host"
#endif
static_assert(std::numeric_limits<float>::is_iec559, "floats go into the stream as IEEE-754 bits");
static_assert(sizeof(float) == 4, "energy and the sound levels are 4 bytes in the stream");

namespace {

constexpr size_t kTagBytes = 4;
constexpr size_t kScalarBytes = 5 * 4;

void put_bytes(StreamSink sink, void* context, const void* data, size_t size) {
  sink(static_cast<const uint8_t*>(data), size, context);
}

template <typename T, size_t N>
void put_array(StreamSink sink, void* context, const T (&values)[N]) {
  static_assert(sizeof(T) == 4, "every stream field is 4 bytes wide");
  put_bytes(sink, context, values, sizeof values);
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

inline uint64_t load_word(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
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

void write_world_stream(const World& world, StreamSink sink, void* context) {
  uint8_t head[kTagBytes + kScalarBytes];
  std::memcpy(head, "CVW1", kTagBytes);
  uint8_t* p = head + kTagBytes;
  std::memcpy(p, &world.frame_count, 4);
  std::memcpy(p + 4, &world.spawn_mode, 4);
  std::memcpy(p + 8, &world.random_state, 4);
  std::memcpy(p + 12, &world.sound_level, 4);
  std::memcpy(p + 16, &world.background_level, 4);
  put_bytes(sink, context, head, sizeof head);

  put_array(sink, context, world.band_sum);
  put_array(sink, context, world.band_peak);
  put_array(sink, context, world.band_stale);

  const GeneLimits& limits = world.limits;
  put_array(sink, context, limits.gene_min);
  put_array(sink, context, limits.gene_init_lo);
  put_array(sink, context, limits.gene_init_hi);
  put_array(sink, context, limits.gene_max);
  put_array(sink, context, limits.gene_step);
  put_array(sink, context, world.reseed_genome);

  put_array(sink, context, world.cells);
  put_array(sink, context, world.next_cells);
  put_array(sink, context, world.neighbours);
  put_array(sink, context, world.claimed);
  put_array(sink, context, world.dead_run);

  const AgentTable& a = world.agents;
  put_array(sink, context, a.alive);
  put_array(sink, context, a.pos_x);
  put_array(sink, context, a.pos_y);
  put_array(sink, context, a.target_x);
  put_array(sink, context, a.target_y);
  put_array(sink, context, a.mode);
  put_array(sink, context, a.energy);
  put_array(sink, context, a.age);
  put_array(sink, context, a.food_eaten);
  put_array(sink, context, a.crowd);
  put_array(sink, context, a.search_radius);
  put_array(sink, context, a.pause_count);
  put_array(sink, context, a.pause_length);
  put_array(sink, context, a.plant_counter);
  put_array(sink, context, a.home_x);
  put_array(sink, context, a.home_y);
  put_array(sink, context, a.away_x);
  put_array(sink, context, a.away_y);

  // Slot-major: slot 0's genes, then slot 1's.
  static_assert(sizeof a.genome == size_t{kMaxAgents} * kGeneCount * 4, "genome rows are packed");
  put_bytes(sink, context, a.genome, sizeof a.genome);
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
