/*
 * The VLC 3.0 visualization `corvanta`: the Corvanta world in VLC's video output, a thin
 * layer over libcorvanta. Chosen with --audio-visual=corvanta, or in the preferences
 * (All) under Audio > Visualizations.
 *
 * VLC hands an audio filter its blocks as float32 at the input's rate (the
 * visualizations sit before the resampler). The module passes the sound on untouched
 * and feeds a copy to the library, which steps the world 40 times per second of that
 * sound, exactly as it steps it for corvanta-sim --audio: every block whole, every due
 * frame stepped. The stepping and drawing run on a thread of their own (VLC's own
 * `visual` module does the same), so a slow picture never holds up the sound.
 *
 * Each picture is dated when its frame's moment is heard: the date of the block that
 * holds the moment, plus the moment's offset into it. VLC's video output shows it then,
 * or drops it if it is late; a picture already late is not even drawn, but its frame is
 * always stepped. A flush (a seek) is a discontinuity for the library: the world goes
 * on. A drain (the end of the stream) steps the last frames on silence, as corvanta-sim
 * does at the end of a file.
 *
 * VLC makes the visualization anew for each input (and when the audio output restarts),
 * so each song starts a new world: with --corvanta-seed=S a song shows exactly the world
 * corvanta-sim --audio SONG --seed S shows.
 */
#include <inttypes.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdlib.h>

#include <corvanta/corvanta.h>

/* The module's own terms, in place of VLC's defaults for its own modules. */
#define VLC_MODULE_COPYRIGHT "Copyright (C) the Corvanta developers"
#define VLC_MODULE_LICENSE "Licensed under the MIT licence"
#include <vlc_common.h>
#include <vlc_aout.h>
#include <vlc_block.h>
#include <vlc_filter.h>
#include <vlc_picture.h>
#include <vlc_plugin.h>
#include <vlc_vout.h>

/* VLC's own modules mark their strings for VLC's translations; these have none. */
#define N_(text) (text)

#define SEED_TEXT N_("Seed")
#define SEED_LONGTEXT                                                                                     \
  N_("The world's seed, 0 to 4294967295: the same song and seed give the same world as "                  \
     "corvanta-sim --audio SONG --seed S. -1: the calendar's seconds when the song starts, so each world " \
     "differs (the log says which seed it took).")
#define TRACE_TEXT N_("Log each frame's trace line")
#define TRACE_LONGTEXT                                                                             \
  N_("Log the line corvanta-sim --trace writes for every frame (debug messages of the corvanta " \
     "module, \"trace FRAME POPULATION WORLD-DIGEST PICTURE-DIGEST\"), to check which world is shown.")

static int Open(vlc_object_t *);
static void Close(vlc_object_t *);

vlc_module_begin()
  set_shortname(N_("Corvanta"))
  set_description(N_("Corvanta: an artificial-life world that lives on the music"))
  set_category(CAT_AUDIO)
  set_subcategory(SUBCAT_AUDIO_VISUAL)
  set_capability("visualization", 0)
  add_integer_with_range("corvanta-seed", -1, -1, UINT32_MAX, SEED_TEXT, SEED_LONGTEXT, false)
  add_bool("corvanta-trace", false, TRACE_TEXT, TRACE_LONGTEXT, true)
  add_shortcut("corvanta")
  set_callbacks(Open, Close)
vlc_module_end()

struct filter_sys_t {
  corvanta *world;
  vout_thread_t *vout;
  block_fifo_t *fifo;
  vlc_thread_t thread;
  bool trace;
  unsigned rate;

  /* A drain waits until the thread has stepped the stream's last frames. */
  vlc_mutex_t lock;
  vlc_cond_t drained;
  unsigned drains_asked;
  unsigned drains_done;

  /* The thread's own: the stream since the last discontinuity. */
  int64_t stream_samples;
  int64_t stream_frames;
  int64_t block_sample; /* the stream's sample at the start of the last block */
  mtime_t block_date;   /* and that block's date */
  bool finished;
};

/* Markers in the thread's queue, told from sound by their invalid date (VLC dates every
 * block it plays). */
static void put_marker(filter_sys_t *sys, uint32_t flags) {
  block_t *marker = block_Alloc(0);
  if (marker == NULL) return;
  marker->i_flags = flags;
  marker->i_pts = marker->i_dts = VLC_TS_INVALID;
  block_FifoPut(sys->fifo, marker);
}

static void start_stream(filter_sys_t *sys) {
  corvanta_discontinuity(sys->world);
  sys->stream_samples = 0;
  sys->stream_frames = 0;
  sys->finished = false;
}

