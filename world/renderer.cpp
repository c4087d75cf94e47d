#include "world/renderer.h"

#include <cstring>

#include "world/agent_table.h"
#include "world/platform.h"
#include "world/world_index.h"

// Live cells are drawn in the blue of the background level (sound.h), and only while
// that level is above this: at full loudness the picture shows the agents alone.
constexpr float kCellsShownAbove = 0.2f;

// An agent's brightness is kDimmest with no energy and rises by kBrightnessPerReserve
// for each travel reserve's worth of energy, to at most 1 (at the reserve itself).
constexpr double kDimmest = 0.3;
constexpr double kBrightnessPerReserve = 0.7;

void canvas_load_state(Canvas& canvas) {
  std::memset(canvas.drawing.rgb, 255, sizeof(canvas.drawing.rgb));
  std::memset(canvas.background.rgb, 0, sizeof(canvas.background.rgb));
  canvas.background_colour[0] = canvas.background_colour[1] = canvas.background_colour[2] = 0;
  canvas.painted_valid = 0;
  canvas.changes_known = 0;
  canvas.painted_current = 0;
  canvas.painted_count[0] = 0;
  canvas.painted_count[1] = 0;
}

static inline void paint(PixelBuffer& buffer, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
  uint8_t* p = buffer.rgb[y][x];
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

static inline uint8_t cell_blue(const World& world) {
  return static_cast<uint8_t>(to_int32(world.background_level) & 0xFF);
}

// A sprite covers kSpriteSide x kSpriteSide pixels from kSpriteLead left of and above
// the agent's position to kSpriteTrail right of and below it, gene g at column
// g % kSpriteSide and row g / kSpriteSide.
constexpr int32_t kSpriteSide = 6;
constexpr int32_t kSpriteLead = 2;
constexpr int32_t kSpriteTrail = kSpriteSide - 1 - kSpriteLead;
static_assert(kSpriteSide * kSpriteSide == kGeneCount, "one pixel a gene");

struct SpritePixel {
  int32_t dx, dy, offset;  // offset: bytes from the sprite's upper-left pixel
};

struct SpriteTable {
  SpritePixel pixel[kGeneCount];
};

static constexpr SpriteTable sprite_table() {
  SpriteTable table{};
  for (int32_t gene = 0; gene < kGeneCount; ++gene) {
    const int32_t column = gene % kSpriteSide;
    const int32_t row = gene / kSpriteSide;
    table.pixel[gene] = {column - kSpriteLead, row - kSpriteLead, (row * kWorldWidth + column) * 3};
  }
  return table;
}

static constexpr SpriteTable kSprite = sprite_table();

// One pixel, by its byte offset into the picture.
static inline void paint_at(uint8_t* rgb, int32_t offset, uint8_t r, uint8_t g, uint8_t b) {
  uint8_t* p = rgb + offset;
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

static_assert(kGeneCount == 36, "a sprite's genes are taken as 32 and 4");

// The genes above their thresholds, as two masks: genes 0 to 31 and 32 to 35.
static inline void shown_genes(const int32_t* genes, const int32_t* threshold, uint32_t shown[2]) {
#if !CORVANTA_SSE2
  shown[0] = 0;
  shown[1] = 0;
  for (int32_t gene = 0; gene < kGeneCount; ++gene) {
    shown[gene / 32] |= static_cast<uint32_t>(genes[gene] > threshold[gene]) << (gene % 32);
  }
#else
  // Sixteen genes to a compare-and-pack; the plain loop costs four instructions a gene.
  auto above = [&](int32_t gene) {
    return _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(genes + gene)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(threshold + gene)));
  };
  auto sixteen = [&](int32_t gene) {
    const __m128i low = _mm_packs_epi32(above(gene), above(gene + 4));
    const __m128i high = _mm_packs_epi32(above(gene + 8), above(gene + 12));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
  };
  shown[0] = sixteen(0) | sixteen(16) << 16;
  shown[1] = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(above(32))));
#endif
}

