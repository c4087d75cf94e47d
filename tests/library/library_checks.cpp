// libcorvanta through its C interface, held to the plain way of making the same world:
// the whole track in memory, each frame's window read straight from it
// (track_frame_spectrum), one frame_step after another. However the sound is cut into
// pieces, the library must give the same frames and, after every frame, the same trace
// line. Then two worlds side by side, hostile calls, pictures, and (given --sim) the same
// lines as corvanta-sim --audio itself for the same WAV files.
//
// A plain program without a test framework, so that the cross builds run it too (the
// s390x build feeds its 16-bit samples big-endian). Exit status 0 when every check holds.
//   library_checks [--quick] [--sim CORVANTA-SIM --work FOLDER]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_spectrum.h"
#include "audio/audio_track.h"
#include "corvanta/corvanta.h"
#include "world/frame_step.h"
#include "world/trace_line.h"

namespace {

int failures = 0;
// Fewer ways of cutting each track, for the sanitizer and emulated builds, where a frame
// costs tens of times more: every size still runs on the shorter tracks.
bool quick = false;

#define CHECK(condition, ...)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      ++failures;                                                              \
      std::fprintf(stderr, "%s:%d: failed: %s: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                       \
      std::fputc('\n', stderr);                                                \
    }                                                                          \
  } while (0)

// Interleaved samples of `channels` channels, as a host would hand them over.
struct Sound {
  int32_t rate;
  int32_t channels;
  int64_t frames;
  std::vector<int16_t> pcm;
  std::vector<float> floats;  // the same as floats, or other floats where a case sets them
};

// Something like music: a beat, a bass line and a melody that move through the bands,
// with a little noise; each channel a little different so that the first two differ.
Sound make_sound(int32_t rate, int32_t channels, int64_t frames) {
  Sound sound{rate, channels, frames, {}, {}};
  sound.pcm.resize(static_cast<size_t>(frames * channels));
  uint32_t noise = 12345;
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double beat = std::exp(-12.0 * std::fmod(t, 0.5));
    const double bass = std::sin(2.0 * M_PI * (55.0 + 55.0 * std::floor(std::fmod(t, 4.0))) * t);
    const double melody = std::sin(2.0 * M_PI * (440.0 * std::pow(2.0, std::floor(std::fmod(t * 2.0, 12.0)) / 12.0)) * t);
    for (int32_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.05;
      const double value = 0.45 * beat * bass + (c == 1 ? 0.2 : 0.3) * melody + hiss;
      sound.pcm[static_cast<size_t>(i * channels + c)] = static_cast<int16_t>(std::lround(value * 32767.0));
    }
  }
  sound.floats.resize(sound.pcm.size());
  for (size_t i = 0; i < sound.pcm.size(); ++i) sound.floats[i] = static_cast<float>(sound.pcm[i]) / 32768.0f;
  return sound;
}

// The plain way: the track whole in memory, frame k's window read straight from it:
// centred on the frame's moment, or (trailing, as for live sound) ending there.
std::vector<std::string> plain_traces(const Sound& sound, uint32_t seed, std::vector<uint8_t>* last_picture = nullptr,
                                      bool trailing = false) {
  AudioTrack track;
  track.sample_rate = sound.rate;
  track.frames = sound.frames;
  for (int64_t i = 0; i < sound.frames; ++i) {
    const float* frame = &sound.floats[static_cast<size_t>(i * sound.channels)];
    track.samples.push_back(frame[0]);
    track.samples.push_back(sound.channels > 1 ? frame[1] : frame[0]);
  }
  std::unique_ptr<SpectrumAnalyser> analyser(new SpectrumAnalyser());
  std::string error;
  if (!analyser_open(*analyser, sound.rate, error)) {
    CHECK(false, "%s", error.c_str());
    return {};
  }
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);
  std::vector<std::string> lines;
  int32_t population = 0;
  uint8_t spectrum[kSpectrumBytes];
  const int64_t frames = trailing ? last_frame_heard(track.frames, track.sample_rate) + 1
                                  : last_frame_heard(track.frames - 1, track.sample_rate) + 1;
  for (int64_t k = 0; k < frames; ++k) {
    if (trailing) {
      const int64_t end = frame_sample_position(k, track.sample_rate);
      for (int32_t i = 0; i < kAnalysisWindow; ++i) {
        const int64_t at = end - kAnalysisWindow + i;
        analyser->stereo[2 * i] = at < 0 ? 0.0f : track.samples[static_cast<size_t>(2 * at)];
        analyser->stereo[2 * i + 1] = at < 0 ? 0.0f : track.samples[static_cast<size_t>(2 * at + 1)];
      }
      analyse_stereo(*analyser, spectrum);
    } else {
      track_frame_spectrum(*analyser, track, k, spectrum);
    }
    const FrameReport report = frame_step(*world, *canvas, spectrum, seed);
    population += report.births - report.deaths;
    char line[kTraceLineBytes];
    format_trace_line(*world, canvas->drawing, population, line);
    lines.push_back(line);
  }
  if (last_picture != nullptr) {
    const uint8_t* rgb = &canvas->drawing.rgb[0][0][0];
    last_picture->assign(rgb, rgb + kWorldWidth * kWorldHeight * 3);
  }
  return lines;
}