static void step_due(filter_t *filter) {
  filter_sys_t *sys = filter->p_sys;
  while (corvanta_frames_due(sys->world) > 0) {
    if (corvanta_step(sys->world, NULL) != CORVANTA_OK) return;
    /* Frame k's moment is sample floor(k * rate / 40) of the stream. */
    const int64_t moment = sys->stream_frames * sys->rate / CORVANTA_FRAMES_PER_SECOND;
    sys->stream_frames++;
    const mtime_t date = sys->block_date + (moment - sys->block_sample) * CLOCK_FREQ / (int64_t)sys->rate;
    if (sys->trace) {
      char line[CORVANTA_TRACE_LINE_BYTES];
      corvanta_trace_line(sys->world, line, sizeof line);
      msg_Dbg(filter, "trace %s", line);
    }
    const mtime_t late = mdate() - date;
    if (late > 0) { /* the video output would drop it */
      msg_Dbg(filter, "frame %" PRId64 " late by %" PRId64 " us: not drawn", corvanta_frame_number(sys->world), late);
      continue;
    }
    picture_t *picture = vout_GetPicture(sys->vout);
    if (picture == NULL) continue;
    corvanta_copy_picture(sys->world, picture->p[0].p_pixels, picture->p[0].i_pitch, CORVANTA_BGRA);
    picture->date = date;
    /* Whole pictures: without this VLC's automatic deinterlacing blends lines of them. */
    picture->b_progressive = true;
    vout_PutPicture(sys->vout, picture);
  }
}

static void play(filter_t *filter, const block_t *block) {
  filter_sys_t *sys = filter->p_sys;
  if (sys->finished) start_stream(sys); /* sound after a drain */
  sys->block_sample = sys->stream_samples;
  sys->block_date = block->i_pts;
  if (corvanta_feed_float(sys->world, (const float *)block->p_buffer, block->i_nb_samples) != CORVANTA_OK) {
    msg_Err(filter, "the world refused the sound: %s", corvanta_last_error(sys->world));
    return;
  }
  sys->stream_samples += block->i_nb_samples;
  step_due(filter);
}

static void *Thread(void *data) {
  filter_t *filter = data;
  filter_sys_t *sys = filter->p_sys;
  for (;;) {
    block_t *block = block_FifoGet(sys->fifo);
    const int canc = vlc_savecancel();
    if (block->i_pts != VLC_TS_INVALID) {
      play(filter, block);
    } else if (block->i_flags & BLOCK_FLAG_END_OF_SEQUENCE) {
      if (!sys->finished && sys->stream_samples > 0) {
        corvanta_finish(sys->world);
        step_due(filter);
      }
      sys->finished = true;
      vlc_mutex_lock(&sys->lock);
      sys->drains_done++;
      vlc_cond_broadcast(&sys->drained);
      vlc_mutex_unlock(&sys->lock);
    } else if (block->i_flags & BLOCK_FLAG_DISCONTINUITY) {
      if (sys->stream_samples > 0 && !sys->finished)
        msg_Dbg(filter, "a new stream after frame %" PRId64 ": the world goes on", corvanta_frame_number(sys->world));
      start_stream(sys);
    }
    block_Release(block);
    vlc_restorecancel(canc);
  }
  vlc_assert_unreachable();
}

/* The sound goes on unchanged; a copy goes to the thread. */
static block_t *DoWork(filter_t *filter, block_t *block) {
  block_t *copy = block_Duplicate(block);
  if (likely(copy != NULL)) block_FifoPut(filter->p_sys->fifo, copy);
  return block;
}

/* A seek: the sound not yet analysed is dropped, the world goes on. */
static void Flush(filter_t *filter) {
  block_FifoEmpty(filter->p_sys->fifo);
  put_marker(filter->p_sys, BLOCK_FLAG_DISCONTINUITY);
}

/* The end of the stream: the last frames are stepped before VLC closes the filter. */
static block_t *Drain(filter_t *filter) {
  filter_sys_t *sys = filter->p_sys;
  vlc_mutex_lock(&sys->lock);
  const unsigned ticket = ++sys->drains_asked;
  vlc_mutex_unlock(&sys->lock);
  put_marker(sys, BLOCK_FLAG_END_OF_SEQUENCE);
  vlc_mutex_lock(&sys->lock);
  while (sys->drains_done < ticket) vlc_cond_wait(&sys->drained, &sys->lock);
  vlc_mutex_unlock(&sys->lock);
  return NULL;
}

