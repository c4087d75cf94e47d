// The audio-to-spectrum module on generated signals: where frequencies land, the
// loudness scale, frame timing, the two channels, decoding files, and what the world's
// ten bands make of music.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "signals.h"
#include "wav_file.h"
#include "audio/audio_spectrum.h"
#include "audio/audio_file.h"
#include "audio/spectrum_tables.h"
#include "world/sound.h"
#include "world/world_state.h"

namespace {

constexpr int32_t kRate = 44100;

AudioTrack make_track(std::vector<float> samples, int32_t rate = kRate) {
  AudioTrack track;
  track.sample_rate = rate;
  track.frames = static_cast<int64_t>(samples.size() / 2);
  track.samples = std::move(samples);
  track.name = "generated";
  return track;
}

struct Spectrum {
  uint8_t bytes[kSpectrumBytes];
  int32_t band_sum(int32_t band) const {
    int32_t sum = 0;
    for (int32_t i = 0; i < kBandBins; ++i) sum += bytes[band * kBandBins + i];
    return sum;
  }
  int32_t loudest_bin(int32_t channel) const {
    const uint8_t* c = bytes + channel * kSpectrumChannelBytes;
    return static_cast<int32_t>(std::max_element(c, c + kSpectrumChannelBytes) - c);
  }
  int32_t channel_max(int32_t channel) const {
    const uint8_t* c = bytes + channel * kSpectrumChannelBytes;
    return *std::max_element(c, c + kSpectrumChannelBytes);
  }
};

class AudioSpectrum : public ::testing::Test {
 protected:
  void SetUp() override { open(kRate); }
  void TearDown() override { analyser_close(*analyser); }
  void open(int32_t rate) {
    std::string error;
    ASSERT_TRUE(analyser_open(*analyser, rate, error)) << error;
  }
  Spectrum at(const AudioTrack& track, int64_t frame) {
    Spectrum s;
    track_frame_spectrum(*analyser, track, frame, s.bytes);
    return s;
  }
  std::unique_ptr<SpectrumAnalyser> analyser{new SpectrumAnalyser()};
};

std::string temp_path(const std::string& name) {
  return ::testing::TempDir() + "corvanta-audio-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

TEST(SpectrumScale, BinEdgesRiseFromTwentyHertzAndTheWorldsBinsEndAtFourKilohertz) {
  EXPECT_NEAR(kBinEdgeHz[0], kLowestHz, 1e-9);
  EXPECT_NEAR(kBinEdgeHz[kWorldBins], kWorldTopHz, 1e-6);
  EXPECT_NEAR(kBinEdgeHz[kSpectrumChannelBytes], kHighestHz, 1e-6);
  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    EXPECT_LT(kBinEdgeHz[b], kBinEdgeHz[b + 1]) << "bin " << b;
  }
  // Band 0 holds the bass and the kick drum, band 9 the presence of a voice.
  EXPECT_GT(kBinEdgeHz[kBandBins], 120.0);
  EXPECT_LT(kBinEdgeHz[kBandBins], 250.0);
  EXPECT_GT(kBinEdgeHz[9 * kBandBins], 2500.0);
}

TEST(SpectrumScale, TheKeptTablesAreTheMathsTheyStandFor) {
  // The tables replace sin, log10 and pow at run time; a table made wrong, or out of
  // step with the constants in audio_spectrum.h, shows here.
  for (int32_t k = 0; k <= kAnalysisWindow / 4; ++k) {
    ASSERT_NEAR(kQuarterCosine[k], std::cos(2.0 * M_PI * k / kAnalysisWindow), 1e-15) << "k " << k;
  }
  const auto mel = [](double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); };
  for (int32_t b = 0; b <= kWorldBins; ++b) {
    const double expected = mel(kLowestHz) + (mel(kWorldTopHz) - mel(kLowestHz)) * b / kWorldBins;
    ASSERT_NEAR(mel(kBinEdgeHz[b]), expected, 1e-9) << "bin " << b;
  }
  for (int32_t b = kWorldBins; b <= kSpectrumChannelBytes; ++b) {
    const double expected = mel(kWorldTopHz) + (mel(kHighestHz) - mel(kWorldTopHz)) * (b - kWorldBins) /
                                                   (kSpectrumChannelBytes - kWorldBins);
    ASSERT_NEAR(mel(kBinEdgeHz[b]), expected, 1e-9) << "bin " << b;
  }
  // Byte k from k x 80 / 255 dB above the floor, where a full-scale sine at a bin
  // centre has the power (window sum / 2)^2.
  const double full_scale = 10.0 * std::log10((kAnalysisWindow / 4.0) * (kAnalysisWindow / 4.0));
  for (int32_t k = 1; k <= 255; ++k) {
    ASSERT_NEAR(10.0 * std::log10(kLevelThreshold[k - 1]) - full_scale, kFloorDb * (255 - k) / 255.0, 1e-9) << k;
  }
}

