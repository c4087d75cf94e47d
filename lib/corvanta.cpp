// The C interface: a thin layer over the world, the audio stream and the trace line.
// Every entry checks its arguments, catches what the C++ below could throw, and leaves
// its message on the handle.
#include "corvanta/corvanta.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "audio/audio_stream.h"
#include "world/frame_step.h"
#include "world/trace_line.h"
#include "world/world_state.h"

#ifndef CORVANTA_VERSION
#error "CORVANTA_VERSION is set by the build"
#endif

static_assert(CORVANTA_WIDTH == kWorldWidth && CORVANTA_HEIGHT == kWorldHeight, "picture size");
static_assert(CORVANTA_FRAMES_PER_SECOND == kFramesPerSecond, "frame rate");
static_assert(CORVANTA_SPECTRUM_BYTES == kSpectrumBytes, "spectrum record");
static_assert(CORVANTA_MIN_SAMPLE_RATE == kMinSampleRate && CORVANTA_MAX_SAMPLE_RATE == kMaxSampleRate,
              "sample rates");
static_assert(CORVANTA_MAX_CHANNELS == kMaxChannels, "channels");
static_assert(CORVANTA_TRACE_LINE_BYTES == kTraceLineBytes, "trace line");
static_assert(CORVANTA_PICTURE_UNCHANGED == int32_t{kPictureKept} && CORVANTA_PICTURE_LISTED == int32_t{kPictureListed} &&
                  CORVANTA_PICTURE_REDRAWN == int32_t{kPictureRedrawn},
              "picture changes");

struct corvanta {
  World world;
  Canvas canvas;
  AudioStream stream;
  uint8_t spectrum[kSpectrumBytes];
  corvanta_input input;
  uint32_t seed;
  int32_t population;  // births less deaths, as corvanta-sim counts it
  mutable char error[256];  // the last failure's message; const calls may fail too
};

namespace {

// The largest scaled picture a host may ask for, each way.
constexpr int32_t kMaxScaledSide = 16384;
// The config as this library knows it; a host's may be shorter (older) or longer (newer).
constexpr size_t kConfigSize = sizeof(corvanta_config);

corvanta_status fail(const corvanta* handle, corvanta_status status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(handle->error, sizeof handle->error, format, args);
  va_end(args);
  return status;
}

void write_message(char* message, size_t size, const char* text) {
  if (message == nullptr || size == 0) return;
  std::snprintf(message, size, "%s", text);
}

// The host's config, of whatever size, as this library's: fields it lacks take their
// defaults; fields this library does not know must be zero.
corvanta_status read_config(const corvanta_config* given, corvanta_config& config, char* why, size_t why_size) {
  corvanta_config_init(&config);
  const uint32_t size = given->size;
  const size_t field = sizeof(int32_t);
  if (size < sizeof(uint32_t) || size % field != 0) {
    std::snprintf(why, why_size, "config size %u is not one of a corvanta_config (set it with corvanta_config_init)",
                  size);
    return CORVANTA_ERROR_CONFIG;
  }
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(given);
  for (size_t i = kConfigSize; i < size; ++i) {
    if (bytes[i] != 0) {
      std::snprintf(why, why_size,
                    "config of %u bytes sets fields this library (of %zu bytes, interface %d) does not know", size,
                    kConfigSize, CORVANTA_INTERFACE);
      return CORVANTA_ERROR_CONFIG;
    }
  }
  std::memcpy(&config, given, size < kConfigSize ? size : kConfigSize);
  config.size = static_cast<uint32_t>(kConfigSize);
  if (config.input != CORVANTA_INPUT_PCM && config.input != CORVANTA_INPUT_SPECTRUM) {
    std::snprintf(why, why_size, "config input %d is neither CORVANTA_INPUT_PCM nor CORVANTA_INPUT_SPECTRUM",
                  static_cast<int>(config.input));
    return CORVANTA_ERROR_CONFIG;
  }
  if (config.input == CORVANTA_INPUT_PCM && config.window != CORVANTA_WINDOW_CENTRED &&
      config.window != CORVANTA_WINDOW_TRAILING) {
    std::snprintf(why, why_size, "config window %d is neither CORVANTA_WINDOW_CENTRED nor CORVANTA_WINDOW_TRAILING",
                  static_cast<int>(config.window));
    return CORVANTA_ERROR_CONFIG;
  }
  return CORVANTA_OK;
}

corvanta_status take_sound(corvanta* handle, const void* samples, int64_t frames, bool floats) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (handle->input != CORVANTA_INPUT_PCM) {
    return fail(handle, CORVANTA_ERROR_STATE, "this handle takes spectrum records (corvanta_step_spectrum), not sound");
  }
  if (frames < 0) return fail(handle, CORVANTA_ERROR_ARGUMENT, "%lld sample frames: a count is 0 or more",
                              static_cast<long long>(frames));
  if (frames > 0 && samples == nullptr) return fail(handle, CORVANTA_ERROR_ARGUMENT, "no samples (null)");
  AudioStream& stream = handle->stream;
  if (stream.finished) {
    return fail(handle, CORVANTA_ERROR_STATE,
                "the stream has finished: corvanta_discontinuity starts a new one before more sound");
  }
  if (frames > kMaxHeldFrames - static_cast<int64_t>(stream.held.size() / 2)) {
    return fail(handle, CORVANTA_ERROR_FULL,
                "%lld more sample frames would pass the %lld kept unanalysed: step the frames due first",
                static_cast<long long>(frames), static_cast<long long>(kMaxHeldFrames));
  }
  try {
    if (floats) {
      audio_stream_feed_float(stream, static_cast<const float*>(samples), frames);
    } else {
      audio_stream_feed_int16(stream, static_cast<const int16_t*>(samples), frames);
    }
  } catch (const std::bad_alloc&) {
    return fail(handle, CORVANTA_ERROR_MEMORY, "out of memory keeping %lld sample frames",
                static_cast<long long>(frames));
  }
  return CORVANTA_OK;
}

