#pragma once
// Sound that arrives in pieces, turned into one spectrum per video frame exactly as a
// whole track is (track_frame_spectrum): frame k's window is placed by the frame's
// moment pos_k = floor(k * rate / 40) sample frames into the stream, so however a host
// cuts the sound, the same samples give the same spectra and the same world.
//
// Two placements of the window:
//   centred   samples pos_k - 1024 .. pos_k + 1023, as for files: frame k can be
//             analysed once pos_k + 1024 samples have arrived (or the stream has ended:
//             past its end is silence). The look-ahead is half a window.
//   trailing  samples pos_k - 2048 .. pos_k - 1, ending at the frame's moment, as for
//             live sound: frame k can be analysed once pos_k samples have arrived.
// Before the stream's first sample is silence, in both.
//
// The samples a later frame still needs are kept, and no others, so a host that steps
// what is due keeps a few thousand samples; one that feeds far ahead keeps what it fed,
// up to kMaxHeldFrames.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_spectrum.h"

enum class WindowAlignment { kCentred, kTrailing };

// The most sample frames a stream keeps unanalysed: some 50 minutes at 44.1 kHz, 512 MB
// of floats. Feeding beyond it is refused until frames are taken.
constexpr int64_t kMaxHeldFrames = int64_t{1} << 26;
// The channels a stream takes; of more than two the first two are heard.
constexpr int32_t kMaxChannels = 256;

struct AudioStream {
  SpectrumAnalyser analyser;
  int32_t channels = 0;
  WindowAlignment alignment = WindowAlignment::kCentred;
  // Interleaved stereo; held[0] is sample frame held_from of the stream.
  std::vector<float> held;
  int64_t held_from = 0;
  int64_t received = 0;    // sample frames fed since the stream began
  int64_t next_frame = 0;  // the stream's next frame to analyse
  bool finished = false;   // no more samples: past the end is silence
};

// Prepares a stream of `channels` channels at `sample_rate` Hz. False with a message for
// a rate outside kMinSampleRate .. kMaxSampleRate or channels outside 1 .. kMaxChannels.
bool audio_stream_open(AudioStream& stream, int32_t sample_rate, int32_t channels, WindowAlignment alignment,
                       std::string& error);

// Interleaved samples, `frames` sample frames of the stream's channel count: floats as
// they are (values that are not finite included, which make every byte of their
// channel's spectrum 255 in the frames whose window holds them), 16-bit integers as
// x / 32768. Mono is heard on both channels. False, taking nothing, when the stream
// has finished or would hold more than kMaxHeldFrames.
bool audio_stream_feed_float(AudioStream& stream, const float* samples, int64_t frames);
bool audio_stream_feed_int16(AudioStream& stream, const int16_t* samples, int64_t frames);

// Frames that can be analysed now, in order, from next_frame on.
int64_t audio_stream_frames_due(const AudioStream& stream);

// The spectrum of the next frame, which must be due; moves on to the frame after it.
void audio_stream_next_spectrum(AudioStream& stream, uint8_t out[kSpectrumBytes]);

// The end of the stream: every frame whose moment lies within it becomes due, its
// window reading silence past the end.
void audio_stream_finish(AudioStream& stream);

// A new stream at the same rate (a seek, a new song): the samples held and the frames
// not yet analysed are dropped, and the next frame is the new stream's first.
void audio_stream_restart(AudioStream& stream);

// How many sample frames a frame's window reaches past the frame's moment: a host
// showing frame k at its moment shows it this late.
int64_t audio_stream_latency(const AudioStream& stream);