TEST_F(AudioSpectrum, TheTransformIsTheWindowedFourierTransform) {
  // A direct sum in long double over a signal with every kind of content: each FFT bin
  // agrees to far below what a spectrum byte can tell.
  std::vector<float> samples(kAnalysisWindow);
  uint32_t x = 12345;
  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    x = x * 1664525u + 1013904223u;
    samples[i] = static_cast<float>(std::sin(0.3 * i) * 0.5 + (static_cast<int32_t>(x >> 8) % 2001 - 1000) / 4000.0);
  }
  uint8_t out[kSpectrumChannelBytes];
  analyse_window(*analyser, samples.data(), 1, out);
  for (int32_t k : {0, 1, 2, 97, 98, 511, 512, 1000, 1023, 1024}) {
    long double re = 0;
    long double im = 0;
    for (int32_t i = 0; i < kAnalysisWindow; ++i) {
      const long double w = 0.5L - 0.5L * std::cos(2.0L * M_PI * i / kAnalysisWindow);
      const long double angle = -2.0L * M_PI * static_cast<long double>(k) * i / kAnalysisWindow;
      re += samples[i] * w * std::cos(angle);
      im += samples[i] * w * std::sin(angle);
    }
    EXPECT_NEAR(analyser->re[k], static_cast<double>(re), 1e-9) << "bin " << k;
    EXPECT_NEAR(analyser->im[k], static_cast<double>(im), 1e-9) << "bin " << k;
  }
}

TEST(SpectrumScale, VideoFramesAndSamplePositionsAgreeAtEveryRate) {
  for (int32_t rate : {8000, 11025, 22050, 44100, 48000, 96000}) {
    for (int64_t n = 0; n < 2000; ++n) {
      const int64_t p = frame_sample_position(n, rate);
      ASSERT_EQ(last_frame_heard(p, rate), n) << rate << " Hz, frame " << n;
      ASSERT_EQ(last_frame_heard(frame_sample_position(n + 1, rate) - 1, rate), n) << rate << " Hz, frame " << n;
    }
    // An hour in, still exact: 144000 frames are 3600 s.
    EXPECT_EQ(frame_sample_position(144000, rate), static_cast<int64_t>(3600) * rate);
  }
  EXPECT_EQ(last_frame_heard(-1, kRate), -1);
}

TEST_F(AudioSpectrum, SilenceGivesZerosInBothChannels) {
  const AudioTrack track = make_track(std::vector<float>(2 * kRate * 2, 0.0f));
  for (int64_t frame : {0, 1, 40, 79}) {
    const Spectrum s = at(track, frame);
    EXPECT_EQ(s.channel_max(0), 0) << "frame " << frame;
    EXPECT_EQ(s.channel_max(1), 0) << "frame " << frame;
  }
}

TEST_F(AudioSpectrum, ASixtyHertzToneLightsBandZeroMost) {
  const AudioTrack track = make_track(tone_audio(kRate, 60.0, 2.0, 0.5));
  const Spectrum s = at(track, 40);
  const int32_t band0 = s.band_sum(0);
  for (int32_t band = 1; band < kBandCount; ++band) {
    EXPECT_GT(band0, 2 * s.band_sum(band)) << "band " << band;
  }
  EXPECT_LT(s.loudest_bin(0), kBandBins);
  EXPECT_GE(s.channel_max(0), 230);  // -6 dBFS
}

