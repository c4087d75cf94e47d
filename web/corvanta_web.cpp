// The WebAssembly binding of libcorvanta (include/corvanta/corvanta.h) for the corvanta-web
// package and the page: plain C functions over handles, so one module holds as many
// worlds as a page makes. Each handle carries the buffers the script reads and writes in
// the module's memory (the samples it feeds, a spectrum record, the RGBA picture, the
// trace line), as JavaScript cannot hand the library pointers of its own.
//
// Statuses are libcorvanta's (0 for CORVANTA_OK, negative for an error, whose words
// cw_last_error gives). The script never passes a freed handle: the package keeps each
// pointer until it destroys it.
#include <emscripten/emscripten.h>
#include <malloc.h>

#include <climits>
#include <cstdio>
#include <new>
#include <vector>

#include "corvanta/corvanta.h"

namespace {

struct Handle {
  corvanta* world = nullptr;
  int32_t channels = 0;
  std::vector<float> samples;  // interleaved, filled by the script before cw_feed
  uint8_t spectrum[CORVANTA_SPECTRUM_BYTES] = {};
  std::vector<uint8_t> picture;  // 1000 x 400 RGBA, rows top to bottom, for an ImageData
  char line[CORVANTA_TRACE_LINE_BYTES] = {};
};

// Why the last cw_create failed: there is no handle to keep it on.
char create_error[256];

int32_t picture_change_or_status(corvanta_status status, const corvanta_frame& frame) {
  return status == CORVANTA_OK ? frame.picture : status;
}

}  // namespace

extern "C" {

// A new world: input 0 for sound (channels at sample_rate, window 0 centred or 1
// trailing), 1 for spectrum records. Null when refused; cw_create_error says why.
EMSCRIPTEN_KEEPALIVE Handle* cw_create(int32_t input, uint32_t seed, int32_t seed_from_clock, int32_t sample_rate,
                                       int32_t channels, int32_t window) {
  corvanta_config config;
  corvanta_config_init(&config);
  config.input = input;
  config.seed = seed;
  config.seed_from_clock = seed_from_clock;
  config.sample_rate = sample_rate;
  config.channels = channels;
  config.window = window;
  Handle* handle = new (std::nothrow) Handle;
  if (handle == nullptr) {
    std::snprintf(create_error, sizeof create_error, "out of memory for a world");
    return nullptr;
  }
  if (corvanta_create(&config, &handle->world, create_error, sizeof create_error) != CORVANTA_OK) {
    delete handle;
    return nullptr;
  }
  handle->channels = channels;
  try {
    handle->picture.resize(static_cast<size_t>(CORVANTA_WIDTH) * CORVANTA_HEIGHT * 4);
  } catch (const std::bad_alloc&) {
    corvanta_destroy(handle->world);
    delete handle;
    std::snprintf(create_error, sizeof create_error, "out of memory for a picture");
    return nullptr;
  }
  return handle;
}

EMSCRIPTEN_KEEPALIVE const char* cw_create_error() { return create_error; }

EMSCRIPTEN_KEEPALIVE void cw_destroy(Handle* handle) {
  if (handle == nullptr) return;
  corvanta_destroy(handle->world);
  delete handle;
}

EMSCRIPTEN_KEEPALIVE const char* cw_last_error(const Handle* handle) { return corvanta_last_error(handle->world); }

// Room for `frames` sample frames of interleaved floats, for the script to fill before
// cw_feed; null when memory runs out. Valid until the next call on the handle.
EMSCRIPTEN_KEEPALIVE float* cw_samples(Handle* handle, int32_t frames) {
  const size_t needed = static_cast<size_t>(frames < 0 ? 0 : frames) * handle->channels;
  if (handle->samples.size() < needed) {
    try {
      handle->samples.resize(needed);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return handle->samples.data();
}

// The first `frames` sample frames of cw_samples' room.
EMSCRIPTEN_KEEPALIVE int32_t cw_feed(Handle* handle, int32_t frames) {
  if (frames < 0 || static_cast<size_t>(frames) * handle->channels > handle->samples.size()) {
    return CORVANTA_ERROR_ARGUMENT;
  }
  return corvanta_feed_float(handle->world, handle->samples.data(), frames);
}

EMSCRIPTEN_KEEPALIVE int32_t cw_frames_due(const Handle* handle) {
  const int64_t due = corvanta_frames_due(handle->world);
  return due > INT32_MAX ? INT32_MAX : static_cast<int32_t>(due);
}

EMSCRIPTEN_KEEPALIVE int32_t cw_latency(const Handle* handle) {
  return static_cast<int32_t>(corvanta_latency(handle->world));
}

// Steps the next due frame: its corvanta_picture_change (0 unchanged, 1 or 2 drawn), or
// a negative status.
EMSCRIPTEN_KEEPALIVE int32_t cw_step(Handle* handle) {
  corvanta_frame frame{};
  return picture_change_or_status(corvanta_step(handle->world, &frame), frame);
}

// A spectrum handle's record for the next frame: 1152 bytes for the script to fill.
EMSCRIPTEN_KEEPALIVE uint8_t* cw_spectrum(Handle* handle) { return handle->spectrum; }

// Steps a spectrum handle with its record: as cw_step.
EMSCRIPTEN_KEEPALIVE int32_t cw_step_spectrum(Handle* handle) {
  corvanta_frame frame{};
  return picture_change_or_status(corvanta_step_spectrum(handle->world, handle->spectrum, &frame), frame);
}

EMSCRIPTEN_KEEPALIVE int32_t cw_finish(Handle* handle) { return corvanta_finish(handle->world); }

EMSCRIPTEN_KEEPALIVE int32_t cw_discontinuity(Handle* handle) { return corvanta_discontinuity(handle->world); }

// The current picture copied into the handle's RGBA buffer, which it returns.
EMSCRIPTEN_KEEPALIVE uint8_t* cw_picture(Handle* handle) {
  corvanta_copy_picture(handle->world, handle->picture.data(), CORVANTA_WIDTH * 4, CORVANTA_RGBA);
  return handle->picture.data();
}

// The current frame's line as corvanta-sim --trace writes it, without its newline.
EMSCRIPTEN_KEEPALIVE const char* cw_trace_line(Handle* handle) {
  corvanta_trace_line(handle->world, handle->line, sizeof handle->line);
  return handle->line;
}

EMSCRIPTEN_KEEPALIVE int32_t cw_frame_number(const Handle* handle) {
  return static_cast<int32_t>(corvanta_frame_number(handle->world));
}

EMSCRIPTEN_KEEPALIVE uint32_t cw_seed(const Handle* handle) { return corvanta_seed(handle->world); }

// Bytes of the module's heap in use by live allocations: what a disposed world must give
// back.
EMSCRIPTEN_KEEPALIVE uint32_t cw_heap_in_use() { return static_cast<uint32_t>(mallinfo().uordblks); }

}  // extern "C"
