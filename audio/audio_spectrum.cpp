#include "audio/audio_spectrum.h"

#include <algorithm>
#include <cmath>

#include "audio/spectrum_tables.h"

namespace {

constexpr int32_t kHalf = kAnalysisWindow / 2;
constexpr int32_t kQuarter = kAnalysisWindow / 4;

// cos(2 pi k / kAnalysisWindow) for any k >= 0, from the quarter wave by symmetry:
// sign changes and index arithmetic only, so no rounding beyond the table's.
double cosine_at(int32_t k) {
  k %= kAnalysisWindow;
  if (k > kHalf) k = kAnalysisWindow - k;
  return k > kQuarter ? -kQuarterCosine[kHalf - k] : kQuarterCosine[k];
}

// In place, radix 2, decimation in time over bit-reversed input. Only additions and
// multiplications of doubles with nothing fused (every build has -ffp-contract=off),
// each rounded as IEEE 754 says: the same on every machine.
void transform(SpectrumAnalyser& a) {
  for (int32_t size = 2; size <= kAnalysisWindow; size *= 2) {
    const int32_t half = size / 2;
    const int32_t step = kAnalysisWindow / size;
    for (int32_t start = 0; start < kAnalysisWindow; start += size) {
      for (int32_t j = 0; j < half; ++j) {
        const double wr = a.twiddle_re[j * step];
        const double wi = a.twiddle_im[j * step];
        const int32_t p = start + j;
        const int32_t q = p + half;
        const double tr = a.re[q] * wr - a.im[q] * wi;
        const double ti = a.re[q] * wi + a.im[q] * wr;
        a.re[q] = a.re[p] - tr;
        a.im[q] = a.im[p] - ti;
        a.re[p] = a.re[p] + tr;
        a.im[p] = a.im[p] + ti;
      }
    }
  }
}

}  // namespace

std::string sample_rate_refusal(int64_t sample_rate) {
  return "the sample rate " + std::to_string(sample_rate) + " Hz is outside the " + std::to_string(kMinSampleRate) +
         " to " + std::to_string(kMaxSampleRate) + " Hz Corvanta plays";
}

bool analyser_open(SpectrumAnalyser& analyser, int32_t sample_rate, std::string& error) {
  analyser_close(analyser);
  if (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate) {
    error = sample_rate_refusal(sample_rate);
    return false;
  }
  analyser.sample_rate = sample_rate;

  for (int32_t i = 0; i < kAnalysisWindow; ++i) analyser.window[i] = 0.5 - 0.5 * cosine_at(i);
  for (int32_t k = 0; k < kHalf; ++k) {
    analyser.twiddle_re[k] = cosine_at(k);
    // -sin(2 pi k / N) = -cos(2 pi (k - N / 4) / N)
    analyser.twiddle_im[k] = -cosine_at(k + kAnalysisWindow - kQuarter);
  }
  int32_t bits = 0;
  while ((1 << bits) < kAnalysisWindow) ++bits;
  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    analyser.bit_reversed[i] = r;
  }

  const double fft_hz = static_cast<double>(sample_rate) / kAnalysisWindow;
  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    const double lo = kBinEdgeHz[b] / fft_hz;
    const double hi = kBinEdgeHz[b + 1] / fft_hz;
    // The FFT bins whose centres fall inside [lo, hi); a bin narrower than the FFT's
    // spacing (the low end) takes the one nearest its middle. Division, ceiling and
    // adding one half are exact or correctly rounded everywhere, unlike log or pow.
    int32_t first = static_cast<int32_t>(std::ceil(lo));
    int32_t last = static_cast<int32_t>(std::ceil(hi)) - 1;
    if (first > last) first = last = static_cast<int32_t>(std::floor(0.5 * (lo + hi) + 0.5));
    if (first < 1) first = 1;  // never the DC offset
    if (last > kHalf) last = kHalf;
    analyser.fft_first[b] = first;
    analyser.fft_last[b] = last;  // first > last: above Nyquist, reads 0
  }
  return true;
}

void analyser_close(SpectrumAnalyser& analyser) { analyser.sample_rate = 0; }

int64_t frame_sample_position(int64_t frame, int32_t sample_rate) {
  return frame * sample_rate / kFramesPerSecond;
}

int64_t last_frame_heard(int64_t samples, int32_t sample_rate) {
  if (samples < 0) return -1;
  return (kFramesPerSecond * (samples + 1) - 1) / sample_rate;
}

void analyse_window(SpectrumAnalyser& analyser, const float* samples, int32_t stride, uint8_t* out) {
  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    const int32_t to = analyser.bit_reversed[i];
    analyser.re[to] = static_cast<double>(samples[i * stride]) * analyser.window[i];
    analyser.im[to] = 0.0;
  }
  transform(analyser);

  for (int32_t b = 0; b < kSpectrumChannelBytes; ++b) {
    double loudest = 0.0;
    for (int32_t k = analyser.fft_first[b]; k <= analyser.fft_last[b]; ++k) {
      const double power = analyser.re[k] * analyser.re[k] + analyser.im[k] * analyser.im[k];
      if (power > loudest) loudest = power;
    }
    // The byte is how many of the 255 level steps the power reaches: the truncated
    // 255 / 80 x (dBFS + 80) without a logarithm, compared exactly.
    out[b] = static_cast<uint8_t>(std::upper_bound(kLevelThreshold, kLevelThreshold + 255, loudest) - kLevelThreshold);
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
