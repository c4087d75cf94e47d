// corvanta-play: the Corvanta world as a standalone visualizer. It plays an audio file
// (or listens to a recording device) and steps the world once per video frame,
// 40 frames to a second of audio, in step with what is being heard.
// Keys: F or F11 full screen, Space pause, Esc quit. Exit status 0 when done, 2 when the
// input, the audio device or the display cannot be used.
#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/command_line.h"
#include "apps/play/play_options.h"
#include "audio/audio_file.h"
#include "audio/audio_stream.h"
#include "world/frame_step.h"

namespace {

constexpr int kExitBadRun = 2;
// About 23 ms at 44.1 kHz: short enough that the audio clock moves in steps smaller
// than a video frame, long enough not to crackle on a busy machine.
constexpr Uint16 kDeviceBufferFrames = 1024;
// Live input kept for analysis: 3 s at 44.1 kHz, far more than one window plus any
// catching up the world might need.
constexpr int64_t kLiveRingFrames = 1 << 17;
constexpr int kCaptureRateHz = 44100;
// Live input quieter than the analysis floor (-80 dBFS) counts as no sound.
constexpr float kSilentSample = 1e-4f;
// How long a live input may stay silent before the player says so.
constexpr uint32_t kSilenceWarningMs = 5000;

constexpr int kMsPerSecond = 1000;
// Paused, the loop only waits for keys and window events; a tenth of a second is
// still an instant answer to a key.
constexpr int kPausedWaitMs = 100;
// The longest a catch-up steps frames before a picture and the keys get through.
constexpr uint32_t kCatchUpSliceMs = 100;
// Running, the loop sleeps until the next frame's moment, one video frame at most
// (25 ms), and a millisecond past it, so that it wakes once the moment has come
// rather than just before.
constexpr int kLongestWaitMs = kMsPerSecond / kFramesPerSecond;
constexpr int kWaitPastDueMs = 1;
// With scripted keys still to press, the loop looks at the clock this often, so that
// a timed key fires near its time.
constexpr int kScriptedKeyPollMs = 5;

int fail(const std::string& message) {
  std::fprintf(stderr, "corvanta-play: %s\n", message.c_str());
  return kExitBadRun;
}

// Written by the audio thread, read by the main thread under SDL_LockAudioDevice.
struct FileFeed {
  const AudioTrack* track;
  int64_t fed;        // sample frames handed to the device, silence past the end included
  uint64_t fed_when;  // performance counter at the last hand-over; 0: none yet
};

void SDLCALL feed_file(void* context, Uint8* stream, int length) {
  FileFeed& feed = *static_cast<FileFeed*>(context);
  float* out = reinterpret_cast<float*>(stream);
  const int64_t frames = length / static_cast<int>(2 * sizeof(float));
  const int64_t left = feed.track->frames - feed.fed;
  const int64_t copied = left <= 0 ? 0 : (left < frames ? left : frames);
  if (copied > 0) {
    std::memcpy(out, &feed.track->samples[static_cast<size_t>(2 * feed.fed)],
                static_cast<size_t>(copied) * 2 * sizeof(float));
  }
  std::memset(out + 2 * copied, 0, static_cast<size_t>(frames - copied) * 2 * sizeof(float));
  feed.fed += frames;
  feed.fed_when = SDL_GetPerformanceCounter();
}

struct LiveFeed {
  std::vector<float> ring;  // kLiveRingFrames interleaved stereo frames
  int64_t received;         // sample frames recorded so far
  uint32_t sound_ms;        // SDL ticks when a sample above the analysis floor last arrived
};

void SDLCALL take_live(void* context, Uint8* stream, int length) {
  LiveFeed& live = *static_cast<LiveFeed*>(context);
  const float* in = reinterpret_cast<const float*>(stream);
  const int64_t frames = length / static_cast<int>(2 * sizeof(float));
  bool sound = false;
  for (int64_t i = 0; i < frames; ++i) {
    const size_t at = static_cast<size_t>(2 * ((live.received + i) % kLiveRingFrames));
    live.ring[at] = in[2 * i];
    live.ring[at + 1] = in[2 * i + 1];
    sound = sound || std::fabs(in[2 * i]) > kSilentSample || std::fabs(in[2 * i + 1]) > kSilentSample;
  }
  live.received += frames;
  if (sound) live.sound_ms = SDL_GetTicks();
}

struct Player {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  SDL_AudioDeviceID device = 0;
  int32_t sample_rate = 0;
  uint32_t device_frames = 0;  // the device's buffer, in sample frames
  bool capture = false;
  std::string device_name;      // for messages: the recording device, or "the default recording device"
  bool silence_reported = false;
  FileFeed file{};
  LiveFeed live{};

