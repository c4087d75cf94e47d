/*
 * The VLC module as VLC runs it: libvlc plays a WAV with --audio-visual=corvanta, the
 * sound to a file (afile), the pictures to memory (vmem), headless. VLC paces the
 * pictures and drops late ones, but the world steps every frame: the module's trace
 * lines (its debug log, through libvlc's log callback) must be all of corvanta-sim's
 * for the same WAV and seed, and every picture VLC shows corvanta-sim's picture of a
 * frame, in the frames' order (its digest over R, G, B is that frame's picture digest).
 * A program rather than `vlc`, which refuses to run as root (as CI runs).
 *   vlc_same_world SONG.wav SIM.trace SEED SOUND-OUT [SEEK-AT]
 * With SEEK-AT (seconds), the player seeks back to the start once there: the lines up to
 * VLC's flush (the module logs the frame) are corvanta-sim's, then the world goes on
 * through the song once more as libcorvanta steps it after those frames and a
 * discontinuity.
 * Prints "skipped: ..." when VLC itself dropped sound before the module saw it, or showed
 * no picture because every one was late: a machine too busy for VLC's pace.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep, and ssize_t in libvlc's header */
#include <inttypes.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vlc/vlc.h>

#include "corvanta/corvanta.h"

#define MAX_FRAMES 4096
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static char lines[MAX_FRAMES][64], sim[2 * MAX_FRAMES][64]; /* the module's trace lines, the expected */
static uint64_t shown[4 * MAX_FRAMES];                 /* digests of the pictures VLC showed */
static size_t line_count, sim_count, shown_count;
static int audio_dropped, pictures_late, flushed = -1; /* the frame after which the module last flushed */
static long seek_at;
static int stopping; /* stopping flushes too */
static uint8_t pixels[1000 * 400 * 4];

static void on_log(void *data, int level, const libvlc_log_t *context, const char *format, va_list args) {
  const char *module = NULL, *file = NULL;
  unsigned line = 0;
  char text[512];
  (void)data, (void)level;
  libvlc_log_get_context(context, &module, &file, &line);
  vsnprintf(text, sizeof text, format, args);
  pthread_mutex_lock(&lock);
  if (module && strcmp(module, "corvanta") == 0 && strncmp(text, "trace ", 6) == 0 && line_count < MAX_FRAMES)
    snprintf(lines[line_count++], sizeof lines[0], "%.63s", text + 6);
  /* The audio output drops a block that comes too late before any filter sees it; the
   * module and the video output leave out pictures that are late. */
  audio_dropped |= strstr(text, "buffer too late") != NULL;
  if (module && strcmp(module, "corvanta") == 0 && strncmp(text, "a new stream after frame ", 25) == 0 && !stopping)
    flushed = atoi(text + 25);
  pictures_late += strstr(text, "late by") != NULL || strstr(text, "too late to be displayed") != NULL;
  pthread_mutex_unlock(&lock);
}

static void *on_lock(void *data, void **planes) {
  (void)data;
  planes[0] = pixels;
  return NULL;
}

/* corvanta-sim's picture digest: FNV-1a 64 over R, G, B; RV32 is B, G, R, X in memory. */
static void on_display(void *data, void *picture) {
  uint64_t hash = 0xcbf29ce484222325ull;
  (void)data, (void)picture;
  for (size_t i = 0; i < sizeof pixels; i += 4) {
    hash = (hash ^ pixels[i + 2]) * 0x100000001b3ull;
    hash = (hash ^ pixels[i + 1]) * 0x100000001b3ull;
    hash = (hash ^ pixels[i]) * 0x100000001b3ull;
  }
  pthread_mutex_lock(&lock);
  if (shown_count < sizeof shown / sizeof shown[0]) shown[shown_count++] = hash;
  pthread_mutex_unlock(&lock);
}

/* After a seek: the lines libcorvanta gives for the 16-bit WAV after `before` of its frames
 * and a discontinuity, its whole sound again, and the end of the stream. */
static void after_flush(const char *path, size_t before, uint32_t seed) {
  static uint8_t wav[1 << 24];
  FILE *file = fopen(path, "rb");
  const size_t size = file ? fread(wav, 1, sizeof wav, file) : 0;
  size_t at = 12, bytes = 0, channels = 0, rate = 0;
  for (; at + 8 <= size && memcmp(wav + at, "data", 4) != 0; at += 8 + bytes) {
    bytes = wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16;
    if (memcmp(wav + at, "fmt ", 4) == 0) channels = wav[at + 10], rate = wav[at + 12] | wav[at + 13] << 8 | wav[at + 14] << 16;
  }
  if (file) fclose(file);
  corvanta_config config;
  corvanta_config_init(&config);
  config.seed = seed, config.seed_from_clock = 0, config.sample_rate = (int32_t)rate, config.channels = (int32_t)channels;
  corvanta *world = NULL;
  if (at + 8 > size || corvanta_create(&config, &world, NULL, 0) != CORVANTA_OK) return;
  const int64_t frames = (int64_t)((size - at - 8) / (2 * channels));
  for (int pass = 0; pass < 2; pass++) {
    for (int64_t fed = 0; fed < frames && corvanta_frame_number(world) < (int64_t)before + pass * MAX_FRAMES; fed++) {
      corvanta_feed_int16(world, (const int16_t *)(wav + at + 8) + fed * channels, 1);
      while (corvanta_frames_due(world) > 0 && corvanta_frame_number(world) < (int64_t)before + pass * MAX_FRAMES) {
        corvanta_step(world, NULL);
        if (pass) corvanta_trace_line(world, sim[corvanta_frame_number(world) - 1], sizeof sim[0]);
      }
    }
    if (pass) corvanta_finish(world);
    while (pass && corvanta_frames_due(world) > 0 && corvanta_step(world, NULL) == CORVANTA_OK)
      corvanta_trace_line(world, sim[corvanta_frame_number(world) - 1], sizeof sim[0]);
    corvanta_discontinuity(world);
  }
  corvanta_destroy(world);
}