corvanta* create_pcm(const Sound& sound, uint32_t seed, corvanta_window window = CORVANTA_WINDOW_CENTRED) {
  corvanta_config config;
  corvanta_config_init(&config);
  config.seed = seed;
  config.seed_from_clock = 0;
  config.sample_rate = sound.rate;
  config.channels = sound.channels;
  config.window = window;
  corvanta* handle = nullptr;
  char message[256];
  const corvanta_status status = corvanta_create(&config, &handle, message, sizeof message);
  CHECK(status == CORVANTA_OK && handle != nullptr, "create: %s", message);
  return handle;
}

void step_due(corvanta* handle, std::vector<std::string>& lines) {
  while (corvanta_frames_due(handle) > 0) {
    corvanta_frame frame;
    const corvanta_status status = corvanta_step(handle, &frame);
    CHECK(status == CORVANTA_OK, "step: %s", corvanta_last_error(handle));
    if (status != CORVANTA_OK) return;
    char line[CORVANTA_TRACE_LINE_BYTES];
    corvanta_trace_line(handle, line, sizeof line);
    CHECK(frame.number == corvanta_frame_number(handle) && frame.population == corvanta_population(handle),
          "the step's report and the handle disagree at frame %lld", static_cast<long long>(frame.number));
    lines.push_back(line);
  }
}

// The sound fed in pieces of the sizes `next_piece` gives, each followed by the frames
// then due, and the end of the stream.
std::vector<std::string> library_traces(const Sound& sound, uint32_t seed, const std::function<int64_t()>& next_piece,
                                        bool floats) {
  corvanta* handle = create_pcm(sound, seed);
  std::vector<std::string> lines;
  if (handle == nullptr) return lines;
  for (int64_t at = 0; at < sound.frames;) {
    const int64_t piece = std::min(next_piece(), sound.frames - at);
    const size_t offset = static_cast<size_t>(at * sound.channels);
    const corvanta_status status = floats ? corvanta_feed_float(handle, &sound.floats[offset], piece)
                                          : corvanta_feed_int16(handle, &sound.pcm[offset], piece);
    CHECK(status == CORVANTA_OK, "feed: %s", corvanta_last_error(handle));
    at += piece;
    step_due(handle, lines);
  }
  CHECK(corvanta_finish(handle) == CORVANTA_OK, "finish: %s", corvanta_last_error(handle));
  step_due(handle, lines);
  corvanta_destroy(handle);
  return lines;
}

