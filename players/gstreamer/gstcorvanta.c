/*
 * The GStreamer element `corvanta`: the Corvanta world as a visualization, a thin layer
 * over libcorvanta.
 *
 * Audio in, 1000 x 400 pictures out, 40 per second of audio, the same frames and trace
 * lines as `corvanta-sim --audio FILE --seed S` however upstream cuts the sound into
 * buffers. It is a plain element, not a GstAudioVisualizer: that base class takes a
 * whole number of samples per picture (drifting against the sound at rates that 40 does
 * not divide) and drops what is left at the end of the stream. Here the library counts
 * the samples itself: every buffer is fed whole, every frame it makes due is stepped,
 * and at EOS corvanta_finish makes the last ones due.
 *
 * Timestamps: frame k of a stream (k from 0 since its first buffer) is stamped
 * first-buffer PTS + k / 40 s, lasting 1/40 s. Frame k reads the sound up to 1024
 * samples past its moment, so the element adds those samples to the latency it reports.
 * A flush, a new segment or a new stream is a discontinuity for the library: the world
 * goes on, the analysis starts afresh. Under QoS a late picture is not pushed, but its
 * frame is always stepped: the world never skips.
 */
#include <string.h>

#include <corvanta/corvanta.h>
#include <gst/audio/audio-format.h>
#include <gst/gst.h>
#include <gst/video/video.h>

GST_DEBUG_CATEGORY_STATIC(corvanta_debug);
#define GST_CAT_DEFAULT corvanta_debug

#define FRAME_DURATION (GST_SECOND / CORVANTA_FRAMES_PER_SECOND)

#define GST_TYPE_CORVANTA (gst_corvanta_get_type())
G_DECLARE_FINAL_TYPE(GstCorvanta, gst_corvanta, GST, CORVANTA, GstElement)

struct _GstCorvanta {
  GstElement element;
  GstPad *sinkpad;
  GstPad *srcpad;

  /* Properties, under the object lock. */
  gint64 seed; /* -1: the calendar's seconds when the world is made */
  gboolean post_messages;
  gboolean qos;
  guint world_seed;     /* the seed the world took, for the read-only property */
  GstClockTime latency; /* the library's look-ahead at the world's rate */

  /* The world and the formats: the streaming thread, or a state change while no data
   * flows. The world lives from the first caps to READY -> NULL, so a new song after
   * READY (playbin changing its uri) goes on in the same world. */
  corvanta *world;
  gint rate;
  gint channels;
  gboolean is_float;
  corvanta_pixel_format pixel_format;
  GstVideoInfo video_info;
  GstBufferPool *pool;

  /* The stream since the last discontinuity. */
  GstEvent *pending_segment; /* pushed before the first picture or EOS */
  GstSegment segment;
  GstClockTime stream_start; /* PTS of the stream's first sample */
  guint64 stream_frames;
  guint64 stream_samples;
  gboolean finished; /* corvanta_finish was called: the next sound is a new stream */
  gboolean discont;  /* the next picture pushed carries DISCONT */

  /* QoS, under the object lock. */
  gdouble proportion;
  GstClockTime earliest_time;
  guint64 processed;
  guint64 dropped;
};

G_DEFINE_TYPE(GstCorvanta, gst_corvanta, GST_TYPE_ELEMENT)

enum { PROP_0, PROP_SEED, PROP_WORLD_SEED, PROP_POST_MESSAGES, PROP_QOS };

#define DEFAULT_SEED (-1)
#define DEFAULT_POST_MESSAGES FALSE
#define DEFAULT_QOS TRUE

/* What the library takes: native-endian floats or 16-bit integers, interleaved. */
static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) { " GST_AUDIO_NE(F32) ", " GST_AUDIO_NE(S16) " }, "
                    "rate = (int) [ 8000, 192000 ], channels = (int) [ 1, 256 ], "
                    "layout = (string) interleaved"));

/* The picture as the library copies it; videoconvert, videoscale and videorate after the
 * element adapt it to whatever a sink wants. */
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { BGRx, RGBx, BGRA, RGBA }, "
                    "width = (int) 1000, height = (int) 400, framerate = (fraction) 40/1, "
                    "pixel-aspect-ratio = (fraction) 1/1"));

