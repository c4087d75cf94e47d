#pragma once
// Turns PCM audio into the 2 x 576-byte spectrum frames the plug-in gets from its
// host, so the same world can be driven by any audio file or a live input.
// docs/audio-spectrum.md explains the scale; in short: bins follow a mel scale, the
// first 100 (all the world ever reads) spread over 20 Hz .. 4 kHz, the other 476 over
// 4 .. 16 kHz; each byte is the loudest FFT magnitude in the bin, 0 at -80 dBFS or
// below, 255 at full scale. Every constant comes from audio/spectrum_tables and
// every step is plain IEEE arithmetic, so the native and the WebAssembly builds give
// the same bytes for the same samples.
#include <cstdint>
#include <string>

#include "audio/audio_track.h"
#include "world/sound.h"

// Samples per FFT: 46 ms at 44.1 kHz, 21.5 Hz apart, so 60 Hz and 80 Hz fall in
// different FFT bins yet a drum hit still shows in the frame it is heard in.
constexpr int32_t kAnalysisWindow = 2048;
// Video frames per second of audio: the plug-in's usual rate in its host.
constexpr int32_t kFramesPerSecond = 40;
// The bins the world reads (channel 0, ten bands of ten), and where they end. The
// bin edges and level steps in audio/spectrum_tables.cpp are made from these
// by audio/make_spectrum_tables.py, which holds its own copy of them.
constexpr int32_t kWorldBins = kBandCount * kBandBins;
constexpr double kLowestHz = 20.0;
constexpr double kWorldTopHz = 4000.0;
constexpr double kHighestHz = 16000.0;
// The quietest level that still reads above 0.
constexpr double kFloorDb = -80.0;

// The sample rates the analysis takes, in Hz: from telephone sound to the highest rate
// players use. Outside them the window would span seconds or a fraction of a cycle.
constexpr int32_t kMinSampleRate = 8000;
constexpr int32_t kMaxSampleRate = 192000;
// The one message every front end gives for a rate outside that range.
std::string sample_rate_refusal(int64_t sample_rate);

struct SpectrumAnalyser;
// Forgets the sample rate; the analyser holds no other resources.
void analyser_close(SpectrumAnalyser& analyser);

// The FFT's factors, the window and the bin map for one sample rate, and the buffers
// of one transform. Some 100 kB: keep it with the rest of the long-lived state.
struct SpectrumAnalyser {
  int32_t sample_rate = 0;
  double window[kAnalysisWindow];  // periodic Hann
  // e^(-2 pi i k / kAnalysisWindow), k = 0 .. kAnalysisWindow / 2 - 1.
  double twiddle_re[kAnalysisWindow / 2];
  double twiddle_im[kAnalysisWindow / 2];
  int32_t bit_reversed[kAnalysisWindow];
  double re[kAnalysisWindow];  // the transform, in place
  double im[kAnalysisWindow];
  // Spectrum bin b takes the loudest of FFT bins fft_first[b] .. fft_last[b];
  // fft_first[b] > fft_last[b] for bins above the file's Nyquist frequency.
  int32_t fft_first[kSpectrumChannelBytes];
  int32_t fft_last[kSpectrumChannelBytes];
  // One stereo window, interleaved, gathered from a track or a live buffer.
  float stereo[2 * kAnalysisWindow];
};

// Prepares the FFT and the bin map for one sample rate; false with sample_rate_refusal's
// message for a rate outside kMinSampleRate .. kMaxSampleRate.
bool analyser_open(SpectrumAnalyser& analyser, int32_t sample_rate, std::string& error);

// The sample frame heard at the start of video frame n: n / 40 s, rounded down.
int64_t frame_sample_position(int64_t frame, int32_t sample_rate);
// The last video frame whose start has been heard once `samples` frames have played.
int64_t last_frame_heard(int64_t samples, int32_t sample_rate);

// One channel: kAnalysisWindow samples, stride apart, to 576 bytes.
void analyse_window(SpectrumAnalyser& analyser, const float* samples, int32_t stride, uint8_t* out);

// Both channels of the interleaved stereo window in analyser.stereo.
void analyse_stereo(SpectrumAnalyser& analyser, uint8_t out[kSpectrumBytes]);

// The spectrum frame for video frame n of a track: the window centred on the moment
// the frame is shown, silence before the start and after the end.
void track_frame_spectrum(SpectrumAnalyser& analyser, const AudioTrack& track, int64_t frame,
                          uint8_t out[kSpectrumBytes]);