void compare(const char* what, const std::vector<std::string>& expected, const std::vector<std::string>& got) {
  CHECK(expected.size() == got.size(), "%s: %zu frames, expected %zu", what, got.size(), expected.size());
  for (size_t i = 0; i < expected.size() && i < got.size(); ++i) {
    if (expected[i] != got[i]) {
      CHECK(false, "%s: frame %zu: '%s', expected '%s'", what, i + 1, got[i].c_str(), expected[i].c_str());
      return;
    }
  }
}

std::function<int64_t()> fixed(int64_t size) {
  return [size] { return size; };
}

std::function<int64_t()> random_sizes(uint32_t seed) {
  auto state = std::make_shared<uint32_t>(seed);
  return [state] {
    *state = *state * 1103515245u + 12345u;
    return static_cast<int64_t>((*state >> 8) % 5000);  // zero-sized pieces included
  };
}

// However the sound is cut, and whether it comes as 16-bit or float samples, the frames
// are the plain way's, at the rates and lengths where the edges lie.
void cutting_does_not_change_the_world() {
  struct Case {
    int32_t rate, channels;
    int64_t frames;
    uint32_t seed;
  };
  const Case cases[] = {
      {44100, 2, 44100 * 6, 26},  // past the startup frames, into the living world
      {44100, 2, 44100, 5},       // 40 frames exactly
      {44100, 2, 44101, 5},       // one sample more: a 41st frame
      {44100, 1, 1500, 7},        // shorter than one window, mono
      {8000, 2, 8000 * 3, 11},
      {192000, 6, 192000 * 2, 12},  // of six channels the first two are heard
  };
  for (const Case& c : cases) {
    const Sound sound = make_sound(c.rate, c.channels, c.frames);
    const std::vector<std::string> expected = plain_traces(sound, c.seed);
    CHECK(static_cast<int64_t>(expected.size()) == last_frame_heard(c.frames - 1, c.rate) + 1, "plain frames");
    char what[96];
    for (const int64_t size : {int64_t{1}, int64_t{37}, int64_t{441}, int64_t{4096}}) {
      if (size == 1 && c.frames > 100000) continue;  // one call per sample: covered by the shorter tracks
      if (quick && c.frames > 100000 && size != 441) continue;
      std::snprintf(what, sizeof what, "%d Hz, %d ch, %lld frames, pieces of %lld", c.rate, c.channels,
                    static_cast<long long>(c.frames), static_cast<long long>(size));
      compare(what, expected, library_traces(sound, c.seed, fixed(size), false));
    }
    std::snprintf(what, sizeof what, "%d Hz, %d ch, %lld frames, random pieces, floats", c.rate, c.channels,
                  static_cast<long long>(c.frames));
    compare(what, expected, library_traces(sound, c.seed, random_sizes(c.seed), true));
  }
  // Live sound: the window ends at each frame's moment, and a frame is due as soon as
  // its moment has arrived, without the end of the stream.
  const Sound live = make_sound(48000, 2, 48000 * 4 + 5);
  const std::vector<std::string> expected_live = plain_traces(live, 9, nullptr, true);
  for (const int64_t size : {int64_t{1}, int64_t{480}, int64_t{4096}}) {
    corvanta* handle = create_pcm(live, 9, CORVANTA_WINDOW_TRAILING);
    if (handle == nullptr) break;
    CHECK(corvanta_latency(handle) == 0, "a trailing window has no look-ahead");
    std::vector<std::string> lines;
    for (int64_t at = 0; at < live.frames; at += size) {
      corvanta_feed_int16(handle, &live.pcm[static_cast<size_t>(2 * at)], std::min(size, live.frames - at));
      step_due(handle, lines);
    }
    char what[64];
    std::snprintf(what, sizeof what, "trailing window, pieces of %lld", static_cast<long long>(size));
    compare(what, expected_live, lines);
    corvanta_destroy(handle);
  }
  // Nothing fed: no frames; the trace line is the world before its first frame.
  const Sound empty = make_sound(44100, 2, 0);
  CHECK(library_traces(empty, 1, fixed(1), false).empty(), "frames from no sound");
}