static void reset_qos(GstCorvanta *self) {
  GST_OBJECT_LOCK(self);
  self->proportion = 1.0;
  self->earliest_time = GST_CLOCK_TIME_NONE;
  self->processed = 0;
  self->dropped = 0;
  GST_OBJECT_UNLOCK(self);
}

/* A new stream: the library forgets the sound it holds and the frames not yet stepped
 * (they belong to sound that was flushed away), the world goes on. */
static void start_stream(GstCorvanta *self) {
  if (self->world != NULL) corvanta_discontinuity(self->world);
  self->stream_start = GST_CLOCK_TIME_NONE;
  self->stream_frames = 0;
  self->stream_samples = 0;
  self->finished = FALSE;
  self->discont = TRUE;
}

static gboolean picture_is_late(GstCorvanta *self, GstClockTime pts) {
  GST_OBJECT_LOCK(self);
  const gboolean qos = self->qos;
  const GstClockTime earliest = self->earliest_time;
  GST_OBJECT_UNLOCK(self);
  if (!qos || !GST_CLOCK_TIME_IS_VALID(earliest) || self->segment.format != GST_FORMAT_TIME) return FALSE;
  const GstClockTime running = gst_segment_to_running_time(&self->segment, GST_FORMAT_TIME, pts);
  return GST_CLOCK_TIME_IS_VALID(running) && running + FRAME_DURATION <= earliest;
}

static void post_qos_drop(GstCorvanta *self, GstClockTime pts) {
  GST_OBJECT_LOCK(self);
  const guint64 processed = self->processed, dropped = ++self->dropped;
  const gdouble proportion = self->proportion;
  const GstClockTime earliest = self->earliest_time;
  GST_OBJECT_UNLOCK(self);
  const GstClockTime running = gst_segment_to_running_time(&self->segment, GST_FORMAT_TIME, pts);
  GstMessage *message = gst_message_new_qos(GST_OBJECT(self), FALSE, running,
                                            gst_segment_to_stream_time(&self->segment, GST_FORMAT_TIME, pts),
                                            pts, FRAME_DURATION);
  gst_message_set_qos_values(message, GST_CLOCK_DIFF(running, earliest), proportion, 1000000);
  gst_message_set_qos_stats(message, GST_FORMAT_BUFFERS, processed, dropped);
  gst_element_post_message(GST_ELEMENT(self), message);
}

static void push_pending_segment(GstCorvanta *self) {
  if (self->pending_segment != NULL) {
    gst_pad_push_event(self->srcpad, self->pending_segment);
    self->pending_segment = NULL;
  }
}

/* The allocation downstream proposes, or a pool of our own: pictures go straight into
 * the sink's memory where it offers some, at whatever row stride it lays them out. */
static gboolean decide_allocation(GstCorvanta *self, GstCaps *caps) {
  GstQuery *query = gst_query_new_allocation(caps, TRUE);
  if (!gst_pad_peer_query(self->srcpad, query)) GST_DEBUG_OBJECT(self, "no allocation answer downstream");
  GstBufferPool *pool = NULL;
  guint size = (guint)GST_VIDEO_INFO_SIZE(&self->video_info), min = 0, max = 0;
  if (gst_query_get_n_allocation_pools(query) > 0) gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
  GstAllocator *allocator = NULL;
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  if (gst_query_get_n_allocation_params(query) > 0) gst_query_parse_nth_allocation_param(query, 0, &allocator, &params);
  if (pool == NULL) pool = gst_video_buffer_pool_new();
  size = MAX(size, (guint)GST_VIDEO_INFO_SIZE(&self->video_info));

  GstStructure *config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, size, min, max);
  gst_buffer_pool_config_set_allocator(config, allocator, &params);
  gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  gboolean ok = gst_buffer_pool_set_config(pool, config);
  if (!ok) {
    /* The pool changed what we asked for: take its word if it still fits. */
    config = gst_buffer_pool_get_config(pool);
    ok = gst_buffer_pool_config_validate_params(config, caps, size, min, max) &&
         gst_buffer_pool_set_config(pool, config);
    if (!ok) gst_structure_free(config);
  }
  if (allocator != NULL) gst_object_unref(allocator);
  gst_query_unref(query);
  if (ok) ok = gst_buffer_pool_set_active(pool, TRUE);
  if (!ok) {
    gst_object_unref(pool);
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Could not set up a buffer pool for the pictures."), (NULL));
    return FALSE;
  }
  if (self->pool != NULL) {
    gst_buffer_pool_set_active(self->pool, FALSE);
    gst_object_unref(self->pool);
  }
  self->pool = pool;
  return TRUE;
}