TEST_F(AudioSpectrum, BytesFollowDecibelsDownToTheFloor) {
  // 255 at full scale, 255 / 80 per dB below it, 0 from -80 dBFS down.
  const double hz = 1000.0;
  const Spectrum full = at(make_track(tone_audio(kRate, hz, 1.0, 1.0)), 20);
  const Spectrum minus40 = at(make_track(tone_audio(kRate, hz, 1.0, 0.01)), 20);
  const Spectrum minus90 = at(make_track(tone_audio(kRate, hz, 1.0, 0.0000316)), 20);
  EXPECT_GE(full.channel_max(0), 250);
  EXPECT_NEAR(full.channel_max(0) - minus40.channel_max(0), 127.5, 2.0);
  EXPECT_EQ(minus90.channel_max(0), 0);
  EXPECT_EQ(full.loudest_bin(0), minus40.loudest_bin(0));
  // 1 kHz sits where the scale says.
  const int32_t bin = full.loudest_bin(0);
  EXPECT_LE(kBinEdgeHz[bin] - 25.0, hz);
  EXPECT_GE(kBinEdgeHz[bin + 1] + 25.0, hz);
}

TEST_F(AudioSpectrum, ARisingSweepMovesAcrossTheBins) {
  // 30 Hz to 12 kHz in 8 s: the loudest bin climbs with it, through every band of the
  // world and beyond.
  const AudioTrack track = make_track(sweep_audio(kRate, 30.0, 12000.0, 8.0, 0.5));
  int32_t previous = -1;
  int32_t first = -1;
  for (int64_t frame = 2; frame < 8 * kFramesPerSecond - 2; ++frame) {
    const int32_t bin = at(track, frame).loudest_bin(0);
    if (first < 0) first = bin;
    EXPECT_GE(bin, previous) << "frame " << frame;
    previous = bin;
  }
  EXPECT_LT(first, kBandBins);
  EXPECT_GT(previous, 450);
}

TEST_F(AudioSpectrum, EachFrameHearsItsOwnMoment) {
  // Silence, then a tone from exactly 2 s: frame 80 is shown at 2 s and its window,
  // centred there, hears the tone; frame 78, 50 ms before, does not.
  std::vector<float> samples(static_cast<size_t>(2 * 3 * kRate), 0.0f);
  const std::vector<float> tone = tone_audio(kRate, 440.0, 1.0, 0.5);
  std::copy(tone.begin(), tone.end(), samples.begin() + 2 * 2 * kRate);
  const AudioTrack track = make_track(std::move(samples));
  EXPECT_EQ(at(track, 78).channel_max(0), 0);
  EXPECT_EQ(at(track, 79).channel_max(0), 0);  // its window ends 2 ms short of the tone
  EXPECT_GT(at(track, 80).channel_max(0), 200);
  // Past the end the window hears silence, not whatever lies beyond the samples.
  EXPECT_GT(at(track, 119).channel_max(0), 150);
  EXPECT_EQ(at(track, 122).channel_max(0), 0);
}

TEST_F(AudioSpectrum, ChannelZeroIsTheLeftAndChannelOneTheRight) {
  std::vector<float> samples = tone_audio(kRate, 200.0, 1.0, 0.5);
  const std::vector<float> high = tone_audio(kRate, 3000.0, 1.0, 0.5);
  for (size_t i = 1; i < samples.size(); i += 2) samples[i] = high[i];
  const Spectrum s = at(make_track(std::move(samples)), 20);
  EXPECT_LT(s.loudest_bin(0), 20);
  EXPECT_GT(s.loudest_bin(1), 80);
  EXPECT_LT(s.loudest_bin(1), kWorldBins);
}