  int64_t frames = 0;        // world frames stepped; frame n is shown at n / 40 s
  int64_t last_frame = -1;   // a file's last frame; -1 for live input
  int64_t heard = 0;         // the audio clock, in sample frames, never going back
  int64_t most_at_once = 0;  // the most frames stepped between two pictures
  const PixelBuffer* picture = nullptr;
  bool shown_any = false;
  bool paused = false;
  bool fullscreen = false;
  int windowed_width = kWorldWidth;
  int windowed_height = kWorldHeight;
  bool quit = false;
  bool log = false;
};

// The sample frame being heard now. The device is fed a buffer ahead, so a file's clock
// runs one buffer behind what was handed over, and moves on smoothly between hand-overs
// by the time since the last one. Live input is analysed as it arrives.
int64_t audio_clock(Player& p) {
  if (p.paused) return p.heard;
  SDL_LockAudioDevice(p.device);
  const int64_t fed = p.capture ? p.live.received : p.file.fed;
  const uint64_t when = p.file.fed_when;
  SDL_UnlockAudioDevice(p.device);
  int64_t now = fed;
  if (!p.capture) {
    if (when == 0) return p.heard;
    const double since = static_cast<double>(SDL_GetPerformanceCounter() - when) /
                         static_cast<double>(SDL_GetPerformanceFrequency());
    now = fed - p.device_frames + static_cast<int64_t>(since * p.sample_rate);
    if (now > fed) now = fed;
  }
  if (now > p.heard) p.heard = now;
  return p.heard;
}

// Hands the stream what live input has arrived since it was last asked. Samples the ring
// has already written over (the world fell more than the ring behind) are heard as
// silence, so the stream's count of samples keeps to the device's.
void take_live_input(Player& p, AudioStream& stream) {
  static const float kSilence[2 * 1024] = {};
  SDL_LockAudioDevice(p.device);
  const int64_t received = p.live.received;
  int64_t from = stream.received;
  while (from < received - kLiveRingFrames) {
    const int64_t lost = std::min<int64_t>(1024, received - kLiveRingFrames - from);
    audio_stream_feed_float(stream, kSilence, lost);
    from += lost;
  }
  while (from < received) {
    // Up to the ring's end at a time: the stretch is contiguous there.
    const int64_t at = from % kLiveRingFrames;
    const int64_t count = std::min(received - from, kLiveRingFrames - at);
    audio_stream_feed_float(stream, &p.live.ring[static_cast<size_t>(2 * at)], count);
    from += count;
  }
  SDL_UnlockAudioDevice(p.device);
}

// Hands the stream the track up to where frame `frame` is due, and ends the stream with
// the track. The device reads the track by itself; the stream only analyses it.
void feed_track_until(const AudioTrack& track, AudioStream& stream, int64_t frame) {
  const int64_t wanted = std::min(track.frames, frame_sample_position(frame, track.sample_rate) +
                                                    audio_stream_latency(stream));
  if (stream.received < wanted) {
    audio_stream_feed_float(stream, &track.samples[static_cast<size_t>(2 * stream.received)],
                            wanted - stream.received);
  }
  if (stream.received == track.frames && !stream.finished) audio_stream_finish(stream);
}

// The picture as large as the window allows, whole, centred between black bars.
SDL_Rect letterbox(int width, int height) {
  const double scale = std::min(static_cast<double>(width) / kWorldWidth, static_cast<double>(height) / kWorldHeight);
  SDL_Rect r;
  r.w = static_cast<int>(std::lround(kWorldWidth * scale));
  r.h = static_cast<int>(std::lround(kWorldHeight * scale));
  r.x = (width - r.w) / 2;
  r.y = (height - r.h) / 2;
  return r;
}

void render(Player& p) {
  SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
  SDL_RenderClear(p.renderer);
  if (!p.shown_any) return;
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(p.renderer, &width, &height);
  const SDL_Rect target = letterbox(width, height);
  SDL_RenderCopy(p.renderer, p.texture, nullptr, &target);
}

void show(Player& p) {
  if (p.picture != nullptr) {
    SDL_UpdateTexture(p.texture, nullptr, p.picture->rgb, kWorldWidth * 3);
    p.shown_any = true;
  }
  render(p);
  SDL_RenderPresent(p.renderer);
}

// What the window shows, at its size, as a binary PPM.
bool save_screenshot(Player& p, const std::string& path, std::string& error) {
  render(p);
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(p.renderer, &width, &height);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  if (SDL_RenderReadPixels(p.renderer, nullptr, SDL_PIXELFORMAT_RGB24, pixels.data(), width * 3) != 0) {
    error = std::string("cannot read the window back: ") + SDL_GetError();
    return false;
  }
  SDL_RenderPresent(p.renderer);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  const size_t written = std::fwrite(pixels.data(), 1, pixels.size(), out);
  if (std::fclose(out) != 0 || written != pixels.size()) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

void toggle_pause(Player& p) {
  if (!p.paused) {
    audio_clock(p);  // the clock stands where the sound stopped
    p.paused = true;
    SDL_PauseAudioDevice(p.device, 1);
  } else {
    // The clock would otherwise count the pause as time heard.
    SDL_LockAudioDevice(p.device);
    p.file.fed_when = SDL_GetPerformanceCounter();
    SDL_UnlockAudioDevice(p.device);
    p.live.sound_ms = SDL_GetTicks();  // a pause is no silence of the source
    p.paused = false;
    SDL_PauseAudioDevice(p.device, 0);
  }
  if (p.log) {
    std::printf("%s at frame %" PRId64 ", %.3f s heard\n", p.paused ? "pause" : "resume", p.frames,
                static_cast<double>(audio_clock(p)) / p.sample_rate);
  }
}

void toggle_fullscreen(Player& p) {
  p.fullscreen = !p.fullscreen;
  if (p.fullscreen) SDL_GetWindowSize(p.window, &p.windowed_width, &p.windowed_height);
  SDL_SetWindowFullscreen(p.window, p.fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  // A window manager restores the earlier size by itself; a bare X server (a kiosk,
  // Xvfb) leaves the window screen-sized unless told.
  if (!p.fullscreen) SDL_SetWindowSize(p.window, p.windowed_width, p.windowed_height);
  if (p.log) {
    const bool on = (SDL_GetWindowFlags(p.window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    std::printf("fullscreen %s\n", on ? "on" : "off");
  }
  render(p);
  SDL_RenderPresent(p.renderer);
}

void handle_event(Player& p, const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    p.quit = true;
  } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
    const SDL_Keycode key = event.key.keysym.sym;
    if (key == SDLK_ESCAPE) {
      p.quit = true;
      if (p.log) std::printf("quit at frame %" PRId64 "\n", p.frames);
    } else if (key == SDLK_f || key == SDLK_F11) {
      toggle_fullscreen(p);
    } else if (key == SDLK_SPACE) {
      toggle_pause(p);
    }
  } else if (event.type == SDL_WINDOWEVENT) {
    if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && p.log) {
      std::printf("size %dx%d\n", static_cast<int>(event.window.data1), static_cast<int>(event.window.data2));
    }
    if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
      render(p);
      SDL_RenderPresent(p.renderer);
    }
  }
  std::fflush(stdout);
}

// Scripted keys go to the handler of real ones at once. Through SDL's queue they could
// wait a turn: a poll ends at the marker the previous pump left, which a pushed event
// may follow.
void press_scripted_keys(Player& p, const std::vector<ScriptedKey>& keys, size_t& next, uint32_t& last_ms) {
  while (next < keys.size()) {
    const ScriptedKey& k = keys[next];
    const uint32_t now = SDL_GetTicks();
    const bool due = k.at_frame >= 0 ? p.frames >= k.at_frame : now - last_ms >= k.after_ms;
    if (!due) return;
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(p.window);
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = k.key;
    event.key.keysym.scancode = SDL_GetScancodeFromKey(k.key);
    handle_event(p, event);
    event.type = SDL_KEYUP;
    event.key.state = SDL_RELEASED;
    handle_event(p, event);
    last_ms = now;
    ++next;
  }
}

// PulseAudio's monitors (what an output plays) are what a visualizer most wants to
// hear, and SDL leaves them out of its list unless asked.
void include_monitors() { SDL_SetHint(SDL_HINT_AUDIO_INCLUDE_MONITORS, "1"); }

// SDL would open the default device for a name it does not know, so a typo would
// quietly listen elsewhere: the name must be one SDL lists.
bool recording_device_listed(const std::string& name) {
  const int count = SDL_GetNumAudioDevices(1);
  for (int i = 0; i < count; ++i) {
    const char* listed = SDL_GetAudioDeviceName(i, 1);
    if (listed != nullptr && name == listed) return true;
  }
  return false;
}

bool open_audio(Player& p, const PlayOptions& options, std::string& error) {
  include_monitors();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    error = std::string("no audio device: ") + SDL_GetError();
    return false;
  }
  if (!options.device.empty() && !recording_device_listed(options.device)) {
    error = "no recording device named '" + options.device + "' (--list-devices lists them)";
    return false;
  }
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = p.sample_rate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = kDeviceBufferFrames;
  SDL_AudioSpec have;
  if (options.capture) {
    want.callback = take_live;
    want.userdata = &p.live;
    p.live.ring.assign(static_cast<size_t>(2 * kLiveRingFrames), 0.0f);
    p.live.sound_ms = SDL_GetTicks();
  } else {
    want.callback = feed_file;
    want.userdata = &p.file;
  }
  // No changes allowed: SDL converts to whatever the device wants, so the clock counts
  // in the track's own sample frames.
  p.device = SDL_OpenAudioDevice(options.device.empty() ? nullptr : options.device.c_str(), options.capture ? 1 : 0,
                                 &want, &have, 0);
  if (p.device == 0) {
    error = std::string(options.capture ? "no recording device: " : "no audio device: ") + SDL_GetError();
    return false;
  }
  p.device_frames = have.samples;
  return true;
}