/* Picks the picture format downstream takes first of the four, and says plainly when it
 * takes none. */
static gboolean negotiate_src(GstCorvanta *self) {
  GstCaps *templ = gst_pad_get_pad_template_caps(self->srcpad);
  GstCaps *caps = gst_pad_peer_query_caps(self->srcpad, templ);
  if (gst_caps_is_empty(caps)) {
    GstCaps *downstream = gst_pad_peer_query_caps(self->srcpad, NULL);
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("corvanta's pictures are video/x-raw 1000x400 BGRx, RGBx, BGRA or RGBA at 40/1 fps, "
                       "and the element after it takes none of these: put videoconvert after corvanta."),
                      ("downstream takes %" GST_PTR_FORMAT, downstream));
    gst_caps_unref(downstream);
    gst_caps_unref(caps);
    gst_caps_unref(templ);
    return FALSE;
  }
  gst_caps_unref(templ);
  caps = gst_caps_fixate(caps);
  if (!gst_video_info_from_caps(&self->video_info, caps)) {
    gst_caps_unref(caps);
    return FALSE;
  }
  const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&self->video_info);
  self->pixel_format = format == GST_VIDEO_FORMAT_RGBx || format == GST_VIDEO_FORMAT_RGBA ? CORVANTA_RGBA : CORVANTA_BGRA;
  GST_DEBUG_OBJECT(self, "pictures as %" GST_PTR_FORMAT, caps);
  gboolean ok = gst_pad_set_caps(self->srcpad, caps) && decide_allocation(self, caps);
  gst_caps_unref(caps);
  return ok;
}

static GstFlowReturn push_picture(GstCorvanta *self, GstClockTime pts) {
  if (self->pool == NULL) return GST_FLOW_NOT_NEGOTIATED;
  GstBuffer *buffer = NULL;
  GstFlowReturn ret = gst_buffer_pool_acquire_buffer(self->pool, &buffer, NULL);
  if (ret != GST_FLOW_OK) return ret;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &self->video_info, buffer, GST_MAP_WRITE)) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not map a picture buffer."), (NULL));
    return GST_FLOW_ERROR;
  }
  corvanta_copy_picture(self->world, GST_VIDEO_FRAME_PLANE_DATA(&frame, 0), GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                        self->pixel_format);
  gst_video_frame_unmap(&frame);
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(buffer) = FRAME_DURATION;
  GST_BUFFER_OFFSET(buffer) = self->stream_frames - 1;
  if (self->discont) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    self->discont = FALSE;
  }
  push_pending_segment(self);
  GST_OBJECT_LOCK(self);
  self->processed++;
  GST_OBJECT_UNLOCK(self);
  return gst_pad_push(self->srcpad, buffer);
}

/* Steps every frame that is due and pushes its picture. Every due frame is stepped even
 * when a push fails or a picture is late, so the world stays with the sound; the first
 * failure is returned. */
static GstFlowReturn step_due(GstCorvanta *self) {
  GstFlowReturn result = GST_FLOW_OK;
  GST_OBJECT_LOCK(self);
  const gboolean post_messages = self->post_messages;
  GST_OBJECT_UNLOCK(self);
  while (corvanta_frames_due(self->world) > 0) {
    corvanta_frame frame;
    if (corvanta_step(self->world, &frame) != CORVANTA_OK) break;
    const GstClockTime pts =
        self->stream_start + gst_util_uint64_scale_int(self->stream_frames, GST_SECOND, CORVANTA_FRAMES_PER_SECOND);
    self->stream_frames++;
    if (post_messages) {
      char line[CORVANTA_TRACE_LINE_BYTES];
      corvanta_trace_line(self->world, line, sizeof line);
      GstStructure *s = gst_structure_new("corvanta-frame", "frame", G_TYPE_UINT64, (guint64)frame.number, "trace",
                                          G_TYPE_STRING, line, "timestamp", G_TYPE_UINT64, (guint64)pts, NULL);
      gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), s));
    }
    if (result != GST_FLOW_OK) continue;
    if (picture_is_late(self, pts)) {
      GST_DEBUG_OBJECT(self, "QoS: picture at %" GST_TIME_FORMAT " is late, not pushed", GST_TIME_ARGS(pts));
      post_qos_drop(self, pts);
      continue;
    }
    result = push_picture(self, pts);
  }
  return result;
}