// Samples that are not finite are kept as they are, as a float file gives them.
void samples_that_are_not_finite_are_kept() {
  Sound sound = make_sound(44100, 2, 44100 * 2);
  sound.floats[2 * 30000] = std::numeric_limits<float>::quiet_NaN();
  sound.floats[2 * 50000 + 1] = std::numeric_limits<float>::infinity();
  sound.floats[2 * 50001] = -std::numeric_limits<float>::infinity();
  const std::vector<std::string> expected = plain_traces(sound, 3);
  compare("NaN and infinity", expected, library_traces(sound, 3, random_sizes(3), true));
  const Sound clean = make_sound(44100, 2, 44100 * 2);
  CHECK(plain_traces(clean, 3) != expected, "the NaN and infinities made no difference");
}

// Two handles stepped alternately are the worlds each makes alone.
void two_worlds_are_independent() {
  const Sound a = make_sound(44100, 2, 44100 * 5);
  const Sound b = make_sound(48000, 1, 48000 * 5);
  const std::vector<std::string> alone_a = plain_traces(a, 26);
  const std::vector<std::string> alone_b = plain_traces(b, 12345);
  corvanta* first = create_pcm(a, 26);
  corvanta* second = create_pcm(b, 12345);
  if (first == nullptr || second == nullptr) return;
  std::vector<std::string> lines_a;
  std::vector<std::string> lines_b;
  auto pieces_a = random_sizes(1);
  auto pieces_b = random_sizes(2);
  int64_t at_a = 0;
  int64_t at_b = 0;
  while (at_a < a.frames || at_b < b.frames) {
    const int64_t piece_a = std::min(pieces_a(), a.frames - at_a);
    corvanta_feed_int16(first, &a.pcm[static_cast<size_t>(at_a * 2)], piece_a);
    at_a += piece_a;
    step_due(first, lines_a);
    const int64_t piece_b = std::min(pieces_b(), b.frames - at_b);
    corvanta_feed_float(second, &b.floats[static_cast<size_t>(at_b)], piece_b);
    at_b += piece_b;
    step_due(second, lines_b);
  }
  corvanta_finish(first);
  corvanta_finish(second);
  step_due(first, lines_a);
  step_due(second, lines_b);
  compare("first of two", alone_a, lines_a);
  compare("second of two", alone_b, lines_b);
  CHECK(corvanta_seed(first) == 26 && corvanta_seed(second) == 12345, "seeds");
  corvanta_destroy(first);
  corvanta_destroy(second);
}

bool mentions(const char* text, const char* part) { return text != nullptr && std::strstr(text, part) != nullptr; }

