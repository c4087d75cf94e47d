/*
 * libcorvanta: the Corvanta world behind a small C interface.
 *
 * A handle holds one world (an artificial-life world drawn as a 1000 x 400 picture)
 * and the analysis of the sound that drives it. The host feeds sound as it comes,
 * steps the frames that sound makes (40 per second of audio), and copies the pictures.
 * The same samples and seed give the same frames, pictures and trace lines however the
 * host cuts the sound into pieces, and the same as `corvanta-sim --audio FILE --seed S`.
 *
 * A typical host:
 *
 *     corvanta_config config;
 *     corvanta_config_init(&config);
 *     config.seed = 26;
 *     config.seed_from_clock = 0;
 *     config.sample_rate = 44100;
 *     config.channels = 2;
 *     corvanta *world = NULL;
 *     if (corvanta_create(&config, &world, message, sizeof message) != CORVANTA_OK) ...
 *     for each buffer of sound:
 *         corvanta_feed_float(world, samples, frames);
 *         while (corvanta_frames_due(world) > 0) {
 *             corvanta_step(world, &frame);
 *             corvanta_copy_picture(world, pixels, 1000 * 4, CORVANTA_RGBA);
 *         }
 *     at the end of the stream: corvanta_finish(world), and step what is due;
 *     corvanta_destroy(world);
 *
 * Threads: a handle is used by one thread at a time (calls on one handle from two
 * threads at once must be serialised by the host). Different handles are independent
 * worlds and may be used from different threads at once; the library has no global
 * state.
 *
 * Errors: every call that can fail returns a corvanta_status. A failed call changes
 * nothing (a refused feed takes no samples) and leaves a one-line message that
 * corvanta_last_error gives until the next failure; the handle stays usable. Nothing
 * aborts, exits, prints or throws.
 *
 * C99, usable from C and C++.
 */
#ifndef CORVANTA_CORVANTA_H
#define CORVANTA_CORVANTA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define CORVANTA_API
#elif defined(__GNUC__)
#define CORVANTA_API __attribute__((visibility("default")))
#else
#define CORVANTA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface number: it changes only when the interface breaks, with the shared
 * library's soname (libcorvanta.so.1). */
#define CORVANTA_INTERFACE 1

/* The picture: 1000 x 400 pixels, 40 frames per second of audio. */
#define CORVANTA_WIDTH 1000
#define CORVANTA_HEIGHT 400
#define CORVANTA_FRAMES_PER_SECOND 40
/* A spectrum record: two channels of 576 bytes, channel 0 (left) first. */
#define CORVANTA_SPECTRUM_BYTES 1152
/* The sample rates PCM input takes, in Hz, and the channels. */
#define CORVANTA_MIN_SAMPLE_RATE 8000
#define CORVANTA_MAX_SAMPLE_RATE 192000
#define CORVANTA_MAX_CHANNELS 256
/* Room for a trace line with its terminating zero. */
#define CORVANTA_TRACE_LINE_BYTES 64

typedef enum corvanta_status {
  CORVANTA_OK = 0,
  /* A null pointer, or a size or value outside its range. */
  CORVANTA_ERROR_ARGUMENT = -1,
  /* A config of a size this library does not know, or with a field out of range. */
  CORVANTA_ERROR_CONFIG = -2,
  /* The call does not fit the handle's state: no frame is due, sound after the end of
   * the stream, sound for a handle that takes spectrum records, or the reverse. */
  CORVANTA_ERROR_STATE = -3,
  /* More sound than the handle keeps unanalysed (some 50 minutes at 44.1 kHz): step
   * the frames due first. */
  CORVANTA_ERROR_FULL = -4,
  /* Memory ran out. */
  CORVANTA_ERROR_MEMORY = -5,
  /* Not a status: keeps the type as wide as an int32, so that a value this library does
   * not know (from a newer one) is still a value of the type in C++. The same below. */
  CORVANTA_STATUS_RANGE = 0x7fffffff
} corvanta_status;

/* What the handle is fed. */
typedef enum corvanta_input {
  /* Interleaved PCM samples; the handle analyses them (corvanta_feed_*). */
  CORVANTA_INPUT_PCM = 0,
  /* Ready spectrum records, one per frame, as the classic player hands its plug-ins
   * (corvanta_step_spectrum). */
  CORVANTA_INPUT_SPECTRUM = 1,
  CORVANTA_INPUT_RANGE = 0x7fffffff
} corvanta_input;

/* Where a frame's analysis window lies against the frame's moment pos_k =
 * floor(k * sample_rate / 40) sample frames into the stream. */