/* The end of a stream: the library steps the frames whose moments lie in the sound it
 * got, reading silence past the end, as corvanta-sim does at the end of a file. */
static GstFlowReturn finish_stream(GstCorvanta *self) {
  if (self->world == NULL || self->finished) return GST_FLOW_OK;
  self->finished = TRUE;
  if (self->stream_samples == 0) return GST_FLOW_OK;
  corvanta_finish(self->world);
  return step_due(self);
}

/* Feeds `frames` sample frames (or silence when data is null) in pieces of a second, so
 * that the library never holds more than it takes. */
static GstFlowReturn feed(GstCorvanta *self, const guint8 *data, guint64 frames) {
  const gint bytes_per_frame = self->channels * (self->is_float ? 4 : 2);
  guint8 *silence = data == NULL ? g_malloc0((gsize)self->rate * bytes_per_frame) : NULL;
  GstFlowReturn result = GST_FLOW_OK, ret;
  for (guint64 at = 0; at < frames;) {
    const guint64 piece = MIN(frames - at, (guint64)self->rate);
    const guint8 *samples = data != NULL ? data + at * bytes_per_frame : silence;
    const corvanta_status status = self->is_float ? corvanta_feed_float(self->world, (const float *)samples, piece)
                                                  : corvanta_feed_int16(self->world, (const gint16 *)samples, piece);
    if (status != CORVANTA_OK) {
      GST_ELEMENT_ERROR(self, STREAM, FAILED, ("The world refused the sound."), ("%s", corvanta_last_error(self->world)));
      result = GST_FLOW_ERROR;
      break;
    }
    at += piece;
    self->stream_samples += piece;
    if ((ret = step_due(self)) != GST_FLOW_OK && result == GST_FLOW_OK) result = ret;
  }
  g_free(silence);
  return result;
}

static void begin_data(GstCorvanta *self, GstClockTime pts) {
  if (self->finished) start_stream(self); /* sound after EOS or after a drained stream */
  if (!GST_CLOCK_TIME_IS_VALID(self->stream_start)) {
    self->stream_start = GST_CLOCK_TIME_IS_VALID(pts) ? pts
                         : self->segment.format == GST_FORMAT_TIME ? self->segment.start
                                                                    : 0;
  }
}

static GstFlowReturn gst_corvanta_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
  GstCorvanta *self = GST_CORVANTA(parent);
  (void)pad;
  if (self->world == NULL) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("corvanta got sound before its format."), (NULL));
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (gst_pad_check_reconfigure(self->srcpad) && !negotiate_src(self)) {
    gst_pad_mark_reconfigure(self->srcpad);
    gst_buffer_unref(buffer);
    return GST_PAD_IS_FLUSHING(self->srcpad) ? GST_FLOW_FLUSHING : GST_FLOW_NOT_NEGOTIATED;
  }
  begin_data(self, GST_BUFFER_PTS(buffer));
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    gst_buffer_unref(buffer);
    GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a sound buffer."), (NULL));
    return GST_FLOW_ERROR;
  }
  const GstFlowReturn ret = feed(self, map.data, map.size / (self->channels * (self->is_float ? 4 : 2)));
  gst_buffer_unmap(buffer, &map);
  gst_buffer_unref(buffer);
  return ret;
}

/* The sound's format makes the world (at the first caps), or a new one when the rate or
 * the channel count changes: the library fixes both when it makes a world. */