// Wrong use gets a clear status and message, changes nothing, and the handle goes on.
void hostile_calls_are_refused_plainly() {
  char message[256];
  corvanta* handle = reinterpret_cast<corvanta*>(&message);  // must be overwritten with null
  CHECK(corvanta_create(nullptr, &handle, message, sizeof message) == CORVANTA_ERROR_ARGUMENT && handle == nullptr,
        "null config");
  corvanta_config config;
  corvanta_config_init(&config);
  CHECK(corvanta_create(&config, nullptr, message, sizeof message) == CORVANTA_ERROR_ARGUMENT, "null handle out");
  struct Bad {
    const char* what;
    std::function<void(corvanta_config&)> spoil;
    const char* said;
  };
  const Bad bad[] = {
      {"rate 0", [](corvanta_config& c) { c.sample_rate = 0; }, "0 Hz"},
      {"rate 10 MHz", [](corvanta_config& c) { c.sample_rate = 10000000; }, "10000000 Hz"},
      {"no channels", [](corvanta_config& c) { c.channels = 0; }, "0 channels"},
      {"a window of neither kind", [](corvanta_config& c) { c.window = 9; }, "window 9"},
      {"an input of neither kind", [](corvanta_config& c) { c.input = -1; }, "input -1"},
      {"size 0", [](corvanta_config& c) { c.size = 0; }, "size 0"},
      {"size between fields", [](corvanta_config& c) { c.size = 6; }, "size 6"},
  };
  for (const Bad& b : bad) {
    corvanta_config spoilt;
    corvanta_config_init(&spoilt);
    spoilt.seed_from_clock = 0;
    b.spoil(spoilt);
    handle = nullptr;
    const corvanta_status status = corvanta_create(&spoilt, &handle, message, sizeof message);
    CHECK(status == CORVANTA_ERROR_CONFIG && handle == nullptr, "%s: %s", b.what, corvanta_status_name(status));
    CHECK(mentions(message, b.said), "%s: message '%s'", b.what, message);
  }
  // A newer host's larger config: taken when what this library does not know is zero.
  struct Newer {
    corvanta_config known;
    int32_t future_field;
  } newer;
  std::memset(&newer, 0, sizeof newer);
  corvanta_config_init(&newer.known);
  newer.known.size = sizeof newer;
  newer.known.seed_from_clock = 0;
  CHECK(corvanta_create(&newer.known, &handle, message, sizeof message) == CORVANTA_OK, "newer, zero: %s", message);
  corvanta_destroy(handle);
  newer.future_field = 1;
  CHECK(corvanta_create(&newer.known, &handle, message, sizeof message) == CORVANTA_ERROR_CONFIG,
        "newer, set: %s", message);
  // An older host's smaller config: the fields it lacks take their defaults.
  corvanta_config older;
  corvanta_config_init(&older);
  older.seed = 99;
  older.seed_from_clock = 0;
  older.window = 123;  // beyond the older size: not read
  older.size = offsetof(corvanta_config, window);
  CHECK(corvanta_create(&older, &handle, message, sizeof message) == CORVANTA_OK && corvanta_seed(handle) == 99 &&
            corvanta_latency(handle) == 1024,
        "older: %s", message);
  corvanta_destroy(handle);
  // A message buffer of one byte holds the terminating zero only.
  config.sample_rate = 1;
  message[0] = 'x';
  CHECK(corvanta_create(&config, &handle, message, 1) == CORVANTA_ERROR_CONFIG && message[0] == '\0', "tiny message");
  CHECK(corvanta_create(&config, &handle, nullptr, 0) == CORVANTA_ERROR_CONFIG, "no message buffer");

  const Sound sound = make_sound(44100, 2, 44100);
  handle = create_pcm(sound, 8);
  if (handle == nullptr) return;
  std::vector<uint8_t> pixels(CORVANTA_WIDTH * CORVANTA_HEIGHT * 4);
  char line[CORVANTA_TRACE_LINE_BYTES];
  CHECK(corvanta_feed_int16(handle, nullptr, 10) == CORVANTA_ERROR_ARGUMENT, "null samples");
  CHECK(corvanta_feed_float(handle, sound.floats.data(), -1) == CORVANTA_ERROR_ARGUMENT &&
            mentions(corvanta_last_error(handle), "-1"),
        "negative count: %s", corvanta_last_error(handle));
  CHECK(corvanta_feed_float(handle, nullptr, 0) == CORVANTA_OK, "nothing, from nowhere");
  CHECK(corvanta_step(handle, nullptr) == CORVANTA_ERROR_STATE && mentions(corvanta_last_error(handle), "no frame"),
        "step with none due: %s", corvanta_last_error(handle));
  CHECK(corvanta_step_spectrum(handle, pixels.data(), nullptr) == CORVANTA_ERROR_STATE, "spectrum to a PCM handle");
  CHECK(corvanta_copy_picture(handle, pixels.data(), 3999, CORVANTA_RGBA) == CORVANTA_ERROR_ARGUMENT &&
            mentions(corvanta_last_error(handle), "3999"),
        "short stride: %s", corvanta_last_error(handle));
  CHECK(corvanta_copy_picture(handle, pixels.data(), 4000, static_cast<corvanta_pixel_format>(7)) ==
            CORVANTA_ERROR_ARGUMENT,
        "unknown format");
  CHECK(corvanta_copy_picture(handle, nullptr, 4000, CORVANTA_RGBA) == CORVANTA_ERROR_ARGUMENT, "null pixels");
  CHECK(corvanta_copy_picture_scaled(handle, pixels.data(), 0, 10, 4000, CORVANTA_RGBA) == CORVANTA_ERROR_ARGUMENT,
        "zero width");
  CHECK(corvanta_copy_picture_scaled(handle, pixels.data(), 100, -3, 4000, CORVANTA_RGBA) == CORVANTA_ERROR_ARGUMENT,
        "negative height");
  CHECK(corvanta_trace_line(handle, line, 10) == CORVANTA_ERROR_ARGUMENT, "short line buffer");
  // After all that the handle still makes the plain world.
  std::vector<std::string> lines;
  corvanta_feed_int16(handle, sound.pcm.data(), sound.frames);
  corvanta_finish(handle);
  CHECK(corvanta_feed_int16(handle, sound.pcm.data(), 1) == CORVANTA_ERROR_STATE &&
            mentions(corvanta_last_error(handle), "finished"),
        "sound after the end: %s", corvanta_last_error(handle));
  step_due(handle, lines);
  compare("after refusals", plain_traces(sound, 8), lines);
  // A seek: the world goes on, the next sound starts a new stream.
  CHECK(corvanta_discontinuity(handle) == CORVANTA_OK, "discontinuity");
  CHECK(corvanta_feed_int16(handle, sound.pcm.data(), 44100) == CORVANTA_OK, "sound after a discontinuity");
  const int64_t before = corvanta_frame_number(handle);
  step_due(handle, lines);
  CHECK(corvanta_frame_number(handle) == before + last_frame_heard(44100 - 1024, 44100) + 1, "frames after a seek");
  corvanta_destroy(handle);

  // Null handles: refused, never touched.
  CHECK(corvanta_feed_float(nullptr, sound.floats.data(), 1) == CORVANTA_ERROR_ARGUMENT, "null handle feed");
  CHECK(corvanta_step(nullptr, nullptr) == CORVANTA_ERROR_ARGUMENT, "null handle step");
  CHECK(corvanta_finish(nullptr) == CORVANTA_ERROR_ARGUMENT, "null handle finish");
  CHECK(corvanta_frames_due(nullptr) == 0 && corvanta_frame_number(nullptr) == 0, "null handle state");
  CHECK(corvanta_trace_line(nullptr, line, sizeof line) == CORVANTA_ERROR_ARGUMENT, "null handle trace");
  CHECK(mentions(corvanta_last_error(nullptr), "no handle"), "null handle error");
  corvanta_destroy(nullptr);

  // A handle of spectrum records refuses sound, and steps one frame per record.
  corvanta_config records;
  corvanta_config_init(&records);
  records.input = CORVANTA_INPUT_SPECTRUM;
  records.seed_from_clock = 0;
  CHECK(corvanta_create(&records, &handle, message, sizeof message) == CORVANTA_OK, "spectrum handle: %s", message);
  CHECK(corvanta_feed_int16(handle, sound.pcm.data(), 1) == CORVANTA_ERROR_STATE, "sound to a spectrum handle");
  CHECK(corvanta_finish(handle) == CORVANTA_ERROR_STATE, "finish of a spectrum handle");
  CHECK(corvanta_step_spectrum(handle, nullptr, nullptr) == CORVANTA_ERROR_ARGUMENT, "null record");
  std::vector<uint8_t> record(CORVANTA_SPECTRUM_BYTES, 80);
  corvanta_frame frame;
  CHECK(corvanta_step_spectrum(handle, record.data(), &frame) == CORVANTA_OK && frame.number == 1,
        "a record steps a frame");
  corvanta_destroy(handle);
}

