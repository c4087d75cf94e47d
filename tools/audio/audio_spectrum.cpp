#include "tools/audio/audio_spectrum.h"

#include <fftw3.h>

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

double mel_from_hz(double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); }
double hz_from_mel(double mel) { return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0); }

}  // namespace

double spectrum_bin_edge_hz(int32_t bin) {
  // Two stretches of one mel scale. A single stretch over 20 Hz .. 16 kHz would give
  // the world's 100 bins only 20 .. 540 Hz, and cymbals and most of a voice would
  // never reach it; a linear scale would squeeze all the bass into two bins.
  const double low = mel_from_hz(kLowestHz);
  const double top = mel_from_hz(kWorldTopHz);
  const double high = mel_from_hz(kHighestHz);
  if (bin <= kWorldBins) return hz_from_mel(low + (top - low) * bin / kWorldBins);
  const int32_t upper_bins = kSpectrumChannelBytes - kWorldBins;
  return hz_from_mel(top + (high - top) * (bin - kWorldBins) / upper_bins);
}

bool analyser_open(SpectrumAnalyser& analyser, int32_t sample_rate, std::string& error) {
  analyser_close(analyser);
  if (sample_rate < 1) {
    error = "sample rate " + std::to_string(sample_rate) + " Hz cannot be analysed";
    return false;
  }
  analyser.sample_rate = sample_rate;
  constexpr int32_t kHalf = kAnalysisWindow / 2;
  analyser.input = fftwf_alloc_real(kAnalysisWindow);
  analyser.output = reinterpret_cast<float*>(fftwf_alloc_complex(kHalf + 1));
  if (analyser.input == nullptr || analyser.output == nullptr) {
    analyser_close(analyser);
    error = "out of memory for the spectrum analyser";
    return false;
  }
  // FFTW_ESTIMATE plans the same way every run; a measured plan may pick a different
  // algorithm from run to run, round differently, and so change the world.
  analyser.plan = fftwf_plan_dft_r2c_1d(kAnalysisWindow, analyser.input,
                                        reinterpret_cast<fftwf_complex*>(analyser.output), FFTW_ESTIMATE);
  if (analyser.plan == nullptr) {
    analyser_close(analyser);
    error = "FFTW could not plan a transform of " + std::to_string(kAnalysisWindow) + " samples";
    return false;
  }

  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    analyser.window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * i / kAnalysisWindow));
  }

  const double fft_hz = static_cast<double>(sample_rate) / kAnalysisWindow;
  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    const double lo = spectrum_bin_edge_hz(b);
    const double hi = spectrum_bin_edge_hz(b + 1);
    // The FFT bins whose centres fall inside [lo, hi); a bin narrower than the FFT's
    // spacing (the low end) takes the one nearest its middle.
    int32_t first = static_cast<int32_t>(std::ceil(lo / fft_hz));
    int32_t last = static_cast<int32_t>(std::ceil(hi / fft_hz)) - 1;
    if (first > last) first = last = static_cast<int32_t>(std::lround(0.5 * (lo + hi) / fft_hz));
    if (first < 1) first = 1;  // never the DC offset
    if (last > kHalf) last = kHalf;
    analyser.fft_first[b] = first;
    analyser.fft_last[b] = last;  // first > last: above Nyquist, reads 0
  }
  return true;
}

void analyser_close(SpectrumAnalyser& analyser) {
  if (analyser.plan != nullptr) fftwf_destroy_plan(analyser.plan);
  if (analyser.input != nullptr) fftwf_free(analyser.input);
  if (analyser.output != nullptr) fftwf_free(analyser.output);
  analyser.plan = nullptr;
  analyser.input = nullptr;
  analyser.output = nullptr;
}

int64_t frame_sample_position(int64_t frame, int32_t sample_rate) {
  return frame * sample_rate / kFramesPerSecond;
}

int64_t last_frame_heard(int64_t samples, int32_t sample_rate) {
  if (samples < 0) return -1;
  return (kFramesPerSecond * (samples + 1) - 1) / sample_rate;
}

void analyse_window(SpectrumAnalyser& analyser, const float* samples, int32_t stride, uint8_t* out) {
  for (int32_t i = 0; i < kAnalysisWindow; ++i) analyser.input[i] = samples[i * stride] * analyser.window[i];
  fftwf_execute(analyser.plan);

  // A full-scale sine at a bin centre has |X| = amplitude x (sum of the window) / 2,
  // so this reference makes such a sine read 0 dBFS.
  const double window_sum = kAnalysisWindow / 2.0;
  const double reference_db = 20.0 * std::log10(2.0 / window_sum);
  const float* spectrum = analyser.output;
  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    float loudest = 0.0f;
    for (int32_t k = analyser.fft_first[b]; k <= analyser.fft_last[b]; ++k) {
      const float re = spectrum[2 * k];
      const float im = spectrum[2 * k + 1];
      const float power = re * re + im * im;
      if (power > loudest) loudest = power;
    }
    if (loudest <= 0.0f) {
      out[b] = 0;
      continue;
    }
    const double db = 10.0 * std::log10(static_cast<double>(loudest)) + reference_db;
    const double scaled = 255.0 * (db - kFloorDb) / -kFloorDb;
    out[b] = scaled <= 0.0 ? 0 : (scaled >= 255.0 ? 255 : static_cast<uint8_t>(scaled));
  }
}

void analyse_stereo(SpectrumAnalyser& analyser, uint8_t out[kSpectrumBytes]) {
  analyse_window(analyser, analyser.stereo, 2, out);
  analyse_window(analyser, analyser.stereo + 1, 2, out + kSpectrumChannelBytes);
}

void track_frame_spectrum(SpectrumAnalyser& analyser, const AudioTrack& track, int64_t frame,
                          uint8_t out[kSpectrumBytes]) {
  const int64_t start = frame_sample_position(frame, track.sample_rate) - kAnalysisWindow / 2;
  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    const int64_t s = start + i;
    const bool inside = s >= 0 && s < track.frames;
    analyser.stereo[2 * i] = inside ? track.samples[static_cast<size_t>(2 * s)] : 0.0f;
    analyser.stereo[2 * i + 1] = inside ? track.samples[static_cast<size_t>(2 * s + 1)] : 0.0f;
  }
  analyse_stereo(analyser, out);
}