static gboolean set_sink_caps(GstCorvanta *self, GstCaps *caps) {
  const GstStructure *s = gst_caps_get_structure(caps, 0);
  const gchar *format = gst_structure_get_string(s, "format");
  gint rate = 0, channels = 0;
  if (format == NULL || !gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels))
    return FALSE;
  const gboolean is_float = strcmp(format, GST_AUDIO_NE(F32)) == 0;
  if (self->world != NULL && (rate != self->rate || channels != self->channels)) {
    finish_stream(self);
    GST_INFO_OBJECT(self, "the sound is now %d Hz, %d channels: a new world", rate, channels);
    corvanta_destroy(self->world);
    self->world = NULL;
  }
  if (self->world == NULL) {
    corvanta_config config;
    corvanta_config_init(&config);
    GST_OBJECT_LOCK(self);
    config.seed = self->seed < 0 ? 0 : (guint32)self->seed;
    config.seed_from_clock = self->seed < 0;
    GST_OBJECT_UNLOCK(self);
    config.sample_rate = rate;
    config.channels = channels;
    char message[256];
    corvanta *world = NULL;
    if (corvanta_create(&config, &world, message, sizeof message) != CORVANTA_OK) {
      GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("Could not make a Corvanta world."), ("%s", message));
      return FALSE;
    }
    GST_OBJECT_LOCK(self);
    self->world = world;
    self->world_seed = corvanta_seed(world);
    self->latency = gst_util_uint64_scale_int_ceil(corvanta_latency(world), GST_SECOND, rate);
    GST_OBJECT_UNLOCK(self);
    GST_INFO_OBJECT(self, "a world with seed %u for %d Hz, %d channels", corvanta_seed(world), rate, channels);
    self->rate = rate;
    self->channels = channels;
    start_stream(self);
  }
  self->is_float = is_float;
  return negotiate_src(self);
}

static gboolean gst_corvanta_sink_event(GstPad *pad, GstObject *parent, GstEvent *event) {
  GstCorvanta *self = GST_CORVANTA(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
      GstCaps *caps;
      gst_event_parse_caps(event, &caps);
      const gboolean ok = set_sink_caps(self, caps);
      gst_event_unref(event);
      return ok;
    }
    case GST_EVENT_STREAM_START:
      /* A new song in the same element (gapless playback): the last one's frames are
       * stepped first, then the world goes on. */
      if (self->stream_samples > 0) {
        finish_stream(self);
        start_stream(self);
      }
      return gst_pad_event_default(pad, parent, event);
    case GST_EVENT_SEGMENT: {
      const GstSegment *segment;
      gst_event_parse_segment(event, &segment);
      /* A segment after sound without a flush (a non-flushing seek, a new song): the
       * sound before it ends there. */
      if (self->stream_samples > 0) {
        finish_stream(self);
        start_stream(self);
      }
      if (segment->format == GST_FORMAT_TIME) {
        gst_segment_copy_into(segment, &self->segment);
      } else {
        gst_segment_init(&self->segment, GST_FORMAT_TIME);
        guint32 seqnum = gst_event_get_seqnum(event);
        gst_event_unref(event);
        event = gst_event_new_segment(&self->segment);
        gst_event_set_seqnum(event, seqnum);
      }
      gst_event_replace(&self->pending_segment, event);
      gst_event_unref(event);
      return TRUE;
    }
    case GST_EVENT_FLUSH_STOP:
      start_stream(self);
      gst_event_replace(&self->pending_segment, NULL);
      reset_qos(self);
      gst_segment_init(&self->segment, GST_FORMAT_UNDEFINED);
      return gst_pad_event_default(pad, parent, event);
    case GST_EVENT_GAP: {
      /* Silence for the gap's length, so the frames keep to the stream's time. */
      GstClockTime timestamp, duration;
      gst_event_parse_gap(event, &timestamp, &duration);
      if (self->world != NULL && GST_CLOCK_TIME_IS_VALID(duration)) {
        begin_data(self, timestamp);
        feed(self, NULL, gst_util_uint64_scale_int(duration, self->rate, GST_SECOND));
      }
      gst_event_unref(event);
      return TRUE;
    }
    case GST_EVENT_EOS:
      finish_stream(self);
      push_pending_segment(self);
      return gst_pad_event_default(pad, parent, event);
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

static gboolean gst_corvanta_src_event(GstPad *pad, GstObject *parent, GstEvent *event) {
  GstCorvanta *self = GST_CORVANTA(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_QOS) {
    /* Kept here: a late picture is no reason for the sound upstream to skip. */
    GstQOSType type;
    gdouble proportion;
    GstClockTimeDiff diff;
    GstClockTime timestamp;
    gst_event_parse_qos(event, &type, &proportion, &diff, &timestamp);
    GST_OBJECT_LOCK(self);
    self->proportion = proportion;
    if (diff > 0)
      self->earliest_time = timestamp + 2 * diff + FRAME_DURATION;
    else
      self->earliest_time = timestamp + diff;
    GST_OBJECT_UNLOCK(self);
    gst_event_unref(event);
    return TRUE;
  }
  return gst_pad_event_default(pad, parent, event);
}

static gboolean gst_corvanta_src_query(GstPad *pad, GstObject *parent, GstQuery *query) {
  GstCorvanta *self = GST_CORVANTA(parent);
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    /* A picture leaves once the sound 1024 samples past its moment has come in. */
    if (!gst_pad_peer_query(self->sinkpad, query)) return FALSE;
    gboolean live;
    GstClockTime min, max;
    gst_query_parse_latency(query, &live, &min, &max);
    GST_OBJECT_LOCK(self);
    const GstClockTime ours = self->latency;
    GST_OBJECT_UNLOCK(self);
    if (GST_CLOCK_TIME_IS_VALID(ours)) {
      min += ours;
      if (GST_CLOCK_TIME_IS_VALID(max)) max += ours;
      GST_DEBUG_OBJECT(self, "latency %" GST_TIME_FORMAT " added", GST_TIME_ARGS(ours));
    }
    gst_query_set_latency(query, live, min, max);
    return TRUE;
  }
  return gst_pad_query_default(pad, parent, query);
}