int main(int argc, char **argv) {
  FILE *trace = argc == 5 || argc == 6 ? fopen(argv[2], "r") : NULL;
  seek_at = argc == 6 ? atol(argv[5]) * 1000 : -1;
  if (trace == NULL) {
    fprintf(stderr, "usage: %s SONG.wav SIM.trace SEED SOUND-OUT [SEEK-AT]\n", argv[0]);
    return 2;
  }
  for (; sim_count < MAX_FRAMES && fgets(sim[sim_count], sizeof sim[0], trace); sim_count++) sim[sim_count][strcspn(sim[sim_count], "\n")] = 0;
  fclose(trace);
  char seed[64], sound[1024];
  snprintf(seed, sizeof seed, "--corvanta-seed=%s", argv[3]);
  snprintf(sound, sizeof sound, "--audiofile-file=%s", argv[4]);
  /* A second and a half of caching: sound reaches the module well before it is due. */
  const char *args[] = {"--ignore-config", "--intf=dummy", "--aout=afile", sound, "--no-audio-time-stretch",
                        "--audio-visual=corvanta", seed, "--corvanta-trace", "--file-caching=1500", "--verbose=2"};
  libvlc_instance_t *vlc = libvlc_new(sizeof args / sizeof args[0], args);
  if (vlc == NULL) return fprintf(stderr, "vlc_same_world: libvlc_new failed\n"), 1;
  libvlc_log_set(vlc, on_log, NULL);
  libvlc_media_t *media = libvlc_media_new_path(vlc, argv[1]);
  libvlc_media_player_t *player = libvlc_media_player_new_from_media(media);
  libvlc_video_set_callbacks(player, on_lock, NULL, on_display, NULL);
  libvlc_video_set_format(player, "RV32", 1000, 400, 4000);
  libvlc_media_player_play(player);
  /* The song plays in real time; a generous limit for a busy machine. */
  libvlc_state_t state = libvlc_NothingSpecial;
  for (long waited = 0; waited < 60000 + 500 * (long)sim_count && state != libvlc_Ended && state != libvlc_Error; waited += 20) {
    nanosleep(&(struct timespec){0, 20000000}, NULL);
    state = libvlc_media_player_get_state(player);
    if (seek_at >= 0 && libvlc_media_player_get_time(player) >= seek_at) libvlc_media_player_set_time(player, 0), seek_at = -2;
  }
  pthread_mutex_lock(&lock);
  stopping = 1;
  pthread_mutex_unlock(&lock);
  libvlc_media_player_stop(player);
  libvlc_media_player_release(player);
  libvlc_media_release(media);
  libvlc_log_unset(vlc);
  libvlc_release(vlc);

  if (state != libvlc_Ended) return fprintf(stderr, "vlc_same_world: the player ended in state %d\n", (int)state), 1;
  if (audio_dropped) return printf("vlc_same_world: skipped: VLC's audio output dropped sound that came too late\n"), 0;
  const size_t before = flushed > 0 ? (size_t)flushed : 0; /* the lines before the seek */
  if (line_count != before + sim_count || (seek_at == -1) != (before == 0))
    return fprintf(stderr, "vlc_same_world: %zu trace lines, %zu before a seek; corvanta-sim wrote %zu\n", line_count, before, sim_count), 1;
  if (before > 0) after_flush(argv[1], before, (uint32_t)atol(argv[3]));
  for (size_t i = 0; i < line_count; i++)
    if (strcmp(lines[i], sim[i]) != 0)
      return fprintf(stderr, "vlc_same_world: frame %zu: '%s', expected '%s'\n", i + 1, lines[i], sim[i]), 1;
  /* Each picture is a frame's, at or after the last one's (VLC may show one again). */
  for (size_t i = 0, frame = 0; i < shown_count; i++) {
    while (frame < line_count && strtoull(strrchr(lines[frame], ' ') + 1, NULL, 16) != shown[i]) frame++;
    if (frame == line_count)
      return fprintf(stderr, "vlc_same_world: picture %zu shown (%016" PRIx64 ") is no later frame's\n", i + 1, shown[i]), 1;
  }
  if (shown_count == 0 && pictures_late > 0)
    return printf("vlc_same_world: skipped: every picture was late (%d said so), the machine too busy\n", pictures_late), 0;
  if (shown_count == 0) return fprintf(stderr, "vlc_same_world: VLC showed no picture, and none was late\n"), 1;
  printf("vlc_same_world: %zu frames as expected (%zu after a seek), %zu pictures shown, each the picture of a frame\n",
         line_count, line_count - before, shown_count);
  return 0;
}