// The copies hold the world's picture in the order asked for, scaled by nearest neighbour.
void pictures_are_the_worlds() {
  const Sound sound = make_sound(44100, 2, 44100 * 5);
  std::vector<uint8_t> rgb;
  plain_traces(sound, 26, &rgb);
  corvanta* handle = create_pcm(sound, 26);
  if (handle == nullptr) return;
  corvanta_feed_int16(handle, sound.pcm.data(), sound.frames);
  corvanta_finish(handle);
  std::vector<std::string> lines;
  step_due(handle, lines);
  const int32_t stride = CORVANTA_WIDTH * 4 + 12;  // rows padded, as some hosts have them
  std::vector<uint8_t> rgba(static_cast<size_t>(stride) * CORVANTA_HEIGHT, 7);
  std::vector<uint8_t> bgra(rgba.size(), 7);
  CHECK(corvanta_copy_picture(handle, rgba.data(), stride, CORVANTA_RGBA) == CORVANTA_OK, "copy RGBA");
  CHECK(corvanta_copy_picture(handle, bgra.data(), stride, CORVANTA_BGRA) == CORVANTA_OK, "copy BGRA");
  int32_t wrong = 0;
  int32_t lit = 0;
  for (int32_t y = 0; y < CORVANTA_HEIGHT; ++y) {
    for (int32_t x = 0; x < CORVANTA_WIDTH; ++x) {
      const uint8_t* want = &rgb[static_cast<size_t>((y * CORVANTA_WIDTH + x) * 3)];
      const uint8_t* a = &rgba[static_cast<size_t>(y * stride + x * 4)];
      const uint8_t* b = &bgra[static_cast<size_t>(y * stride + x * 4)];
      wrong += a[0] != want[0] || a[1] != want[1] || a[2] != want[2] || a[3] != 255;
      wrong += b[2] != want[0] || b[1] != want[1] || b[0] != want[2] || b[3] != 255;
      lit += want[0] + want[1] + want[2] > 0;
    }
    wrong += rgba[static_cast<size_t>(y * stride + CORVANTA_WIDTH * 4)] != 7;  // the padding untouched
  }
  CHECK(wrong == 0, "%d pixels differ from the world's picture", wrong);
  CHECK(lit > 1000, "the picture is nearly black (%d pixels lit): nothing was compared", lit);

  // Twice the size: 2 x 2 blocks of one pixel; half the size: every other pixel.
  std::vector<uint8_t> big(2000 * 800 * 4);
  std::vector<uint8_t> small(500 * 200 * 4);
  CHECK(corvanta_copy_picture_scaled(handle, big.data(), 2000, 800, 2000 * 4, CORVANTA_RGBA) == CORVANTA_OK, "2x");
  CHECK(corvanta_copy_picture_scaled(handle, small.data(), 500, 200, 500 * 4, CORVANTA_RGBA) == CORVANTA_OK, "1/2");
  wrong = 0;
  for (int32_t y = 0; y < 800; ++y) {
    for (int32_t x = 0; x < 2000; ++x) {
      wrong += std::memcmp(&big[static_cast<size_t>((y * 2000 + x) * 4)], &rgba[static_cast<size_t>(y / 2 * stride + x / 2 * 4)], 4) != 0;
    }
  }
  for (int32_t y = 0; y < 200; ++y) {
    for (int32_t x = 0; x < 500; ++x) {
      wrong += std::memcmp(&small[static_cast<size_t>((y * 500 + x) * 4)],
                           &rgba[static_cast<size_t>((2 * y + 1) * stride + (2 * x + 1) * 4)], 4) != 0;
    }
  }
  CHECK(wrong == 0, "%d scaled pixels are not their nearest neighbour", wrong);
  corvanta_destroy(handle);
}