static GstStateChangeReturn gst_corvanta_change_state(GstElement *element, GstStateChange transition) {
  GstCorvanta *self = GST_CORVANTA(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    reset_qos(self);
    gst_segment_init(&self->segment, GST_FORMAT_UNDEFINED);
    start_stream(self);
  }
  const GstStateChangeReturn ret = GST_ELEMENT_CLASS(gst_corvanta_parent_class)->change_state(element, transition);
  if (ret == GST_STATE_CHANGE_FAILURE) return ret;
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    gst_event_replace(&self->pending_segment, NULL);
    if (self->pool != NULL) {
      gst_buffer_pool_set_active(self->pool, FALSE);
      gst_object_unref(self->pool);
      self->pool = NULL;
    }
  } else if (transition == GST_STATE_CHANGE_READY_TO_NULL) {
    GST_OBJECT_LOCK(self);
    corvanta *world = self->world;
    self->world = NULL;
    self->world_seed = 0;
    self->latency = GST_CLOCK_TIME_NONE;
    GST_OBJECT_UNLOCK(self);
    corvanta_destroy(world);
  }
  return ret;
}

static void gst_corvanta_set_property(GObject *object, guint id, const GValue *value, GParamSpec *param) {
  GstCorvanta *self = GST_CORVANTA(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_SEED:
      self->seed = g_value_get_int64(value);
      break;
    case PROP_POST_MESSAGES:
      self->post_messages = g_value_get_boolean(value);
      break;
    case PROP_QOS:
      self->qos = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
  }
  GST_OBJECT_UNLOCK(self);
}

static void gst_corvanta_get_property(GObject *object, guint id, GValue *value, GParamSpec *param) {
  GstCorvanta *self = GST_CORVANTA(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_SEED:
      g_value_set_int64(value, self->seed);
      break;
    case PROP_WORLD_SEED:
      g_value_set_uint(value, self->world_seed);
      break;
    case PROP_POST_MESSAGES:
      g_value_set_boolean(value, self->post_messages);
      break;
    case PROP_QOS:
      g_value_set_boolean(value, self->qos);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
  }
  GST_OBJECT_UNLOCK(self);
}

static void gst_corvanta_finalize(GObject *object) {
  GstCorvanta *self = GST_CORVANTA(object);
  corvanta_destroy(self->world);
  gst_event_replace(&self->pending_segment, NULL);
  if (self->pool != NULL) gst_object_unref(self->pool);
  G_OBJECT_CLASS(gst_corvanta_parent_class)->finalize(object);
}