typedef enum corvanta_window {
  /* Centred: samples pos_k - 1024 .. pos_k + 1023, as corvanta-sim reads a file.
   * Frame k is due once pos_k + 1024 samples have arrived, or at the end of the
   * stream: a latency of 1024 samples. The exact choice for files and streams. */
  CORVANTA_WINDOW_CENTRED = 0,
  /* Trailing: samples pos_k - 2048 .. pos_k - 1, ending at the frame's moment, as for
   * live sound; frame k is due once pos_k samples have arrived: no latency. */
  CORVANTA_WINDOW_TRAILING = 1,
  CORVANTA_WINDOW_RANGE = 0x7fffffff
} corvanta_window;

/* Pixel layouts of the picture copies: four bytes a pixel in this order in memory,
 * alpha (or the unused byte) 255. */
typedef enum corvanta_pixel_format {
  CORVANTA_RGBA = 0, /* canvases, GStreamer RGBA and RGBx */
  CORVANTA_BGRA = 1, /* GStreamer BGRA and BGRx, VLC RV32 on little-endian machines */
  CORVANTA_PIXEL_FORMAT_RANGE = 0x7fffffff
} corvanta_pixel_format;

/* What a step did to the picture, so a host can skip copying an unchanged one. */
typedef enum corvanta_picture_change {
  CORVANTA_PICTURE_UNCHANGED = 0, /* nothing drawn: the picture is the last one */
  CORVANTA_PICTURE_LISTED = 1,    /* drawn over the last picture in places */
  CORVANTA_PICTURE_REDRAWN = 2,   /* drawn afresh */
  CORVANTA_PICTURE_CHANGE_RANGE = 0x7fffffff
} corvanta_picture_change;

typedef struct corvanta_config {
  /* sizeof(corvanta_config) as the host was compiled: later versions may add fields
   * at the end. A smaller, older size is taken with the missing fields at their
   * defaults; a larger one only if the bytes this library does not know are zero. */
  uint32_t size;
  /* The world's seed, used when seed_from_clock is 0. */
  uint32_t seed;
  /* Nonzero: the seed is the calendar's seconds at create (corvanta_seed tells
   * which), so each world differs. Default 1. */
  int32_t seed_from_clock;
  /* corvanta_input. Default CORVANTA_INPUT_PCM. */
  int32_t input;
  /* PCM: CORVANTA_MIN_SAMPLE_RATE .. CORVANTA_MAX_SAMPLE_RATE Hz. Default 44100. */
  int32_t sample_rate;
  /* PCM: 1 .. CORVANTA_MAX_CHANNELS. Mono is heard on both channels; of more than two
   * the first two are heard. Default 2. */
  int32_t channels;
  /* PCM: corvanta_window. Default CORVANTA_WINDOW_CENTRED. */
  int32_t window;
} corvanta_config;

/* One stepped frame. */
typedef struct corvanta_frame {
  int64_t number;     /* frames stepped so far, this one included (the trace's first field) */
  int32_t picture;    /* corvanta_picture_change */
  int32_t population; /* living agents after the frame */
} corvanta_frame;

typedef struct corvanta corvanta; /* one world: opaque */

/* The library's version, "MAJOR.MINOR.PATCH", static. */
CORVANTA_API const char* corvanta_version(void);
/* CORVANTA_INTERFACE as the library was built. */
CORVANTA_API int corvanta_interface(void);
/* The constant's name of a status, "CORVANTA_OK" and so on; "unknown status" else. */
CORVANTA_API const char* corvanta_status_name(corvanta_status status);

/* Fills config with the defaults above and its own size. config may not be null. */
CORVANTA_API void corvanta_config_init(corvanta_config* config);

/* A new world at frame 0. On success *handle is the world; on failure *handle is
 * null and, when message is not null, a one-line reason is written there (cut to
 * message_size bytes, zero-terminated). Errors: ARGUMENT for a null config or handle
 * pointer, CONFIG for a size or field out of range, MEMORY. The world takes some
 * 15 MB. */
CORVANTA_API corvanta_status corvanta_create(const corvanta_config* config, corvanta** handle, char* message,
                                             size_t message_size);
/* Frees the world; null is ignored. */
CORVANTA_API void corvanta_destroy(corvanta* handle);

/* The message of the last failed call on this handle, "" when none has failed; valid
 * until the next call on the handle. "no handle" for null. */
CORVANTA_API const char* corvanta_last_error(const corvanta* handle);