void step_world(corvanta* handle, const uint8_t* spectrum, corvanta_frame* frame) {
  const FrameReport report = frame_step(handle->world, handle->canvas, spectrum, handle->seed);
  handle->population += report.births - report.deaths;
  if (frame != nullptr) {
    frame->number = handle->world.frame_count;
    frame->picture = report.picture;
    frame->population = handle->population;
  }
}

bool pcm_handle(corvanta* handle, const char* call) {
  if (handle->input == CORVANTA_INPUT_PCM) return true;
  fail(handle, CORVANTA_ERROR_STATE, "%s: this handle takes spectrum records, not sound", call);
  return false;
}

// Copies picture pixel (x, y) to four bytes in the format's order.
inline void put_pixel(const PixelBuffer& picture, int32_t x, int32_t y, uint8_t* to, corvanta_pixel_format format) {
  const uint8_t* from = picture.rgb[y][x];
  const bool bgra = format == CORVANTA_BGRA;
  to[0] = bgra ? from[2] : from[0];
  to[1] = from[1];
  to[2] = bgra ? from[0] : from[2];
  to[3] = 255;
}

corvanta_status check_copy(const corvanta* handle, const uint8_t* pixels, int32_t width, int32_t stride,
                           corvanta_pixel_format format) {
  const corvanta* h = handle;
  if (pixels == nullptr) return fail(h, CORVANTA_ERROR_ARGUMENT, "no pixels (null)");
  if (format != CORVANTA_RGBA && format != CORVANTA_BGRA) {
    return fail(h, CORVANTA_ERROR_ARGUMENT, "pixel format %d is neither CORVANTA_RGBA nor CORVANTA_BGRA",
                static_cast<int>(format));
  }
  if (stride < 4 * width) {
    return fail(h, CORVANTA_ERROR_ARGUMENT, "stride %d is less than a row of %d pixels (%d bytes)",
                static_cast<int>(stride), static_cast<int>(width), static_cast<int>(4 * width));
  }
  return CORVANTA_OK;
}

}  // namespace