static void gst_corvanta_class_init(GstCorvantaClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS(klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
  object_class->set_property = gst_corvanta_set_property;
  object_class->get_property = gst_corvanta_get_property;
  object_class->finalize = gst_corvanta_finalize;
  element_class->change_state = gst_corvanta_change_state;

  g_object_class_install_property(
      object_class, PROP_SEED,
      g_param_spec_int64("seed", "Seed",
                         "The world's seed, 0 to 4294967295: the same sound and seed give the same world as "
                         "corvanta-sim --audio FILE --seed S. -1: the calendar's seconds when the world is made, "
                         "so each world differs (world-seed tells which). Taken when the world is made, at the "
                         "first caps after the element leaves NULL",
                         -1, G_MAXUINT32, DEFAULT_SEED,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(
      object_class, PROP_WORLD_SEED,
      g_param_spec_uint("world-seed", "World seed",
                        "The seed the current world took (0 before there is one): give it to corvanta-sim --seed "
                        "to see the same world",
                        0, G_MAXUINT32, 0, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
  g_object_class_install_property(
      object_class, PROP_POST_MESSAGES,
      g_param_spec_boolean("post-messages", "Post messages",
                           "Post an element message \"corvanta-frame\" after every frame, with the fields frame "
                           "(guint64, frames since the world was made), trace (the line corvanta-sim --trace writes "
                           "for it) and timestamp (the picture's PTS)",
                           DEFAULT_POST_MESSAGES, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING));
  g_object_class_install_property(
      object_class, PROP_QOS,
      g_param_spec_boolean("qos", "QoS",
                           "Leave out pictures that would reach the sink late; the world still steps every frame",
                           DEFAULT_QOS, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING));

  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(
      element_class, "Corvanta", "Visualization",
      "An artificial-life world that lives on the music: 1000x400 pictures, 40 a second of sound, "
      "the same frames as corvanta-sim",
      "The Corvanta developers");
}

/* Sound the element cannot take is refused before its event function sees the caps
 * (GStreamer checks them against the pad first), and upstream then reports no more than
 * "not-negotiated". This probe on the element's own pad sees the caps first and says
 * what the element takes and what to put before it. */
static GstPadProbeReturn refuse_clearly(GstPad *pad, GstPadProbeInfo *info, gpointer data) {
  GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
  (void)data;
  if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
  GstCaps *caps;
  gst_event_parse_caps(event, &caps);
  if (!gst_pad_query_accept_caps(pad, caps)) {
    GstElement *self = GST_ELEMENT(gst_pad_get_parent(pad));
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("corvanta takes interleaved " GST_AUDIO_NE(F32) " or " GST_AUDIO_NE(S16) " sound at 8000 to "
                       "192000 Hz with 1 to 256 channels: put audioconvert and audioresample before it."),
                      ("it was offered %" GST_PTR_FORMAT, caps));
    gst_object_unref(self);
  }
  return GST_PAD_PROBE_OK;
}

static void gst_corvanta_init(GstCorvanta *self) {
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_chain_function(self->sinkpad, GST_DEBUG_FUNCPTR(gst_corvanta_chain));
  gst_pad_set_event_function(self->sinkpad, GST_DEBUG_FUNCPTR(gst_corvanta_sink_event));
  gst_pad_add_probe(self->sinkpad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, refuse_clearly, NULL, NULL);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

  self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
  gst_pad_set_event_function(self->srcpad, GST_DEBUG_FUNCPTR(gst_corvanta_src_event));
  gst_pad_set_query_function(self->srcpad, GST_DEBUG_FUNCPTR(gst_corvanta_src_query));
  gst_element_add_pad(GST_ELEMENT(self), self->srcpad);

  self->seed = DEFAULT_SEED;
  self->post_messages = DEFAULT_POST_MESSAGES;
  self->qos = DEFAULT_QOS;
  self->latency = GST_CLOCK_TIME_NONE;
  gst_segment_init(&self->segment, GST_FORMAT_UNDEFINED);
  reset_qos(self);
  start_stream(self);
}

static gboolean plugin_init(GstPlugin *plugin) {
  GST_DEBUG_CATEGORY_INIT(corvanta_debug, "corvanta", 0, "Corvanta visualization");
  return gst_element_register(plugin, "corvanta", GST_RANK_NONE, GST_TYPE_CORVANTA);
}

/* The plug-in's description: GST_PLUGIN_DEFINE names PACKAGE and leaves the reserved
 * fields of its struct to their zero default. */
#define PACKAGE "corvanta"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, corvanta,
                  "Corvanta: an artificial-life world that lives on the music", plugin_init, CORVANTA_VERSION,
                  "MIT/X11", "Corvanta", "Corvanta sources, docs/players.md")