/* PCM: `frames` sample frames of interleaved samples of the configured channel count.
 * Floats are taken as they are, full scale at +-1.0; a sample that is not finite (NaN,
 * infinity) is kept too, as corvanta-sim keeps it from a float file, and makes every
 * byte of its channel's spectrum 255 in each frame whose window holds it. 16-bit
 * samples are taken as x / 32768. frames may be 0 (samples may then be null).
 * Errors: ARGUMENT (null handle or samples, frames < 0), STATE (a spectrum handle, or
 * after corvanta_finish until corvanta_discontinuity), FULL, MEMORY; a refused call
 * takes no samples. */
CORVANTA_API corvanta_status corvanta_feed_float(corvanta* handle, const float* samples, int64_t frames);
CORVANTA_API corvanta_status corvanta_feed_int16(corvanta* handle, const int16_t* samples, int64_t frames);

/* PCM: the frames that can be stepped now with what has been fed (0 for a null or
 * spectrum handle). Stepping them all after every feed keeps the world with the sound;
 * a host may also step fewer, for instance to keep to its own clock. */
CORVANTA_API int64_t corvanta_frames_due(const corvanta* handle);

/* PCM: how many sample frames a frame's window reaches past the frame's moment: 1024
 * for the centred window, 0 for the trailing one; 0 for a null or spectrum handle. A
 * host that shows frame k at its moment is this late, and reports it as latency. */
CORVANTA_API int64_t corvanta_latency(const corvanta* handle);

/* PCM: steps the next due frame. frame may be null. Errors: ARGUMENT, STATE (a
 * spectrum handle, or no frame due). */
CORVANTA_API corvanta_status corvanta_step(corvanta* handle, corvanta_frame* frame);

/* PCM: the end of the stream. Every frame whose moment lies within the sound fed
 * becomes due, its window reading silence past the end, so a track of N sample frames
 * gives floor((40 * N - 1) / sample_rate) + 1 frames, as corvanta-sim gives it. Further
 * sound is refused until corvanta_discontinuity. Errors: ARGUMENT, STATE (a spectrum
 * handle). Finishing twice is harmless. */
CORVANTA_API corvanta_status corvanta_finish(corvanta* handle);

/* PCM: a seek, a flush, a new song. The world goes on (as in the player's plug-in);
 * the analysis starts afresh, the next sound being the first of a new stream: the
 * sound held and the frames not yet stepped are dropped (step what is due first to
 * keep them). Errors: ARGUMENT, STATE (a spectrum handle). */
CORVANTA_API corvanta_status corvanta_discontinuity(corvanta* handle);

/* Spectrum input: steps one frame with a spectrum record of CORVANTA_SPECTRUM_BYTES
 * bytes. frame may be null. Errors: ARGUMENT, STATE (a PCM handle). */
CORVANTA_API corvanta_status corvanta_step_spectrum(corvanta* handle, const uint8_t* spectrum,
                                                    corvanta_frame* frame);

/* The current picture, 1000 x 400, rows top to bottom, into pixels: stride bytes from
 * one row's start to the next, at least 4000. Errors: ARGUMENT (null, stride too
 * small, unknown format). */
CORVANTA_API corvanta_status corvanta_copy_picture(const corvanta* handle, uint8_t* pixels, int32_t stride,
                                                   corvanta_pixel_format format);
/* The current picture scaled to width x height (1 .. 16384 each) by nearest
 * neighbour: output pixel (x, y) is picture pixel (floor((2x + 1) * 1000 / 2width),
 * floor((2y + 1) * 400 / 2height)), so whole multiples give sharp blocks and nothing
 * is blended. stride at least 4 * width. Errors: ARGUMENT. */
CORVANTA_API corvanta_status corvanta_copy_picture_scaled(const corvanta* handle, uint8_t* pixels, int32_t width,
                                                          int32_t height, int32_t stride,
                                                          corvanta_pixel_format format);

/* Frames stepped since create (0 for null). */
CORVANTA_API int64_t corvanta_frame_number(const corvanta* handle);
/* Living agents now (0 for null). */
CORVANTA_API int32_t corvanta_population(const corvanta* handle);
/* The seed the world took (0 for null). */
CORVANTA_API uint32_t corvanta_seed(const corvanta* handle);
/* The current frame's trace line, as `corvanta-sim --trace` writes it, without its
 * newline: "<frame> <population> <world digest> <picture digest>", the digests as 16
 * hex digits. line_size at least CORVANTA_TRACE_LINE_BYTES. Errors: ARGUMENT. */
CORVANTA_API corvanta_status corvanta_trace_line(const corvanta* handle, char* line, size_t line_size);

#ifdef __cplusplus
}
#endif

#endif /* CORVANTA_CORVANTA_H */