// Agents' sprites in slot order, a later slot over an earlier; calls mark(offset)
// with the byte offset of each painted pixel.
template <typename Mark>
static void draw_agents(const World& world, PixelBuffer& buffer, Mark mark) {
  const AgentTable& t = world.agents;
  uint8_t* rgb = &buffer.rgb[0][0][0];
  // Each gene's sprite threshold, the midpoint of its initial range, worked out once
  // per picture rather than per agent.
  int32_t threshold[kGeneCount];
  for (int32_t gene = 0; gene < kGeneCount; ++gene) {
    threshold[gene] = (world.limits.gene_init_lo[gene] + world.limits.gene_init_hi[gene]) / 2;
  }
  for (int32_t a = 0; a < kMaxAgents; ++a) {
    if (a % 8 == 0 && free_eight(t, a)) {
      a += 7;
      continue;
    }
    if (t.alive[a] == 0) continue;
    const int32_t* g = t.genome[a];
    float brightness =
        static_cast<float>(static_cast<double>(t.energy[a]) / g[kGeneTravelReserve] * kBrightnessPerReserve + kDimmest);
    if (brightness > 1.0f) brightness = 1.0f;
    const uint8_t r = static_cast<uint8_t>(to_int32(g[kGeneRed] * static_cast<double>(brightness)) & 0xFF);
    const uint8_t gr = static_cast<uint8_t>(to_int32(g[kGeneGreen] * static_cast<double>(brightness)) & 0xFF);
    const uint8_t b = static_cast<uint8_t>(to_int32(g[kGeneBlue] * static_cast<double>(brightness)) & 0xFF);
    // The genes shown, as masks worked out without branches: whether a gene is above
    // its threshold is a coin toss, and 36 mispredicted branches cost more than the
    // pixels. Two 32-bit masks rather than one of 64 bits, which a 32-bit build would
    // shift, scan and clear at several instructions a step.
    uint32_t shown[2];
    shown_genes(g, threshold, shown);
    const int32_t px = t.pos_x[a];
    const int32_t py = t.pos_y[a];
    if (px >= kSpriteLead && px < kWorldWidth - kSpriteTrail && py >= kSpriteLead &&
        py < kWorldHeight - kSpriteTrail) {
      // The whole sprite is on the picture.
      const int32_t corner = ((py - kSpriteLead) * kWorldWidth + (px - kSpriteLead)) * 3;
      for (int32_t half = 0; half < 2; ++half) {
        for (uint32_t genes = shown[half]; genes != 0; genes &= genes - 1) {
          const int32_t offset = corner + kSprite.pixel[32 * half + __builtin_ctz(genes)].offset;
          paint_at(rgb, offset, r, gr, b);
          mark(offset);
        }
      }
      continue;
    }
    for (int32_t half = 0; half < 2; ++half) {
      for (uint32_t genes = shown[half]; genes != 0; genes &= genes - 1) {
        const int32_t gene = 32 * half + __builtin_ctz(genes);
        const int64_t x = static_cast<int64_t>(px) + kSprite.pixel[gene].dx;
        const int64_t y = static_cast<int64_t>(py) + kSprite.pixel[gene].dy;
        if (x < 0 || x >= kWorldWidth || y < 0 || y >= kWorldHeight) continue;
        const int32_t offset = static_cast<int32_t>((y * kWorldWidth + x) * 3);
        paint_at(rgb, offset, r, gr, b);
        mark(offset);
      }
    }
  }
}

void draw_world(const World& world, PixelBuffer& buffer, const PixelBuffer& background) {
  std::memcpy(buffer.rgb, background.rgb, sizeof(buffer.rgb));

  if (world.background_level > kCellsShownAbove) {
    const uint8_t blue = cell_blue(world);
    for (int32_t x = 1; x < kWorldWidth - 1; ++x) {
      const int32_t* column = world.cells + x * kWorldHeight;
      for (int32_t y = 1; y < kWorldHeight - 1; ++y) {
        if (column[y] == 1) paint(buffer, x, y, 0, 0, blue);
      }
    }
  }
  draw_agents(world, buffer, [](int32_t) {});
}

