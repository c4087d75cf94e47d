#include "audio/audio_stream.h"

#include <algorithm>

namespace {

constexpr int64_t kHalfWindow = kAnalysisWindow / 2;
// The 16-bit scale: full negative scale reads -1.0 exactly, as libsndfile reads it.
constexpr float kInt16Scale = 32768.0f;

// The first sample frame frame k's window reads.
int64_t window_start(const AudioStream& stream, int64_t frame) {
  const int64_t moment = frame_sample_position(frame, stream.analyser.sample_rate);
  return stream.alignment == WindowAlignment::kCentred ? moment - kHalfWindow : moment - kAnalysisWindow;
}

// The last frame that can be analysed with what has arrived: -1 for none.
int64_t last_frame_due(const AudioStream& stream) {
  const int32_t rate = stream.analyser.sample_rate;
  if (stream.alignment == WindowAlignment::kTrailing) return last_frame_heard(stream.received, rate);
  // A frame whose moment lies within the stream, once the stream has ended; before
  // that, one whose whole window has arrived.
  return stream.finished ? last_frame_heard(stream.received - 1, rate)
                         : last_frame_heard(stream.received - kHalfWindow, rate);
}

// Room for `frames` more stereo frames at the end of what is held, or null when the
// stream has ended or would hold too much.
float* make_room(AudioStream& stream, int64_t frames) {
  const int64_t held = static_cast<int64_t>(stream.held.size() / 2);
  if (stream.finished || frames < 0 || frames > kMaxHeldFrames - held) return nullptr;
  stream.held.resize(static_cast<size_t>(held + frames) * 2);  // grows geometrically
  return stream.held.data() + 2 * held;
}

// Drops the samples no frame from next_frame on reads. The held samples move down only
// once at least half of them are dropped, so each sample moves at most once on average.
void drop_read_samples(AudioStream& stream) {
  const int64_t needed_from = window_start(stream, stream.next_frame);
  const int64_t droppable = std::min<int64_t>(needed_from - stream.held_from, stream.received - stream.held_from);
  const int64_t held = static_cast<int64_t>(stream.held.size() / 2);
  if (droppable <= 0 || droppable * 2 < held) return;
  stream.held.erase(stream.held.begin(), stream.held.begin() + static_cast<std::ptrdiff_t>(droppable * 2));
  stream.held_from += droppable;
}

// The first two channels of each sample frame (the one channel twice for mono), as floats.
template <typename Sample, typename ToFloat>
bool feed_stereo(AudioStream& stream, const Sample* samples, int64_t frames, ToFloat to_float) {
  float* to = make_room(stream, frames);
  if (to == nullptr) return false;
  const int64_t channels = stream.channels;
  const int64_t right = channels > 1 ? 1 : 0;
  for (int64_t i = 0; i < frames; ++i) {
    to[2 * i] = to_float(samples[i * channels]);
    to[2 * i + 1] = to_float(samples[i * channels + right]);
  }
  stream.received += frames;
  return true;
}

}  // namespace

bool audio_stream_open(AudioStream& stream, int32_t sample_rate, int32_t channels, WindowAlignment alignment,
                       std::string& error) {
  if (channels < 1 || channels > kMaxChannels) {
    error = std::to_string(channels) + " channels: a stream has 1 to " + std::to_string(kMaxChannels);
    return false;
  }
  if (!analyser_open(stream.analyser, sample_rate, error)) return false;
  stream.channels = channels;
  stream.alignment = alignment;
  audio_stream_restart(stream);
  return true;
}

bool audio_stream_feed_float(AudioStream& stream, const float* samples, int64_t frames) {
  return feed_stereo(stream, samples, frames, [](float sample) { return sample; });
}

bool audio_stream_feed_int16(AudioStream& stream, const int16_t* samples, int64_t frames) {
  return feed_stereo(stream, samples, frames, [](int16_t sample) { return static_cast<float>(sample) / kInt16Scale; });
}

int64_t audio_stream_frames_due(const AudioStream& stream) {
  const int64_t due = last_frame_due(stream) + 1 - stream.next_frame;
  return due > 0 ? due : 0;
}

void audio_stream_next_spectrum(AudioStream& stream, uint8_t out[kSpectrumBytes]) {
  const int64_t start = window_start(stream, stream.next_frame);
  float* stereo = stream.analyser.stereo;
  for (int32_t i = 0; i < kAnalysisWindow; ++i) {
    const int64_t s = start + i;
    const bool inside = s >= stream.held_from && s < stream.received;
    const size_t at = static_cast<size_t>(2 * (s - stream.held_from));
    stereo[2 * i] = inside ? stream.held[at] : 0.0f;
    stereo[2 * i + 1] = inside ? stream.held[at + 1] : 0.0f;
  }
  analyse_stereo(stream.analyser, out);
  ++stream.next_frame;
  drop_read_samples(stream);
}

void audio_stream_finish(AudioStream& stream) { stream.finished = true; }

void audio_stream_restart(AudioStream& stream) {
  stream.held.clear();
  stream.held_from = 0;
  stream.received = 0;
  stream.next_frame = 0;
  stream.finished = false;
}

int64_t audio_stream_latency(const AudioStream& stream) {
  return stream.alignment == WindowAlignment::kCentred ? kHalfWindow : 0;
}
