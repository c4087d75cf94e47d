/*
 * The GStreamer element (GST_PLUGIN_PATH names the build's plug-in) held to corvanta-sim.
 *   gst_checks same-world SEED SONG.wav SIM.trace [SONG.wav SIM.trace ...]
 *     Each song (16-bit or float WAV) pushed in buffers of 256 samples as 16-bit integers
 *     and of 4410 as floats (x / 32768, the same sound to the library), then played by
 *     playbin with the element as its vis-plugin: every frame's trace line (the element's
 *     messages) and picture (its digest over R, G, B is the line's picture digest) are
 *     corvanta-sim's, each picture stamped k / 40 s.
 *   gst_checks hosts SONG.wav
 *     Sound it cannot take is refused with its own message; EOS before any sound; a
 *     flushing seek in the middle of a song played in real time.
 *   gst_checks cycles N
 *     N starts and stops of a pipeline, every other one in the middle of the sound (run
 *     under valgrind or the sanitizers).
 */
#include <gst/app/gstappsink.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;
#define CHECK(condition, ...)                                                                                \
  do {                                                                                                       \
    if (!(condition))                                                                                        \
      failures++, fprintf(stderr, "gst_checks:%d: failed: ", __LINE__), fprintf(stderr, __VA_ARGS__), fputc('\n', stderr); \
  } while (0)

/* What a run showed: its pictures' stamps and digests, the element's frame messages. */
static GArray *pts, *digests, *frames, *stamps;
static GPtrArray *lines;

static void forget(void) {
  g_array_set_size(pts, 0), g_array_set_size(digests, 0), g_array_set_size(frames, 0), g_array_set_size(stamps, 0);
  g_ptr_array_set_size(lines, 0);
}

