#pragma once
// The files a run of corvanta-sim writes as it goes: the trace, the world snapshot and
// the video (Y4M, or compressed through FFmpeg). Each is written under FILE.tmp; they
// come into place together or not at all, so a run that fails at any point, even while
// moving its files into place, leaves none of them behind.
#include <cstdint>
#include <string>
#include <vector>

#include "apps/sim/sim_options.h"
#include "audio/audio_track.h"
#include "media/encoded_video.h"
#include "media/output_file.h"
#include "world/renderer.h"
#include "world/world_state.h"

class RunOutputs {
 public:
  RunOutputs() = default;
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  // Uncommitted, whatever was opened is removed.
  ~RunOutputs();

  // Opens every output the options ask for, so that a bad path or a missing encoder
  // costs no run time; `audio` (may be null) is the sound a compressed video carries.
  bool open(const SimOptions& options, const AudioTrack* audio, std::string& error);

  bool tracing() const { return trace_.file != nullptr; }
  void write_trace(const World& world, const PixelBuffer& picture, int32_t population);
  void write_snapshot(const World& world) { output_world_stream(snapshot_, world); }
  // The frame's picture into the video, if there is one.
  bool write_video(const PixelBuffer& picture, std::string& error);

  // Moves every file into place in turn: trace, snapshot, video. If one fails, those
  // already moved are removed again and the rest discarded.
  bool commit(std::string& error);

 private:
  void discard();

  OutputFile trace_;
  OutputFile snapshot_;
  OutputFile y4m_;
  EncodedVideo* encoded_ = nullptr;  // .mp4, .webm
  std::vector<uint8_t> y4m_frame_;   // reused from frame to frame
};