TEST_F(AudioSpectrum, BinsAboveTheNyquistFrequencyStayZero) {
  // At 16 kHz sampling nothing above 8 kHz exists: those bins read 0 however loud the
  // music, and every bin below has FFT bins to read.
  open(16000);
  std::vector<float> samples = music_audio(16000, 4.0);
  const Spectrum s = at(make_track(std::move(samples), 16000), 100);
  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    if (kBinEdgeHz[b] >= 8000.0) {
      ASSERT_EQ(s.bytes[b], 0) << "bin " << b;
      ASSERT_EQ(analyser->fft_first[b] > analyser->fft_last[b], true) << "bin " << b;
    } else {
      ASSERT_GE(analyser->fft_first[b], 1) << "bin " << b;
      ASSERT_LE(analyser->fft_first[b], analyser->fft_last[b]) << "bin " << b;
    }
  }
}

TEST_F(AudioSpectrum, MusicMovesEveryBandTheWorldReads) {
  // Bass, drums and voice between them reach all ten bands, and the world's loudness
  // follows the music's sections instead of sitting still.
  const AudioTrack track = make_track(music_audio(kRate, 40.0));
  std::unique_ptr<World> world(new World);
  world_reset(*world);
  float quietest = 255.0f;
  float loudest = 0.0f;
  int32_t band_min[kBandCount];
  int32_t band_max[kBandCount];
  std::fill(band_min, band_min + kBandCount, 1 << 30);
  std::fill(band_max, band_max + kBandCount, 0);
  for (int64_t frame = 0; frame < 40 * kFramesPerSecond; ++frame) {
    const Spectrum s = at(track, frame);
    analyse_bands(*world, s.bytes);
    update_sound_levels(*world);
    if (frame > 8 * kFramesPerSecond) {  // after the intro, which has no drums
      quietest = std::min(quietest, world->sound_level);
      loudest = std::max(loudest, world->sound_level);
      for (int32_t b = 0; b < kBandCount; ++b) {
        band_min[b] = std::min(band_min[b], world->band_sum[b]);
        band_max[b] = std::max(band_max[b], world->band_sum[b]);
      }
    }
  }
  for (int32_t b = 0; b < kBandCount; ++b) {
    EXPECT_GT(band_max[b], 600) << "band " << b;
    EXPECT_GT(band_max[b] - band_min[b], 150) << "band " << b;
  }
  EXPECT_GT(loudest - quietest, 10.0f);
}

TEST(AudioTrackFile, MonoFillsBothChannelsAndExtraChannelsAreDropped) {
  for (int channels : {1, 4}) {
    const std::string path = temp_path("channels.wav");
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> data(static_cast<size_t>(100 * channels));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i % channels + 1) / 8.0f;
    ASSERT_EQ(sf_writef_float(file, data.data(), 100), 100);
    sf_close(file);

    AudioTrack track;
    std::string error;
    ASSERT_TRUE(audio_track_load(path, track, error)) << error;
    ASSERT_EQ(track.frames, 100);
    EXPECT_FLOAT_EQ(track.samples[0], 1.0f / 8);
    EXPECT_FLOAT_EQ(track.samples[1], channels == 1 ? 1.0f / 8 : 2.0f / 8);
    EXPECT_FLOAT_EQ(track.samples[198], 1.0f / 8);
    std::remove(path.c_str());
  }
}

TEST(AudioTrackFile, UnusableFilesAreRefusedWithTheirName) {
  AudioTrack track;
  std::string error;
  const std::string missing = temp_path("missing.wav");
  EXPECT_FALSE(audio_track_load(missing, track, error));
  EXPECT_NE(error.find(missing), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  const std::string text = temp_path("notes.txt");
  FILE* f = std::fopen(text.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("these are not the sounds you are looking for\n", f);
  std::fclose(f);
  EXPECT_FALSE(audio_track_load(text, track, error));
  EXPECT_NE(error.find("not audio"), std::string::npos) << error;
  std::remove(text.c_str());

  const std::string empty = temp_path("empty.wav");
  ASSERT_TRUE(audio_write_wav(empty, 44100, {}, error)) << error;
  EXPECT_FALSE(audio_track_load(empty, track, error));
  EXPECT_NE(error.find("no audio"), std::string::npos) << error;
  std::remove(empty.c_str());

  EXPECT_FALSE(audio_track_load(::testing::TempDir(), track, error));
  EXPECT_NE(error.find("not a file"), std::string::npos) << error;
}