/* corvanta-sim's picture digest: FNV-1a 64 over R, G, B, rows top to bottom. */
static void take_picture(GstBuffer *buffer, GstCaps *caps) {
  GstVideoInfo info;
  GstVideoFrame frame;
  if (!gst_video_info_from_caps(&info, caps) || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return;
  const int r = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx ? 2 : 0;
  guint64 hash = 0xcbf29ce484222325ull;
  for (gint y = 0; y < GST_VIDEO_INFO_HEIGHT(&info); y++) {
    const guint8 *p = (const guint8 *)GST_VIDEO_FRAME_PLANE_DATA(&frame, 0) + y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (gint x = 0; x < GST_VIDEO_INFO_WIDTH(&info); x++, p += 4)
      hash = (((((hash ^ p[r]) * 0x100000001b3ull) ^ p[1]) * 0x100000001b3ull) ^ p[2 - r]) * 0x100000001b3ull;
  }
  gst_video_frame_unmap(&frame);
  g_array_append_val(digests, hash);
  g_array_append_val(pts, GST_BUFFER_PTS(buffer));
  CHECK(GST_BUFFER_DURATION(buffer) == GST_SECOND / 40 && GST_VIDEO_INFO_WIDTH(&info) == 1000 &&
            GST_VIDEO_INFO_HEIGHT(&info) == 400, "a picture of %" GST_PTR_FORMAT " lasting %" G_GUINT64_FORMAT, caps,
        GST_BUFFER_DURATION(buffer));
}

/* Takes the bus's frame messages, waiting up to `wait` for each; returns EOS or an error. */
static GstMessage *take_messages(GstBus *bus, GstClockTime wait) {
  for (GstMessage *m; (m = gst_bus_timed_pop_filtered(bus, wait, GST_MESSAGE_ELEMENT | GST_MESSAGE_EOS | GST_MESSAGE_ERROR));) {
    const GstStructure *s = gst_message_get_structure(m);
    guint64 frame, stamp;
    if (GST_MESSAGE_TYPE(m) != GST_MESSAGE_ELEMENT) return m;
    if (gst_structure_has_name(s, "corvanta-frame") && gst_structure_get_uint64(s, "frame", &frame) &&
        gst_structure_get_uint64(s, "timestamp", &stamp)) {
      g_array_append_val(frames, frame);
      g_array_append_val(stamps, stamp);
      g_ptr_array_add(lines, g_strdup(gst_structure_get_string(s, "trace")));
    }
    gst_message_unref(m);
  }
  return NULL;
}

static void same_as_sim(const char *what, gchar **sim) {
  const guint count = g_strv_length(sim);
  CHECK(lines->len == count && digests->len == count, "%s: %u lines, %u pictures; corvanta-sim traced %u", what,
        lines->len, digests->len, count);
  for (guint k = 0; k < count && k < lines->len && k < digests->len; k++) {
    const guint64 digest = g_ascii_strtoull(strrchr(sim[k], ' ') + 1, NULL, 16);
    const GstClockTime at = g_array_index(pts, GstClockTime, k);
    if (strcmp(lines->pdata[k], sim[k]) != 0 || g_array_index(digests, guint64, k) != digest || at != k * GST_SECOND / 40) {
      CHECK(FALSE, "%s: frame %u: '%s', picture %016" G_GINT64_MODIFIER "x at %" GST_TIME_FORMAT "; corvanta-sim: '%s'",
            what, k + 1, (char *)lines->pdata[k], g_array_index(digests, guint64, k), GST_TIME_ARGS(at), sim[k]);
      return;
    }
  }
}

/* A WAV's 16-bit integer (format 1) or float (format 3) samples. */
typedef struct {
  gchar *bytes;
  const guint8 *data;
  gsize frames;
  guint format, channels, rate;
} Wav;

static gboolean read_wav(const char *path, Wav *wav) {
  gsize size = 0, n;
  memset(wav, 0, sizeof *wav);
  if (!g_file_get_contents(path, &wav->bytes, &size, NULL)) return FALSE;
  const guint8 *b = (const guint8 *)wav->bytes;
  for (gsize at = 12; at + 8 <= size; at += 8 + ((n + 1) & ~(gsize)1)) {
    n = GST_READ_UINT32_LE(b + at + 4);
    if (memcmp(b + at, "fmt ", 4) == 0)
      wav->format = GST_READ_UINT16_LE(b + at + 8), wav->channels = GST_READ_UINT16_LE(b + at + 10),
      wav->rate = GST_READ_UINT32_LE(b + at + 12);
    if (memcmp(b + at, "data", 4) == 0 && wav->channels) {
      wav->data = b + at + 8;
      wav->frames = MIN(n, size - at - 8) / (wav->channels * (wav->format == 3 ? 4 : 2));
      return TRUE;
    }
  }
  return FALSE;
}

/* The song through the element in buffers of `piece` samples, as 16-bit integers or
 * floats, the pictures asked for as `picture`. */
static void push_song(const Wav *wav, gsize piece, gboolean floats, const char *picture, const char *seed) {
  GstHarness *h = gst_harness_new("corvanta");
  GstBus *bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  gst_util_set_object_arg(G_OBJECT(h->element), "seed", seed);
  g_object_set(h->element, "post-messages", TRUE, NULL);
  gchar *caps = g_strdup_printf("audio/x-raw,format=%s,layout=interleaved,rate=%u,channels=%u", floats ? "F32LE" : "S16LE",
                                wav->rate, wav->channels);
  gst_harness_set_src_caps_str(h, caps);
  gchar *video = g_strdup_printf("video/x-raw,format=%s,width=1000,height=400,framerate=40/1", picture);
  gst_harness_set_sink_caps_str(h, video);
  for (gsize at = 0, n = 1; n > 0; at += piece) {
    const gsize values = (n = MIN(piece, wav->frames - MIN(at, wav->frames))) * wav->channels;
    if (n == 0) {
      gst_harness_push_event(h, gst_event_new_eos());
    } else {
      GstBuffer *buffer = gst_buffer_new_allocate(NULL, values * (floats ? 4 : 2), NULL);
      GstMapInfo map;
      gst_buffer_map(buffer, &map, GST_MAP_WRITE);
      for (gsize v = 0; v < values; v++) {
        const guint8 *in = wav->data + (at * wav->channels + v) * (wav->format == 3 ? 4 : 2);
        const gfloat f = wav->format == 3 ? GST_READ_FLOAT_LE(in) : (gint16)GST_READ_UINT16_LE(in) / 32768.0f;
        if (floats) GST_WRITE_FLOAT_LE(map.data + 4 * v, f);
        else GST_WRITE_UINT16_LE(map.data + 2 * v, (guint16)(gint16)(f * 32768.0f));
      }
      gst_buffer_unmap(buffer, &map);
      GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(at, GST_SECOND, wav->rate);
      gst_harness_push(h, buffer);
    }
    for (GstBuffer *out; (out = gst_harness_try_pull(h)) != NULL; gst_buffer_unref(out)) {
      GstCaps *now = gst_pad_get_current_caps(h->sinkpad);
      take_picture(out, now);
      gst_caps_unref(now);
    }
    take_messages(bus, 0);
  }
  gst_object_unref(bus);
  gst_harness_teardown(h);
  g_free(caps), g_free(video);
}

static GstFlowReturn on_sample(GstAppSink *sink, gpointer data) {
  GstSample *sample = gst_app_sink_pull_sample(sink);
  (void)data;
  take_picture(gst_sample_get_buffer(sample), gst_sample_get_caps(sample));
  gst_sample_unref(sample);
  return GST_FLOW_OK;
}

/* Plays a pipeline description to its end, taking its messages; `midway` (if any) runs
 * between two waits until it says it is done. */
static void play(const char *description, gboolean (*midway)(GstElement *)) {
  GstElement *pipeline = gst_parse_launch(description, NULL), *sink = gst_bin_get_by_name(GST_BIN(pipeline), "pictures");
  GstAppSinkCallbacks callbacks = {.new_sample = on_sample};
  if (sink == NULL && g_object_class_find_property(G_OBJECT_GET_CLASS(pipeline), "video-sink"))
    g_object_get(pipeline, "video-sink", &sink, NULL);
  if (sink) gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, NULL, NULL), gst_object_unref(sink);
  GstBus *bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstMessage *end = NULL;
  for (gint64 limit = g_get_monotonic_time() + 300 * G_USEC_PER_SEC; !end && g_get_monotonic_time() < limit;) {
    end = take_messages(bus, 20 * GST_MSECOND);
    if (midway && midway(pipeline)) midway = NULL;
  }
  CHECK(end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS, "%s ended with %s", description,
        end ? GST_MESSAGE_TYPE_NAME(end) : "nothing");
  if (end) gst_message_unref(end);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  take_messages(bus, 0);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
}