// Says once per silent stretch that a live input brings nothing: a muted source or the
// wrong device looks otherwise just like a quiet world.
void watch_silence(Player& p) {
  SDL_LockAudioDevice(p.device);
  const uint32_t sound_ms = p.live.sound_ms;
  SDL_UnlockAudioDevice(p.device);
  const bool silent = SDL_GetTicks() - sound_ms >= kSilenceWarningMs;
  if (silent && !p.silence_reported) {
    std::fprintf(stderr, "corvanta-play: no sound from %s for %u s\n", p.device_name.c_str(),
                 static_cast<unsigned>(kSilenceWarningMs / kMsPerSecond));
  }
  p.silence_reported = silent;
}

int list_devices() {
  include_monitors();
  if (SDL_Init(SDL_INIT_AUDIO) != 0) return fail(std::string("no audio device: ") + SDL_GetError());
  const int count = SDL_GetNumAudioDevices(1);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 1);
    if (name != nullptr) std::printf("%s\n", name);
  }
  SDL_Quit();
  return 0;
}

bool open_window(Player& p, const std::string& title, std::string& error) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    return false;
  }
  // Nearest neighbour: scaled up, each world pixel stays a sharp block.
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
  p.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWorldWidth,
                              kWorldHeight, SDL_WINDOW_RESIZABLE);
  if (p.window == nullptr) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    return false;
  }
  p.renderer = SDL_CreateRenderer(p.window, -1, 0);
  if (p.renderer == nullptr) {
    error = std::string("cannot draw into the window: ") + SDL_GetError();
    return false;
  }
  p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_RGB24, SDL_TEXTUREACCESS_STREAMING, kWorldWidth,
                                kWorldHeight);
  if (p.texture == nullptr) {
    error = std::string("cannot draw into the window: ") + SDL_GetError();
    return false;
  }
  render(p);
  SDL_RenderPresent(p.renderer);
  if (p.log) {
    SDL_RendererInfo info;
    SDL_GetRendererInfo(p.renderer, &info);
    std::printf("title %s\nrenderer %s\n", SDL_GetWindowTitle(p.window), info.name);
  }
  return true;
}

