#include "apps/sim/run_outputs.h"

#include <cstdio>

#include "audio/audio_spectrum.h"
#include "media/y4m_video.h"
#include "world/trace_line.h"

RunOutputs::~RunOutputs() { discard(); }

void RunOutputs::discard() {
  output_discard(trace_);
  output_discard(snapshot_);
  output_discard(y4m_);
  encoded_video_discard(encoded_);
  encoded_ = nullptr;
}

bool RunOutputs::open(const SimOptions& options, const AudioTrack* audio, std::string& error) {
  if (!options.trace_path.empty() && !output_open(trace_, options.trace_path, error)) return false;
  if (!options.snapshot_path.empty() && !output_open(snapshot_, options.snapshot_path, error)) return false;
  if (options.video_path.empty()) return true;
  if (options.video_kind != VideoKind::kY4m) {
    encoded_ = encoded_video_open(options.video_path, options.video_kind, audio, options.frames, options.lossless,
                                  error);
    return encoded_ != nullptr;
  }
  if (!output_open(y4m_, options.video_path, error)) return false;
  const std::string header = y4m_stream_header(kFramesPerSecond);
  output_write(y4m_, header.data(), header.size());
  return true;
}

void RunOutputs::write_trace(const World& world, const PixelBuffer& picture, int32_t population) {
  char line[kTraceLineBytes + 1];
  const int32_t n = format_trace_line(world, picture, population, line);
  line[n] = '\n';
  output_write(trace_, line, static_cast<size_t>(n) + 1);
}

bool RunOutputs::write_video(const PixelBuffer& picture, std::string& error) {
  if (y4m_.file != nullptr) {
    y4m_frame(picture, y4m_frame_);
    output_write(y4m_, y4m_frame_.data(), y4m_frame_.size());
  }
  return encoded_ == nullptr || encoded_video_frame(*encoded_, picture, error);
}

bool RunOutputs::commit(std::string& error) {
  std::vector<std::string> placed;
  bool ok = true;
  for (OutputFile* out : {&trace_, &snapshot_, &y4m_}) {
    if (out->file == nullptr) continue;
    if (!output_commit(*out, error)) {
      ok = false;
      break;
    }
    if (!out->in_place) placed.push_back(out->path);
  }
  if (ok && encoded_ != nullptr) {
    // Committing frees the video whether it succeeds or not.
    EncodedVideo* encoded = encoded_;
    encoded_ = nullptr;
    ok = encoded_video_commit(encoded, error);
  }
  if (!ok) {
    discard();
    for (const std::string& path : placed) std::remove(path.c_str());
  }
  return ok;
}