static void same_world(int count, char **args, const char *seed) {
  for (int i = 0; i + 1 < count; i += 2) {
    Wav wav;
    gchar *text = NULL;
    if (!read_wav(args[i], &wav) || !g_file_get_contents(args[i + 1], &text, NULL, NULL)) {
      CHECK(FALSE, "cannot read %s or %s", args[i], args[i + 1]);
      continue;
    }
    gchar **sim = g_strsplit(g_strchomp(text), "\n", -1);
    push_song(&wav, 256, FALSE, "RGBx", seed);
    same_as_sim("256-sample 16-bit buffers", sim);
    forget();
    push_song(&wav, 4410, TRUE, "BGRx", seed);
    same_as_sim("4410-sample float buffers", sim);
    forget();
    gchar *uri = gst_filename_to_uri(args[i], NULL);
    gchar *playbin = g_strdup_printf("playbin uri=%s flags=audio+vis vis-plugin=\"corvanta seed=%s post-messages=true\" "
                                     "video-sink=\"appsink sync=false\" audio-sink=\"fakesink sync=false\"", uri, seed);
    play(playbin, NULL);
    same_as_sim("playbin's vis-plugin", sim);
    forget();
    g_strfreev(sim), g_free(text), g_free(wav.bytes), g_free(uri), g_free(playbin);
  }
}

/* Sound of a rate the library does not take: the element's own error says what it takes.
 * EOS before any sound, with the format known and without: EOS passes, nothing else. */
static void refusal_and_early_eos(void) {
  for (int i = 0; i < 3; i++) {
    GstHarness *h = gst_harness_new("corvanta");
    GstBus *bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    if (i < 2) gst_harness_set_src_caps_str(h, i ? "audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=2"
                                                 : "audio/x-raw,format=S16LE,layout=interleaved,rate=4000,channels=1");
    GstMessage *error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    GError *e = NULL;
    if (error) gst_message_parse_error(error, &e, NULL), gst_message_unref(error);
    if (i == 0) CHECK(e && strstr(e->message, "8000 to 192000 Hz"), "4000 Hz sound: %s", e ? e->message : "no error");
    gst_harness_push_event(h, gst_event_new_eos());
    GstEvent *eos = gst_pad_get_sticky_event(h->sinkpad, GST_EVENT_EOS, 0);
    if (i > 0) CHECK(!e && eos && gst_harness_buffers_received(h) == 0, "EOS before sound, case %d", i);
    if (eos) gst_event_unref(eos);
    if (e) g_error_free(e);
    gst_object_unref(bus);
    gst_harness_teardown(h);
  }
}