void close_player(Player& p) {
  if (p.device != 0) SDL_CloseAudioDevice(p.device);
  if (p.texture != nullptr) SDL_DestroyTexture(p.texture);
  if (p.renderer != nullptr) SDL_DestroyRenderer(p.renderer);
  if (p.window != nullptr) SDL_DestroyWindow(p.window);
  SDL_Quit();
}

// Everything long-lived, made once on the heap: the world alone is some 14 MB.
struct Session {
  World world;
  Canvas canvas;
  AudioStream stream;  // the sound, analysed frame by frame as any host's is
  uint8_t spectrum[kSpectrumBytes];
  AudioTrack track;
  Player player;
};

int play(Session& s, const PlayOptions& options) {
  Player& p = s.player;
  std::string error;
  p.capture = options.capture;
  p.device_name = options.device.empty() ? "the default recording device" : "'" + options.device + "'";
  p.log = options.log;
  if (options.capture) {
    p.sample_rate = kCaptureRateHz;
  } else {
    if (!audio_track_load(options.path, s.track, error)) return fail(error);
    p.sample_rate = s.track.sample_rate;
    p.file.track = &s.track;
    p.last_frame = last_frame_heard(s.track.frames - 1, p.sample_rate);
  }
  // A file's frames read the window centred on their moment, as corvanta-sim's do; live
  // input's read the window that ends there, as nothing later has been heard yet.
  const WindowAlignment alignment = options.capture ? WindowAlignment::kTrailing : WindowAlignment::kCentred;
  if (!audio_stream_open(s.stream, p.sample_rate, 2, alignment, error)) return fail(error);

  std::unique_ptr<FILE, int (*)(FILE*)> record(nullptr, std::fclose);
  if (!options.record_path.empty()) {
    record.reset(std::fopen(options.record_path.c_str(), "wb"));
    if (!record) return fail("cannot write '" + options.record_path + "': " + std::strerror(errno));
  }
  bool record_failed = false;

  const uint32_t seed = options.seed_given ? options.seed : static_cast<uint32_t>(std::time(nullptr));
  world_reset(s.world);
  canvas_load_state(s.canvas);

  if (SDL_Init(SDL_INIT_EVENTS) != 0) return fail(std::string("cannot start SDL: ") + SDL_GetError());
  if (!open_audio(p, options, error)) {
    close_player(p);
    return fail(error);
  }
  const std::string title = "Corvanta \xE2\x80\x94 " + (options.capture ? std::string("live input") : s.track.name);
  if (!open_window(p, title, error)) {
    close_player(p);
    return fail(error);
  }

  size_t next_key = 0;
  uint32_t last_key_ms = SDL_GetTicks();
  SDL_PauseAudioDevice(p.device, 0);
  bool finished = false;
  while (!p.quit && !finished) {
    press_scripted_keys(p, options.keys, next_key, last_key_ms);
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) handle_event(p, event);
    if (p.quit) break;

    int wait_ms = kPausedWaitMs;
    if (!p.paused) {
      // Every frame whose moment has been heard is stepped, in order, each with the
      // sound of its own moment; only the last one is shown, which is how a slow
      // frame (a cull) is caught up without the world drifting from the music. A long
      // catch-up still lets a picture and the keys through every kCatchUpSliceMs.
      const int64_t heard = audio_clock(p);
      int64_t due = last_frame_heard(heard, p.sample_rate);
      if (p.last_frame >= 0 && due > p.last_frame) due = p.last_frame;
      // A key scripted for a frame is pressed at that frame however far the world has
      // to catch up: the catch-up stops short of it, and the next turn presses it.
      if (next_key < options.keys.size() && options.keys[next_key].at_frame >= 0 &&
          due >= options.keys[next_key].at_frame) {
        due = options.keys[next_key].at_frame - 1;
      }
      if (p.capture) {
        take_live_input(p, s.stream);
      } else {
        feed_track_until(s.track, s.stream, due);
      }
      int64_t stepped = 0;
      const uint32_t started = SDL_GetTicks();
      while (p.frames <= due && audio_stream_frames_due(s.stream) > 0 &&
             SDL_GetTicks() - started < kCatchUpSliceMs) {
        audio_stream_next_spectrum(s.stream, s.spectrum);
        if (record) record_failed |= std::fwrite(s.spectrum, 1, kSpectrumBytes, record.get()) != kSpectrumBytes;
        frame_step(s.world, s.canvas, s.spectrum, seed);
        p.picture = &s.canvas.drawing;
        ++p.frames;
        ++stepped;
        if (p.frames == options.stop_after) break;
      }
      if (stepped > 0) show(p);
      if (stepped > p.most_at_once) p.most_at_once = stepped;
      finished = p.frames == options.stop_after || (p.last_frame >= 0 && p.frames > p.last_frame);
      const int64_t ahead = frame_sample_position(p.frames, p.sample_rate) - heard;
      wait_ms = static_cast<int>(ahead * kMsPerSecond / p.sample_rate) + kWaitPastDueMs;
      if (wait_ms > kLongestWaitMs) wait_ms = kLongestWaitMs;
      if (p.capture) watch_silence(p);
    }
    if (next_key < options.keys.size()) wait_ms = wait_ms > kScriptedKeyPollMs ? kScriptedKeyPollMs : wait_ms;
    if (!finished && wait_ms > 0) SDL_WaitEventTimeout(nullptr, wait_ms);
  }

  const double heard_seconds = static_cast<double>(audio_clock(p)) / p.sample_rate;
  int status = 0;
  if (!options.screenshot.empty() && !save_screenshot(p, options.screenshot, error)) status = fail(error);
  if (record && (std::fclose(record.release()) != 0 || record_failed)) {
    status = fail("cannot write '" + options.record_path + "' (disk full or device error)");
  }
  close_player(p);
  if (p.log) std::printf("at most %" PRId64 " frames stepped between two pictures\n", p.most_at_once);
  std::printf("corvanta-play: %" PRId64 " frames, %.3f s of audio heard, seed %" PRIu32 "\n", p.frames,
              heard_seconds, seed);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  PlayOptions options;
  std::string error;
  if (!parse_play_options(argc, argv, options, error)) return fail(error);
  if (options.help) {
    std::fputs(play_help().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("corvanta-play %s\n", corvanta_version());
    return 0;
  }
  if (options.list_devices) return list_devices();
  std::unique_ptr<Session> session(new Session());
  return play(*session, options);
}