extern "C" {

const char* corvanta_version(void) { return CORVANTA_VERSION; }

int corvanta_interface(void) { return CORVANTA_INTERFACE; }

const char* corvanta_status_name(corvanta_status status) {
  switch (status) {
    case CORVANTA_OK: return "CORVANTA_OK";
    case CORVANTA_ERROR_ARGUMENT: return "CORVANTA_ERROR_ARGUMENT";
    case CORVANTA_ERROR_CONFIG: return "CORVANTA_ERROR_CONFIG";
    case CORVANTA_ERROR_STATE: return "CORVANTA_ERROR_STATE";
    case CORVANTA_ERROR_FULL: return "CORVANTA_ERROR_FULL";
    case CORVANTA_ERROR_MEMORY: return "CORVANTA_ERROR_MEMORY";
    case CORVANTA_STATUS_RANGE: break;
  }
  return "unknown status";
}

void corvanta_config_init(corvanta_config* config) {
  if (config == nullptr) return;
  std::memset(config, 0, sizeof *config);
  config->size = static_cast<uint32_t>(sizeof *config);
  config->seed_from_clock = 1;
  config->input = CORVANTA_INPUT_PCM;
  config->sample_rate = 44100;
  config->channels = 2;
  config->window = CORVANTA_WINDOW_CENTRED;
}

corvanta_status corvanta_create(const corvanta_config* given, corvanta** handle, char* message, size_t message_size) {
  if (handle != nullptr) *handle = nullptr;
  if (given == nullptr || handle == nullptr) {
    write_message(message, message_size, given == nullptr ? "no config (null)" : "nowhere to put the handle (null)");
    return CORVANTA_ERROR_ARGUMENT;
  }
  char why[256];
  corvanta_config config;
  const corvanta_status status = read_config(given, config, why, sizeof why);
  if (status != CORVANTA_OK) {
    write_message(message, message_size, why);
    return status;
  }
  corvanta* made = new (std::nothrow) corvanta;
  if (made == nullptr) {
    write_message(message, message_size, "out of memory for a world");
    return CORVANTA_ERROR_MEMORY;
  }
  made->input = static_cast<corvanta_input>(config.input);
  if (made->input == CORVANTA_INPUT_PCM) {
    std::string error;
    const WindowAlignment alignment =
        config.window == CORVANTA_WINDOW_TRAILING ? WindowAlignment::kTrailing : WindowAlignment::kCentred;
    if (!audio_stream_open(made->stream, config.sample_rate, config.channels, alignment, error)) {
      delete made;
      write_message(message, message_size, error.c_str());
      return CORVANTA_ERROR_CONFIG;
    }
  }
  made->seed = config.seed_from_clock != 0 ? static_cast<uint32_t>(std::time(nullptr)) : config.seed;
  world_reset(made->world);
  canvas_load_state(made->canvas);
  made->population = 0;
  made->error[0] = '\0';
  *handle = made;
  write_message(message, message_size, "");
  return CORVANTA_OK;
}

void corvanta_destroy(corvanta* handle) { delete handle; }

const char* corvanta_last_error(const corvanta* handle) { return handle == nullptr ? "no handle" : handle->error; }

corvanta_status corvanta_feed_float(corvanta* handle, const float* samples, int64_t frames) {
  return take_sound(handle, samples, frames, true);
}

corvanta_status corvanta_feed_int16(corvanta* handle, const int16_t* samples, int64_t frames) {
  return take_sound(handle, samples, frames, false);
}

int64_t corvanta_frames_due(const corvanta* handle) {
  if (handle == nullptr || handle->input != CORVANTA_INPUT_PCM) return 0;
  return audio_stream_frames_due(handle->stream);
}

int64_t corvanta_latency(const corvanta* handle) {
  if (handle == nullptr || handle->input != CORVANTA_INPUT_PCM) return 0;
  return audio_stream_latency(handle->stream);
}

corvanta_status corvanta_step(corvanta* handle, corvanta_frame* frame) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (!pcm_handle(handle, "corvanta_step")) return CORVANTA_ERROR_STATE;
  if (audio_stream_frames_due(handle->stream) == 0) {
    return fail(handle, CORVANTA_ERROR_STATE, "no frame is due: feed more sound, or finish the stream");
  }
  audio_stream_next_spectrum(handle->stream, handle->spectrum);
  step_world(handle, handle->spectrum, frame);
  return CORVANTA_OK;
}