// Cells of word w that are drawn: columns 1 to kWorldWidth - 2.
static constexpr uint64_t shown_columns(int32_t w) {
  uint64_t mask = ~uint64_t{0};
  if (w == 0) mask &= ~uint64_t{1};
  const int32_t beyond = kWorldWidth - 1 - 64 * w;  // the bit of the last column, not drawn
  if (beyond < 64) mask &= (uint64_t{1} << beyond) - 1;
  return mask;
}

struct ShownColumns {
  uint64_t word[kRowWords];
};

static constexpr ShownColumns shown_columns_table() {
  ShownColumns table{};
  for (int32_t w = 0; w < kRowWords; ++w) table.word[w] = shown_columns(w);
  return table;
}

static constexpr ShownColumns kShownColumns = shown_columns_table();

// A pixel's colour followed by the next pixel's red, as a word whose four bytes lie
// in that order in memory, whatever the machine's byte order.
static inline uint32_t pixel_word(uint8_t r, uint8_t g, uint8_t b, uint8_t next_red) {
  const uint8_t bytes[4] = {r, g, b, next_red};
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

// The pixel at offset in one store of word's four bytes, its last byte into the next
// pixel's red; the picture's last pixel, which has no next, in three.
static inline void store_pixel_word(uint8_t* rgb, int32_t offset, uint32_t word) {
  constexpr int32_t kLastPixel = kWorldHeight * kWorldWidth * 3 - 3;
  if (offset < kLastPixel) {
    std::memcpy(rgb + offset, &word, 4);
  } else {
    std::memcpy(rgb + offset, &word, 3);
  }
}

// Room append_pixels needs beyond count: a whole word's pixels and one more.
constexpr int32_t kWordListRoom = 65;

// Appends the byte offsets of the pixels of bits, a run of row cells whose first
// pixel is at start, to list from count on, and returns the new count. Eight bits a
// round without a branch per bit: whether a cell is live is a coin toss that a branch
// guesses wrong at every other cell. Writes one entry past the new count.
template <typename Word>
static inline int32_t append_pixels(Word bits, int32_t start, int32_t* list, int32_t count) {
  constexpr Word kTop = Word{1} << (sizeof(Word) * 8 - 1);
  do {
    for (int32_t k = 0; k < 8; ++k) {
      const Word guarded = bits | kTop;  // a defined scan once bits runs out
      const int32_t bit = sizeof(Word) == 8 ? __builtin_ctzll(guarded) : __builtin_ctz(static_cast<uint32_t>(guarded));
      list[count] = start + 3 * bit;
      count += bits != 0 ? 1 : 0;
      bits &= bits - 1;
    }
  } while (bits != 0);
  return count;
}

// A row word's pixels onto the list: a 32-bit build takes it in halves, as a 64-bit
// word's bit scans and clears cost it several instructions each.
static inline int32_t append_word_pixels(uint64_t bits, int32_t start, int32_t* list, int32_t count) {
#if CORVANTA_WIDE_WORDS
  return append_pixels(bits, start, list, count);
#else
  const uint32_t low = static_cast<uint32_t>(bits);
  const uint32_t high = static_cast<uint32_t>(bits >> 32);
  if (low != 0) count = append_pixels(low, start, list, count);
  if (high != 0) count = append_pixels(high, start + 3 * 32, list, count);
  return count;
#endif
}

// Bit w set for each word w of a bitmap row that holds a live cell.
static inline uint32_t nonzero_words(const uint64_t* row) {
  static_assert(kRowWords % 2 == 0 && kRowWords < 32, "the row is taken two words at a time");
#if !CORVANTA_SSE2
  uint32_t words = 0;
  for (int32_t w = 0; w < kRowWords; ++w) words |= static_cast<uint32_t>(row[w] != 0) << w;
  return words;
#else
  const __m128i zero = _mm_setzero_si128();
  uint32_t zero_words = 0;
  for (int32_t w = 0; w < kRowWords; w += 2) {
    const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w));
    // Each word's halves ORed together, so that a half's compare speaks for its word.
    const __m128i halves = _mm_or_si128(pair, _mm_shuffle_epi32(pair, _MM_SHUFFLE(2, 3, 0, 1)));
    const int mask = _mm_movemask_pd(_mm_castsi128_pd(_mm_cmpeq_epi32(halves, zero)));
    zero_words |= static_cast<uint32_t>(mask) << w;
  }
  return ~zero_words & ((uint32_t{1} << kRowWords) - 1);