// A WAV file of 16-bit or 32-bit float samples, written byte by byte (little-endian).
bool write_wav(const std::string& path, const Sound& sound, bool floats) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const uint32_t bytes_per_sample = floats ? 4 : 2;
  const uint32_t data = static_cast<uint32_t>(sound.frames * sound.channels) * bytes_per_sample;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xff), file);
  };
  auto u16 = [&](uint32_t v) {
    std::fputc(static_cast<int>(v & 0xff), file);
    std::fputc(static_cast<int>((v >> 8) & 0xff), file);
  };
  std::fputs("RIFF", file);
  u32(36 + data);
  std::fputs("WAVEfmt ", file);
  u32(16);
  u16(floats ? 3 : 1);
  u16(static_cast<uint32_t>(sound.channels));
  u32(static_cast<uint32_t>(sound.rate));
  u32(static_cast<uint32_t>(sound.rate) * static_cast<uint32_t>(sound.channels) * bytes_per_sample);
  u16(static_cast<uint32_t>(sound.channels) * bytes_per_sample);
  u16(bytes_per_sample * 8);
  std::fputs("data", file);
  u32(data);
  for (size_t i = 0; i < sound.pcm.size(); ++i) {
    if (floats) {
      uint32_t bits;
      std::memcpy(&bits, &sound.floats[i], 4);
      u32(bits);
    } else {
      u16(static_cast<uint16_t>(sound.pcm[i]));
    }
  }
  return std::fclose(file) == 0;
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return lines;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    line[std::strcspn(line, "\n")] = '\0';
    lines.push_back(line);
  }
  std::fclose(file);
  return lines;
}