corvanta_status corvanta_finish(corvanta* handle) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (!pcm_handle(handle, "corvanta_finish")) return CORVANTA_ERROR_STATE;
  audio_stream_finish(handle->stream);
  return CORVANTA_OK;
}

corvanta_status corvanta_discontinuity(corvanta* handle) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (!pcm_handle(handle, "corvanta_discontinuity")) return CORVANTA_ERROR_STATE;
  audio_stream_restart(handle->stream);
  return CORVANTA_OK;
}

corvanta_status corvanta_step_spectrum(corvanta* handle, const uint8_t* spectrum, corvanta_frame* frame) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (handle->input != CORVANTA_INPUT_SPECTRUM) {
    return fail(handle, CORVANTA_ERROR_STATE, "this handle analyses sound: feed it and call corvanta_step");
  }
  if (spectrum == nullptr) return fail(handle, CORVANTA_ERROR_ARGUMENT, "no spectrum record (null)");
  step_world(handle, spectrum, frame);
  return CORVANTA_OK;
}

corvanta_status corvanta_copy_picture(const corvanta* handle, uint8_t* pixels, int32_t stride,
                                      corvanta_pixel_format format) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  const corvanta_status status = check_copy(handle, pixels, kWorldWidth, stride, format);
  if (status != CORVANTA_OK) return status;
  const PixelBuffer& picture = handle->canvas.drawing;
  for (int32_t y = 0; y < kWorldHeight; ++y) {
    uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    for (int32_t x = 0; x < kWorldWidth; ++x) put_pixel(picture, x, y, row + 4 * x, format);
  }
  return CORVANTA_OK;
}

corvanta_status corvanta_copy_picture_scaled(const corvanta* handle, uint8_t* pixels, int32_t width, int32_t height,
                                             int32_t stride, corvanta_pixel_format format) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (width < 1 || width > kMaxScaledSide || height < 1 || height > kMaxScaledSide) {
    return fail(handle, CORVANTA_ERROR_ARGUMENT, "%d x %d: each side is 1 to %d pixels",
                static_cast<int>(width), static_cast<int>(height), static_cast<int>(kMaxScaledSide));
  }
  const corvanta_status status = check_copy(handle, pixels, width, stride, format);
  if (status != CORVANTA_OK) return status;
  const PixelBuffer& picture = handle->canvas.drawing;
  for (int32_t y = 0; y < height; ++y) {
    const int32_t from_y = static_cast<int32_t>((2 * static_cast<int64_t>(y) + 1) * kWorldHeight / (2 * height));
    uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t from_x = static_cast<int32_t>((2 * static_cast<int64_t>(x) + 1) * kWorldWidth / (2 * width));
      put_pixel(picture, from_x, from_y, row + 4 * x, format);
    }
  }
  return CORVANTA_OK;
}

int64_t corvanta_frame_number(const corvanta* handle) { return handle == nullptr ? 0 : handle->world.frame_count; }

int32_t corvanta_population(const corvanta* handle) { return handle == nullptr ? 0 : handle->population; }

uint32_t corvanta_seed(const corvanta* handle) { return handle == nullptr ? 0 : handle->seed; }

corvanta_status corvanta_trace_line(const corvanta* handle, char* line, size_t line_size) {
  if (handle == nullptr) return CORVANTA_ERROR_ARGUMENT;
  if (line == nullptr || line_size < kTraceLineBytes) {
    return fail(handle, CORVANTA_ERROR_ARGUMENT,
                "a trace line needs room for %d bytes (CORVANTA_TRACE_LINE_BYTES)", static_cast<int>(kTraceLineBytes));
  }
  format_trace_line(handle->world, handle->canvas.drawing, handle->population, line);
  return CORVANTA_OK;
}

}  // extern "C"