#endif
}

void draw_world_tracked(const World& world, Canvas& canvas) {
  const GridTracker& g = world.index.grid;
  if (!world.index.tracking) {
    draw_world(world, canvas.drawing, canvas.background);
    canvas.painted_valid = 0;
    canvas.changes_known = 0;
    return;
  }
  PixelBuffer& buffer = canvas.drawing;
  const int32_t last = canvas.painted_current;
  if (canvas.painted_valid) {
    const int32_t* painted = canvas.painted[last];
    const int32_t n = canvas.painted_count[last];
    uint8_t* to = &buffer.rgb[0][0][0];
    // One four-byte store a pixel: the fourth byte is the next pixel's red, which is
    // the background's already or is restored by this loop too.
    const uint8_t* c = canvas.background_colour;
    const uint32_t colour = pixel_word(c[0], c[1], c[2], c[0]);
    int32_t i = 0;
    for (; i + 16 < n; ++i) {
      __builtin_prefetch(to + painted[i + 16], 1);
      store_pixel_word(to, painted[i], colour);
    }
    for (; i < n; ++i) store_pixel_word(to, painted[i], colour);
  } else {
    std::memcpy(buffer.rgb, canvas.background.rgb, sizeof(buffer.rgb));
    canvas.painted_count[last] = 0;
  }

  const int32_t now = 1 - last;
  int32_t* list = canvas.painted[now];
  int32_t count = 0;
  bool overflow = false;
  auto mark = [&](int32_t offset) {
    if (count < kPaintedCapacity) {
      list[count++] = offset;
    } else {
      overflow = true;
    }
  };

  // The live cells' pixels go on the list first, row by row so that the picture is
  // then written in memory order.
  if (world.background_level > kCellsShownAbove) {
    const uint8_t blue = cell_blue(world);
    uint8_t* rgb = &buffer.rgb[0][0][0];
    for (int32_t y = 1; y < kWorldHeight - 1; ++y) {
      const uint64_t* row = g.live_rows[y];
      uint32_t words = nonzero_words(row);
      while (words != 0) {
        const int32_t w = __builtin_ctz(words);
        words &= words - 1;
        const uint64_t bits = row[w] & kShownColumns.word[w];
        const int32_t start = (y * kWorldWidth + w * 64) * 3;
        if (count <= kPaintedCapacity - kWordListRoom) {
          count = append_word_pixels(bits, start, list, count);
        } else {
          // Past the list's room: painted at once; the next draw starts over.
          for_each_bit(bits, [&](int32_t bit) {
            paint_at(rgb, start + 3 * bit, 0, 0, blue);
            mark(start + 3 * bit);
          });
        }
      }
    }
    if (canvas.background_colour[0] == 0) {
      // As in the restore: the fourth byte is the next pixel's red, which is the
      // background's red or a live cell's, both 0, unless a sprite paints it later.
      // No cell is drawn on the last row, so every cell's pixel has a next one.
      const uint32_t colour = pixel_word(0, 0, blue, 0);
      for (int32_t i = 0; i < count; ++i) std::memcpy(rgb + list[i], &colour, 4);
    } else {
      for (int32_t i = 0; i < count; ++i) paint_at(rgb, list[i], 0, 0, blue);
    }
  }
  draw_agents(world, buffer, mark);
  canvas.changes_known = canvas.painted_valid && !overflow ? 1 : 0;
  canvas.painted_count[now] = count;
  canvas.painted_current = now;
  canvas.painted_valid = overflow ? 0 : 1;
}

