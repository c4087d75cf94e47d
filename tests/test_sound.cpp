#include <algorithm>
#include <limits>
#include <vector>

#include "test_support.h"
#include "world/sound.h"

namespace {

void frame(World& w, const std::vector<uint8_t>& spectrum) {
  analyse_bands(w, spectrum.data());
  update_sound_levels(w);
}

}  // namespace

TEST(Sound, SilenceRaisesTheBackgroundBy2UpToTheClamp) {
  auto w = make_world();
  const std::vector<uint8_t> silence(kSpectrumBytes, 0);
  for (int32_t f = 1; f <= 100; ++f) {
    frame(*w, silence);
    EXPECT_EQ(w->sound_level, 255.0f);
    if (f == 77) {
      EXPECT_EQ(w->background_level, 254.0f);
    }
    if (f >= 78) {
      ASSERT_EQ(w->background_level, 255.0f) << "frame " << f;
    }
  }
  for (int32_t b = -1; b <= kBandCount; ++b) EXPECT_EQ(band_level(*w, b), 0.0f) << b;
}

TEST(Sound, BandsSumTheirTenUnsignedBytesOfChannel0Only) {
  auto w = make_world();
  std::vector<uint8_t> spectrum(kSpectrumBytes, 255);  // everything past byte 99 is ignored
  for (int32_t i = 0; i < 100; ++i) spectrum[i] = static_cast<uint8_t>(i / 10 * 25 + i % 10);
  frame(*w, spectrum);
  for (int32_t b = 0; b < kBandCount; ++b) {
    EXPECT_EQ(w->band_sum[b], b * 250 + 45) << b;
    EXPECT_EQ(w->band_peak[b], b * 250 + 45) << b;
    EXPECT_EQ(w->band_stale[b], 0);
    EXPECT_EQ(band_level(*w, b), 1.0f);
  }
}

TEST(Sound, AllTenLevelsAtOneGive153AndTheBackgroundRestsBelowPlus2) {
  const std::vector<uint8_t> ones(kSpectrumBytes, 1);
  const float cases[][3] = {{154, 154, 154}, {156, 154, 154}, {155, 153, 153},
                            {152, 154, 154}, {153, 153, 153}, {100, 102, 104}};
  for (const auto& c : cases) {
    auto w = make_world();
    frame(*w, ones);  // sets every peak to 10
    w->background_level = c[0];
    for (int32_t f = 1; f <= 2; ++f) {
      frame(*w, ones);  // an equal sum is a stale frame, still at level 1
      EXPECT_EQ(w->sound_level, 153.0f);
      EXPECT_EQ(w->background_level, c[f]) << "from " << c[0] << " frame " << f;
    }
    EXPECT_EQ(w->band_peak[0], 10);
    EXPECT_EQ(w->band_stale[0], 2);
  }
}

TEST(Sound, LoudnessSaturatesAtZero) {
  auto w = make_world();
  for (int32_t b = 0; b < kBandCount; ++b) w->band_sum[b] = 30, w->band_peak[b] = 10;  // 3 each
  update_sound_levels(*w);
  EXPECT_EQ(w->sound_level, 0.0f);
  EXPECT_EQ(w->background_level, 98.0f);
}

TEST(Sound, PeaksDecayBy4FromThe501stStaleFrameWhileAbove5) {
  auto w = make_world();
  std::vector<uint8_t> spectrum(kSpectrumBytes, 0);
  spectrum[0] = 100;  // band 0: peak 100
  spectrum[10] = 9;   // band 1: peak 9
  spectrum[20] = 5;   // band 2: peak 5
  frame(*w, spectrum);
  const std::vector<uint8_t> silence(kSpectrumBytes, 0);
  for (int32_t f = 1; f <= 600; ++f) {
    frame(*w, silence);
    // 100, 96, ..., 8, then 4, where it stops.
    const int32_t want0 = f <= 500 ? 100 : std::max(4, 100 - 4 * (f - 500));
    ASSERT_EQ(w->band_peak[0], want0) << "stale frame " << f;
    ASSERT_EQ(w->band_peak[1], f <= 500 ? 9 : 5) << "stale frame " << f;
    ASSERT_EQ(w->band_peak[2], 5) << "stale frame " << f;
    ASSERT_EQ(w->band_stale[0], f);
  }
  spectrum[0] = 0;
  spectrum[1] = 5;  // above the decayed peak: a new peak resets the count
  frame(*w, spectrum);
  EXPECT_EQ(w->band_peak[0], 5);
  EXPECT_EQ(w->band_stale[0], 0);
}

TEST(Sound, LevelIsSumOverPeakAndZeroOutsideTheBandsOrWithoutAPeak) {
  auto w = make_world();
  w->band_sum[4] = 1, w->band_peak[4] = 3;
  w->band_sum[5] = 9, w->band_peak[5] = 5;
  w->band_sum[6] = 6, w->band_peak[6] = -3;
  w->band_sum[7] = 6, w->band_peak[7] = 0;
  EXPECT_EQ(band_level(*w, 4), static_cast<float>(1.0 / 3.0));
  EXPECT_EQ(band_level(*w, 5), 1.8f);
  EXPECT_EQ(band_level(*w, 6), 0.0f);
  EXPECT_EQ(band_level(*w, 7), 0.0f);
  w->band_sum[0] = w->band_peak[0] = 50;
  EXPECT_EQ(band_level(*w, 10), 0.0f);
  EXPECT_EQ(band_level(*w, -1), 0.0f);
}

TEST(Sound, StaleCountStopsAtInt32Max) {
  auto w = make_world();
  w->band_peak[3] = 100;
  w->band_stale[3] = std::numeric_limits<int32_t>::max();
  const std::vector<uint8_t> silence(kSpectrumBytes, 0);
  frame(*w, silence);
  EXPECT_EQ(w->band_stale[3], std::numeric_limits<int32_t>::max());
  EXPECT_EQ(w->band_peak[3], 96);
}
