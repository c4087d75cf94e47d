// The world for the web page: one World, its Canvas and a spectrum analyser, driven
// from the page's script through plain C functions. The page hands over samples or
// spectrum records; everything that decides a pixel (the spectrum analysis, the frame
// step, the drawing, the digests) is the same C++ as corvanta-sim's.
#include <emscripten/emscripten.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/audio_spectrum.h"
#include "world/frame_step.h"
#include "world/trace_line.h"
#include "world/world_stream.h"

namespace {

// Made once, never freed: the page holds one world for its whole life.
struct Session {
  World world;
  Canvas canvas;
  SpectrumAnalyser analyser;
  AudioTrack track;
  uint8_t spectrum[kSpectrumBytes];
  uint8_t rgba[kWorldHeight][kWorldWidth][4];  // what the page puts on its canvas
  uint32_t seed;
  int32_t population;  // births less deaths, as corvanta-sim counts it
  char trace_line[kTraceLineBytes];
};

Session* session = nullptr;

void copy_pixel(int32_t offset) {
  const uint8_t* from = &session->canvas.drawing.rgb[0][0][0] + offset;
  uint8_t* to = &session->rgba[0][0][0] + offset / 3 * 4;
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

void copy_whole_picture() {
  for (int32_t i = 0; i < kWorldWidth * kWorldHeight; ++i) copy_pixel(3 * i);
}

}  // namespace

extern "C" {

// A fresh world (all white picture) that takes `seed` in its first frame.
EMSCRIPTEN_KEEPALIVE void cv_start(uint32_t seed) {
  if (session == nullptr) session = new Session();
  world_reset(session->world);
  canvas_load_state(session->canvas);
  session->seed = seed;
  session->population = 0;
  std::memset(session->spectrum, 0, sizeof session->spectrum);
  std::memset(session->rgba, 255, sizeof session->rgba);
  copy_whole_picture();
}

// The 1152 bytes the next frame reads; the page writes them, or cv_track_spectrum and
// cv_window_spectrum do.
EMSCRIPTEN_KEEPALIVE uint8_t* cv_spectrum() { return session->spectrum; }

// One frame with the current spectrum. The RGBA picture follows the drawing, touching
// only the pixels the frame changed. Returns the frame count after the step.
EMSCRIPTEN_KEEPALIVE int32_t cv_step() {
  Session& s = *session;
  const FrameReport report = frame_step(s.world, s.canvas, s.spectrum, s.seed);
  s.population += report.births - report.deaths;
  if (report.picture == kPictureRedrawn || (report.picture == kPictureListed && s.canvas.changes_known == 0)) {
    copy_whole_picture();
  } else if (report.picture == kPictureListed) {
    for_each_changed_pixel(s.canvas, copy_pixel);
  }
  return s.world.frame_count;
}

EMSCRIPTEN_KEEPALIVE int32_t cv_frame_count() { return session->world.frame_count; }

// 1000 x 400 RGBA, rows top to bottom, ready for an ImageData.
EMSCRIPTEN_KEEPALIVE uint8_t* cv_rgba() { return &session->rgba[0][0][0]; }

// "<frame_count> <population> <world digest> <picture digest>", as a line of
// corvanta-sim --trace (without its newline).
EMSCRIPTEN_KEEPALIVE const char* cv_trace_line() {
  Session& s = *session;
  format_trace_line(s.world, s.canvas.drawing, s.population, s.trace_line);
  return s.trace_line;
}

// Room for a decoded track of `frames` stereo sample frames at `rate`, interleaved,
// for the page to fill; null when the rate cannot be analysed or memory runs out.
EMSCRIPTEN_KEEPALIVE float* cv_track_prepare(int32_t rate, int32_t frames) {
  Session& s = *session;
  std::string error;
  if (frames < 0 || !analyser_open(s.analyser, rate, error)) return nullptr;
  s.track.sample_rate = rate;
  s.track.frames = frames;
  s.track.samples.assign(static_cast<size_t>(frames) * 2, 0.0f);
  return s.track.samples.data();
}

// Frames that start within the track, as corvanta-sim --audio runs them.
EMSCRIPTEN_KEEPALIVE int32_t cv_track_frames() {
  const AudioTrack& t = session->track;
  return static_cast<int32_t>(last_frame_heard(t.frames - 1, t.sample_rate) + 1);
}

// A digest of the track's samples as the analyser reads them, folded to 32 bits, for
// telling whether two decodings gave the same floats.
EMSCRIPTEN_KEEPALIVE uint32_t cv_track_digest() {
  const std::vector<float>& samples = session->track.samples;
  const uint64_t h = fnv1a_update(kFnvOffsetBasis, reinterpret_cast<const uint8_t*>(samples.data()),
                                  samples.size() * sizeof(float));
  return static_cast<uint32_t>(h ^ (h >> 32));
}

// The spectrum of video frame n of the track: the window centred on its moment.
EMSCRIPTEN_KEEPALIVE void cv_track_spectrum(int32_t frame) {
  track_frame_spectrum(session->analyser, session->track, frame, session->spectrum);
}

// Live input: the analyser for `rate`, and the 2048 interleaved stereo samples of
// one window for the page to fill before cv_window_spectrum.
EMSCRIPTEN_KEEPALIVE float* cv_window_prepare(int32_t rate) {
  std::string error;
  if (!analyser_open(session->analyser, rate, error)) return nullptr;
  return session->analyser.stereo;
}

EMSCRIPTEN_KEEPALIVE void cv_window_spectrum() { analyse_stereo(session->analyser, session->spectrum); }

}  // extern "C"