// The library's lines are corvanta-sim's own for the same WAV and seed.
void same_lines_as_corvanta_sim(const std::string& sim, const std::string& work) {
  struct Case {
    const char* name;
    int32_t rate, channels;
    int64_t frames;
    bool floats;
    bool not_finite;
  };
  const Case cases[] = {
      {"music-44100.wav", 44100, 2, 44100 * 8, false, false},
      {"mono-8000.wav", 8000, 1, 8000 * 3 + 17, false, false},
      {"float-48000.wav", 48000, 2, 48000 * 3, true, true},
  };
  for (const Case& c : cases) {
    Sound sound = make_sound(c.rate, c.channels, c.frames);
    if (c.not_finite) {
      sound.floats[2 * 40000] = std::numeric_limits<float>::quiet_NaN();
      sound.floats[2 * 90000 + 1] = std::numeric_limits<float>::infinity();
    }
    const std::string wav = work + "/" + c.name;
    const std::string trace = wav + ".trace";
    CHECK(write_wav(wav, sound, c.floats), "cannot write %s", wav.c_str());
    const std::string command = "'" + sim + "' --audio '" + wav + "' --seed 26 --trace '" + trace + "' >/dev/null";
    CHECK(std::system(command.c_str()) == 0, "%s failed", command.c_str());
    compare(c.name, read_lines(trace), library_traces(sound, 26, random_sizes(c.frames), c.floats));
    std::remove(wav.c_str());
    std::remove(trace.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string sim;
  std::string work;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) quick = true;
    if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) sim = argv[++i];
    if (std::strcmp(argv[i], "--work") == 0 && i + 1 < argc) work = argv[++i];
  }
  CHECK(corvanta_interface() == CORVANTA_INTERFACE, "interface");
  CHECK(std::strlen(corvanta_version()) >= 5, "version '%s'", corvanta_version());
  cutting_does_not_change_the_world();
  samples_that_are_not_finite_are_kept();
  two_worlds_are_independent();
  hostile_calls_are_refused_plainly();
  pictures_are_the_worlds();
  if (!sim.empty() && !work.empty()) same_lines_as_corvanta_sim(sim, work);
  if (failures > 0) {
    std::fprintf(stderr, "library_checks: %d checks failed\n", failures);
    return 1;
  }
  std::printf("library_checks: every check held%s\n", sim.empty() ? "" : ", corvanta-sim's lines included");
  return 0;
}