static int Open(vlc_object_t *object) {
  filter_t *filter = (filter_t *)object;
  const unsigned rate = filter->fmt_in.audio.i_rate;
  const unsigned channels = aout_FormatNbChannels(&filter->fmt_in.audio);
  if (rate < CORVANTA_MIN_SAMPLE_RATE || rate > CORVANTA_MAX_SAMPLE_RATE || channels < 1 ||
      channels > CORVANTA_MAX_CHANNELS) {
    msg_Err(filter, "corvanta takes %d to %d Hz and 1 to %d channels, not %u Hz and %u channels",
            CORVANTA_MIN_SAMPLE_RATE, CORVANTA_MAX_SAMPLE_RATE, CORVANTA_MAX_CHANNELS, rate, channels);
    return VLC_EGENERIC;
  }

  filter_sys_t *sys = calloc(1, sizeof *sys);
  if (unlikely(sys == NULL)) return VLC_ENOMEM;
  const int64_t seed = var_InheritInteger(filter, "corvanta-seed");
  sys->trace = var_InheritBool(filter, "corvanta-trace");
  sys->rate = rate;

  corvanta_config config;
  corvanta_config_init(&config);
  config.seed = seed < 0 ? 0 : (uint32_t)seed;
  config.seed_from_clock = seed < 0;
  config.sample_rate = (int32_t)rate;
  config.channels = (int32_t)channels;
  char message[256];
  if (corvanta_create(&config, &sys->world, message, sizeof message) != CORVANTA_OK) {
    msg_Err(filter, "could not make a Corvanta world: %s", message);
    free(sys);
    return VLC_EGENERIC;
  }
  msg_Dbg(filter, "a world with seed %u for %u Hz, %u channels", corvanta_seed(sys->world), rate, channels);

  /* RV32 with the masks that lay a pixel out as B, G, R, X in memory on either
   * endianness: the library's BGRA. */
  video_format_t fmt = {
      .i_chroma = VLC_CODEC_RGB32,
      .i_width = CORVANTA_WIDTH,
      .i_height = CORVANTA_HEIGHT,
      .i_visible_width = CORVANTA_WIDTH,
      .i_visible_height = CORVANTA_HEIGHT,
      .i_sar_num = 1,
      .i_sar_den = 1,
      .i_frame_rate = CORVANTA_FRAMES_PER_SECOND,
      .i_frame_rate_base = 1,
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
      .i_rmask = 0x0000ff00,
      .i_gmask = 0x00ff0000,
      .i_bmask = 0xff000000,
#else
      .i_rmask = 0x00ff0000,
      .i_gmask = 0x0000ff00,
      .i_bmask = 0x000000ff,
#endif
  };
  sys->vout = aout_filter_RequestVout(filter, NULL, &fmt);
  if (sys->vout == NULL) {
    msg_Err(filter, "no video output for the pictures");
    goto error;
  }
  sys->fifo = block_FifoNew();
  if (unlikely(sys->fifo == NULL)) goto error_vout;
  vlc_mutex_init(&sys->lock);
  vlc_cond_init(&sys->drained);
  filter->p_sys = sys;
  if (vlc_clone(&sys->thread, Thread, filter, VLC_THREAD_PRIORITY_VIDEO)) {
    vlc_cond_destroy(&sys->drained);
    vlc_mutex_destroy(&sys->lock);
    block_FifoRelease(sys->fifo);
    goto error_vout;
  }

  filter->fmt_in.audio.i_format = VLC_CODEC_FL32;
  aout_FormatPrepare(&filter->fmt_in.audio);
  filter->fmt_out.audio = filter->fmt_in.audio;
  filter->pf_audio_filter = DoWork;
  filter->pf_flush = Flush;
  filter->pf_audio_drain = Drain;
  return VLC_SUCCESS;

error_vout:
  aout_filter_RequestVout(filter, sys->vout, NULL);
error:
  corvanta_destroy(sys->world);
  free(sys);
  filter->p_sys = NULL;
  return VLC_EGENERIC;
}

static void Close(vlc_object_t *object) {
  filter_t *filter = (filter_t *)object;
  filter_sys_t *sys = filter->p_sys;
  vlc_cancel(sys->thread);
  vlc_join(sys->thread, NULL);
  block_FifoRelease(sys->fifo);
  aout_filter_RequestVout(filter, sys->vout, NULL);
  vlc_cond_destroy(&sys->drained);
  vlc_mutex_destroy(&sys->lock);
  corvanta_destroy(sys->world);
  free(sys);
}