/* A flushing seek once a second has played: the world goes on (one frame number after
 * another), the frames from there stamped from the seek's position, the rest of the song
 * stepped whole even where QoS leaves pictures out. */
#define SEEK_TO (6 * GST_SECOND)
static gboolean seek_after_a_second(GstElement *pipeline) {
  gint64 position = 0;
  if (!gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) || position < GST_SECOND) return FALSE;
  CHECK(gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, SEEK_TO), "seek");
  return TRUE;
}

static void flushing_seek(const char *path) {
  Wav wav;
  gchar *description = g_strdup_printf("filesrc location=\"%s\" ! wavparse ! corvanta post-messages=true ! fakesink sync=true qos=true", path);
  play(description, seek_after_a_second);
  guint after = 0;
  while (after < stamps->len && g_array_index(stamps, guint64, after) != SEEK_TO) after++;
  const guint64 rest = read_wav(path, &wav) ? wav.frames - SEEK_TO / GST_SECOND * wav.rate : 0, due = (40 * rest - 1) / wav.rate + 1;
  CHECK(after > 0 && stamps->len - after == due, "%u frames before the seek, %u after; the rest has %" G_GUINT64_FORMAT, after,
        stamps->len - after, due);
  for (guint i = 0; i < frames->len; i++) {
    const guint64 at = i < after ? i * GST_SECOND / 40 : SEEK_TO + (i - after) * GST_SECOND / 40;
    if (g_array_index(frames, guint64, i) != i + 1 || g_array_index(stamps, guint64, i) != at) {
      CHECK(FALSE, "message %u: frame %" G_GUINT64_FORMAT " at %" G_GUINT64_FORMAT ", due frame %u at %" G_GUINT64_FORMAT, i,
            g_array_index(frames, guint64, i), g_array_index(stamps, guint64, i), i + 1, at);
      break;
    }
  }
  forget();
  g_free(description), g_free(wav.bytes);
}

/* Starts and stops: every other one stopped once it plays, in the middle of the sound. */
static void cycles(int count) {
  const char *description = "audiotestsrc num-buffers=20 samplesperbuffer=2205 wave=pink-noise ! corvanta ! videoconvert ! fakesink sync=false";
  for (int i = 0; i < count; i++) {
    if (i % 2) {
      play(description, NULL);
      continue;
    }
    GstElement *pipeline = gst_parse_launch(description, NULL);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    CHECK(gst_element_get_state(pipeline, NULL, NULL, 120 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS, "cycle %d", i);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
  }
}

int main(int argc, char **argv) {
  gst_init(&argc, &argv);
  pts = g_array_new(FALSE, FALSE, 8), digests = g_array_new(FALSE, FALSE, 8);
  frames = g_array_new(FALSE, FALSE, 8), stamps = g_array_new(FALSE, FALSE, 8);
  lines = g_ptr_array_new_with_free_func(g_free);
  GstElementFactory *factory = gst_element_factory_find("corvanta");
  if (factory == NULL) return fprintf(stderr, "gst_checks: no element corvanta (GST_PLUGIN_PATH=%s)\n", g_getenv("GST_PLUGIN_PATH")), 1;
  gst_object_unref(factory);
  if (argc >= 5 && strcmp(argv[1], "same-world") == 0) {
    same_world(argc - 3, argv + 3, argv[2]);
  } else if (argc == 3 && strcmp(argv[1], "hosts") == 0) {
    refusal_and_early_eos();
    flushing_seek(argv[2]);
  } else if (argc == 3 && strcmp(argv[1], "cycles") == 0) {
    cycles(atoi(argv[2]));
  } else {
    return fprintf(stderr, "usage: %s same-world SEED SONG.wav SIM.trace... | hosts SONG.wav | cycles N\n", argv[0]), 2;
  }
  g_array_free(pts, TRUE), g_array_free(digests, TRUE), g_array_free(frames, TRUE), g_array_free(stamps, TRUE);
  g_ptr_array_free(lines, TRUE);
  gst_deinit();
  if (failures == 0) printf("gst_checks %s: every check holds\n", argv[1]);
  return failures != 0;
}
