// corvanta-play as a user meets it, each run under its own Xvfb with SDL's dummy audio
// driver (which consumes audio in real time): the world it shows, its keys, its clock,
// and its refusals.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pulse_server.h"
#include "signals.h"
#include "wav_file.h"
#include "test_files.h"
#include "audio/audio_spectrum.h"
#include "audio/audio_file.h"
#include "world/frame_step.h"

namespace {

constexpr int32_t kRate = 44100;
// The player's audio buffer, in sample frames: the clock of live input moves by whole
// buffers.
constexpr int64_t kDeviceBuffer = 1024;

std::string temp_path(const std::string& name) { return ::temp_path("corvanta-play", name); }

using PlayerRun = CommandRun;

enum class Display { kXvfb, kNone };

std::string suppressions_path() {
  const std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/') + 1) + "lsan.supp";
}

// The command line that runs the player; `env` goes to its environment.
std::string player_command(const std::string& args, const std::string& audio_driver = "dummy",
                           Display display = Display::kXvfb, const std::string& env = "") {
  std::string command = "env ";
  if (display == Display::kNone) command += "-u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 ";
  command += env;
  // In the sanitizer build the leak checker stays on for the player, less what the
  // desktop's libraries keep until exit (lsan.supp, beside this file, names them).
  // SDL's own software renderer: pixels read back are then the same on any machine,
  // and Mesa's software GL under Xvfb keeps drawing into a window's old size after a
  // resize. It draws straight into the X window: by default SDL would hand its picture
  // to the screen through GL, and the GL driver, unloaded by SDL_Quit before the leak
  // check runs, would leave leaks that no suppression can name.
  command += "LSAN_OPTIONS='suppressions=" + suppressions_path() + ":print_suppressions=0' ";
  command += "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 SDL_AUDIODRIVER=" + audio_driver + " ";
  if (display == Display::kXvfb) command += std::string(XVFB_RUN_PATH) + " -a -s '-screen 0 1280x1024x24' ";
  command += std::string(CORVANTA_PLAY_PATH) + " " + args;
  return command;
}

PlayerRun run_player(const std::string& args, const std::string& audio_driver = "dummy",
                     Display display = Display::kXvfb, const std::string& env = "") {
  return run_command("corvanta-play", player_command(args, audio_driver, display, env));
}

int count_lines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// "corvanta-play: 120 frames, 3.004 s of audio heard, seed 7"
bool parse_summary(const std::string& out, long& frames, double& heard) {
  const size_t at = out.find("corvanta-play: ");
  return at != std::string::npos &&
         std::sscanf(out.c_str() + at, "corvanta-play: %ld frames, %lf s of audio heard", &frames, &heard) == 2;
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

bool read_ppm(const std::string& path, Picture& picture) {
  const std::string data = read_file(path);
  int header = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d 255%n", &picture.width, &picture.height, &header) != 2) return false;
  const size_t size = static_cast<size_t>(picture.width) * picture.height * 3;
  if (data.size() != static_cast<size_t>(header) + 1 + size) return false;
  picture.rgb.assign(data.begin() + header + 1, data.end());
  return true;
}

bool read_png(const std::string& path, Picture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
  image.format = PNG_FORMAT_RGB;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}


// What the world looks like after `frames` frames of the track with seed 7, stepped
// here with the library as corvanta-sim steps it; frame n hears the moment of frame
// n + shift.
std::unique_ptr<Canvas> expected_picture(const std::string& wav, int64_t frames, int64_t shift = 0) {
  AudioTrack track;
  std::string error;
  EXPECT_TRUE(audio_track_load(wav, track, error)) << error;
  std::unique_ptr<SpectrumAnalyser> analyser(new SpectrumAnalyser());
  EXPECT_TRUE(analyser_open(*analyser, track.sample_rate, error)) << error;
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);
  uint8_t spectrum[kSpectrumBytes];
  for (int64_t n = 0; n < frames; ++n) {
    track_frame_spectrum(*analyser, track, n + shift, spectrum);
    frame_step(*world, *canvas, spectrum, 7);
  }
  analyser_close(*analyser);
  return canvas;
}

// The world after stepping through recorded spectra (1152 bytes a frame) with seed 7.
std::unique_ptr<Canvas> replayed_picture(const std::string& spectra) {
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);
  for (size_t at = 0; at + kSpectrumBytes <= spectra.size(); at += kSpectrumBytes) {
    frame_step(*world, *canvas, reinterpret_cast<const uint8_t*>(spectra.data() + at), 7);
  }
  return canvas;
}

// The loudness the world reads from a spectrum: channel 0, bins 0..99.
int32_t world_loudness(const uint8_t* spectrum) {
  int32_t sum = 0;
  for (int32_t i = 0; i < kWorldBins; ++i) sum += spectrum[i];
  return sum;
}

class CorvantaPlay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    music_ = new std::string(temp_path("music.wav"));
    std::string error;
    // From the chorus: drums and voice make every frame's sound differ from the next.
    ASSERT_TRUE(audio_write_wav(*music_, kRate, music_audio(kRate, 8.0, 32.0), error)) << error;
  }
  static void TearDownTestSuite() {
    std::remove(music_->c_str());
    delete music_;
  }
  static std::string* music_;
};
std::string* CorvantaPlay::music_ = nullptr;

}  // namespace

TEST_F(CorvantaPlay, ShowsTheSameWorldAsTheLibraryForTheSameSeedAndSound) {
  // 200 frames: the 151 start-up frames, then 49 in which agents appear.
  const std::string shot = temp_path("shot.ppm");
  const PlayerRun run = run_player("--seed 7 --frames 200 --screenshot " + shot + " " + *music_);
  ASSERT_EQ(run.status, 0) << run.err;
  long frames = 0;
  double heard = 0.0;
  ASSERT_TRUE(parse_summary(run.out, frames, heard)) << run.out;
  EXPECT_EQ(frames, 200);
  EXPECT_NE(run.out.find("seed 7"), std::string::npos) << run.out;

  Picture shown;
  ASSERT_TRUE(read_ppm(shot, shown));
  std::remove(shot.c_str());
  ASSERT_EQ(shown.width, kWorldWidth);
  ASSERT_EQ(shown.height, kWorldHeight);
  const std::unique_ptr<Canvas> expected = expected_picture(*music_, 200);
  const std::unique_ptr<Canvas> a_frame_late = expected_picture(*music_, 200, 1);
  const uint8_t* want = &expected->drawing.rgb[0][0][0];
  const uint8_t* late = &a_frame_late->drawing.rgb[0][0][0];
  int32_t differing = 0;
  int32_t coloured = 0;
  ASSERT_EQ(shown.rgb.size(), sizeof expected->drawing.rgb);
  for (size_t i = 0; i < shown.rgb.size(); ++i) differing += shown.rgb[i] != want[i];
  for (size_t i = 0; i < shown.rgb.size(); i += 3) coloured += (want[i] | want[i + 1] | want[i + 2]) != 0;
  EXPECT_EQ(differing, 0);
  // The sound shows: hearing each moment one frame late would draw another picture.
  EXPECT_NE(std::memcmp(want, late, shown.rgb.size()), 0);

  // corvanta-sim renders the same track to the same picture.
  const std::string dir = temp_path("sim");
  const std::string sim = std::string(CORVANTA_SIM_PATH) + " --audio " + *music_ +
                          " --seed 7 --frames 200 --png-every 200 --out " + dir + " >/dev/null";
  ASSERT_EQ(std::system(sim.c_str()), 0);
  Picture rendered;
  ASSERT_TRUE(read_png(dir + "/frame-000200.png", rendered));
  std::remove((dir + "/frame-000200.png").c_str());
  rmdir(dir.c_str());
  EXPECT_EQ(rendered.width, shown.width);
  EXPECT_EQ(rendered.height, shown.height);
  EXPECT_TRUE(rendered.rgb == shown.rgb);
  // The world is drawn (black ground, agents), no longer the white start-up surface.
  EXPECT_GT(coloured, 0);
  EXPECT_LT(coloured, kWorldWidth * kWorldHeight / 2);
}

TEST_F(CorvantaPlay, FullScreenScalesThePictureUpInSharpBlocksBetweenBars) {
  // 1280 x 1024: the picture fills the width, 1280 x 512, with 256 black rows above and
  // below. Nearest-neighbour scaling only repeats pixels; any smoothing would mix
  // colours the world never drew.
  const std::string shot = temp_path("full.ppm");
  const PlayerRun run = run_player("--seed 7 --frames 200 --keys f@150 --screenshot " + shot + " " + *music_);
  ASSERT_EQ(run.status, 0) << run.err;
  Picture shown;
  ASSERT_TRUE(read_ppm(shot, shown));
  std::remove(shot.c_str());
  ASSERT_EQ(shown.width, 1280);
  ASSERT_EQ(shown.height, 1024);

  const std::unique_ptr<Canvas> expected = expected_picture(*music_, 200);
  std::set<uint32_t> drawn;
  int32_t coloured = 0;
  for (const auto& row : expected->drawing.rgb) {
    for (const auto& px : row) {
      drawn.insert(static_cast<uint32_t>(px[0] << 16 | px[1] << 8 | px[2]));
      coloured += (px[0] | px[1] | px[2]) != 0;
    }
  }
  int32_t bar_pixels_lit = 0;
  int32_t foreign = 0;
  int32_t scaled_coloured = 0;
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < shown.width; ++x) {
      const uint8_t* px = &shown.rgb[(static_cast<size_t>(y) * shown.width + x) * 3];
      const bool lit = (px[0] | px[1] | px[2]) != 0;
      if (y < 256 || y >= 768) {
        bar_pixels_lit += lit;
      } else {
        foreign += drawn.count(static_cast<uint32_t>(px[0] << 16 | px[1] << 8 | px[2])) == 0;
        scaled_coloured += lit;
      }
    }
  }
  EXPECT_EQ(bar_pixels_lit, 0);
  EXPECT_EQ(foreign, 0);
  // Each world pixel becomes a block of 1.28 x 1.28 on average.
  EXPECT_NEAR(scaled_coloured, coloured * 1.28 * 1.28, coloured * 0.15);
}

TEST_F(CorvantaPlay, KeysToggleFullScreenPauseAndQuitWithTheWorldInStep) {
  const PlayerRun run = run_player("--seed 3 --log --keys f@40,f@60,space@80,space+700,esc@120 " + *music_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  const std::string& out = run.out;
  EXPECT_NE(out.find("title Corvanta \xE2\x80\x94 " + music_->substr(music_->find_last_of('/') + 1) + "\n"),
            std::string::npos)
      << out;
  const size_t on = out.find("fullscreen on\n");
  const size_t big = out.find("size 1280x1024\n");
  const size_t off = out.find("fullscreen off\n");
  const size_t small = out.find("size 1000x400\n", off == std::string::npos ? 0 : off);
  ASSERT_NE(on, std::string::npos) << out;
  ASSERT_NE(big, std::string::npos) << out;
  ASSERT_NE(off, std::string::npos) << out;
  ASSERT_NE(small, std::string::npos) << out;
  EXPECT_LT(on, big);
  EXPECT_LT(big, off);
  EXPECT_LT(off, small);

  long paused_at = -1;
  long resumed_at = -1;
  long quit_at = -1;
  double paused_heard = -1.0;
  double resumed_heard = -1.0;
  ASSERT_NE(out.find("pause at frame"), std::string::npos) << out;
  ASSERT_NE(out.find("resume at frame"), std::string::npos) << out;
  ASSERT_NE(out.find("quit at frame"), std::string::npos) << out;
  std::sscanf(out.c_str() + out.find("pause at frame"), "pause at frame %ld, %lf", &paused_at, &paused_heard);
  std::sscanf(out.c_str() + out.find("resume at frame"), "resume at frame %ld, %lf", &resumed_at, &resumed_heard);
  std::sscanf(out.c_str() + out.find("quit at frame"), "quit at frame %ld", &quit_at);
  // A key scripted for a frame is pressed at that frame, however busy the machine.
  EXPECT_EQ(paused_at, 80);
  EXPECT_EQ(quit_at, 120);
  // A frame is stepped once its moment has been heard, never before. (How closely the
  // world follows the sound is held with a scripted clock, below: with the real one a
  // busy machine could make any allowance too small.)
  EXPECT_GE(paused_heard, (paused_at - 1) / 40.0);
  // Neither the world nor the sound moves while paused. A clock that counted the pause
  // would move by all of its 0.7 s, however fast or slow the machine; one that stands
  // moves by at most the buffer or two handed over around the key.
  EXPECT_EQ(resumed_at, paused_at);
  EXPECT_GE(resumed_heard, paused_heard);
  EXPECT_LT(resumed_heard - paused_heard, 0.35);

  long frames = 0;
  double heard = 0.0;
  ASSERT_TRUE(parse_summary(out, frames, heard)) << out;
  EXPECT_EQ(frames, quit_at);
  EXPECT_GE(heard, (frames - 1) / 40.0);
  // And it showed the world as it went, not all of it at the end. (A machine stalled
  // for a second may step a second's frames between two pictures, but one turn steps
  // for 100 ms at most, never the whole run.)
  long most_at_once = -1;
  ASSERT_NE(out.find("at most "), std::string::npos) << out;
  std::sscanf(out.c_str() + out.find("at most "), "at most %ld", &most_at_once);
  EXPECT_GE(most_at_once, 1);
  EXPECT_LT(most_at_once, frames);
}

TEST_F(CorvantaPlay, PlaysATrackToItsEndAndStops) {
  const std::string wav = temp_path("short.wav");
  std::string error;
  ASSERT_TRUE(audio_write_wav(wav, 22050, tone_audio(22050, 110.0, 2.0, 0.3), error)) << error;
  const PlayerRun run = run_player("--seed 1 " + wav);
  std::remove(wav.c_str());
  ASSERT_EQ(run.status, 0) << run.err;
  long frames = 0;
  double heard = 0.0;
  ASSERT_TRUE(parse_summary(run.out, frames, heard)) << run.out;
  EXPECT_EQ(frames, 80);  // frames 0..79 start within the 2 s
  // It stops once the last frame is heard, not before.
  EXPECT_GE(heard, 79 / 40.0);
}

TEST_F(CorvantaPlay, CaptureListensToTheRecordingDeviceAndSaysOnceWhenItStaysSilent) {
  // The dummy driver records silence in real time: 6 s of it.
  const PlayerRun run = run_player("--capture --frames 240 --log");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("title Corvanta \xE2\x80\x94 live input\n"), std::string::npos) << run.out;
  long frames = 0;
  double heard = 0.0;
  ASSERT_TRUE(parse_summary(run.out, frames, heard)) << run.out;
  EXPECT_EQ(frames, 240);
  EXPECT_GE(heard, 239 / 40.0);
  EXPECT_EQ(run.err, "corvanta-play: no sound from the default recording device for 5 s\n");
}

TEST_F(CorvantaPlay, StepsEveryFrameHeardAndNoneBeyondWhileTheSoundWaits) {
  // A scripted clock: SDL's disk driver records from a named pipe that this test
  // writes, so the live input's clock is the sound written, whatever the machine's
  // speed. One second of music goes in, then nothing for seconds: the player must
  // step every frame that second holds, and then wait for the sound, not for time.
  const std::string fifo = temp_path("input.fifo");
  const std::string raw = temp_path("input.raw");
  const std::string out = temp_path("fifo-player.out");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  {
    const std::vector<float> second = music_audio(kRate, 1.0, 32.0);
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size() * sizeof(float)));
  }
  // Pause 4 s after the window opens (time enough to step a second's frames on any
  // machine that runs these tests), so the log says where the world stands; then quit.
  const std::string player = player_command("--capture --seed 7 --log --keys space+4000,esc+100", "disk",
                                            Display::kXvfb, "SDL_DISKAUDIOFILEIN=" + fifo + " SDL_DISKAUDIODELAY=0 ");
  // The pipe is held open for reading and writing here, so neither side waits to open
  // it. The recording thread waits in a read for the rest of a buffer; ending the
  // input once the player has paused lets it close the device.
  const PlayerRun run = run_command(
      "corvanta-play", "{ " + player + " >" + out + " & p=$!; exec 3<>" + fifo + "; cat " + raw +
                           " >&3 & c=$!; for i in $(seq 600); do grep -q '^pause at' " + out +
                           " && break; kill -0 $p 2>/dev/null || break; sleep 0.1; done; kill $c 2>/dev/null; "
                           "exec 3>&-; wait $p; s=$?; cat " + out + "; exit $s; }");
  std::remove(fifo.c_str());
  std::remove(raw.c_str());
  std::remove(out.c_str());
  if (run.status == 2 && run.err.find("no audio device") != std::string::npos) {
    GTEST_SKIP() << "SDL here has no disk audio driver to script the clock with: " << run.err;
  }
  ASSERT_EQ(run.status, 0) << run.err << run.out;
  long paused_at = -1;
  double paused_heard = -1.0;
  ASSERT_NE(run.out.find("pause at frame"), std::string::npos) << run.out;
  std::sscanf(run.out.c_str() + run.out.find("pause at frame"), "pause at frame %ld, %lf", &paused_at, &paused_heard);
  // The recording arrives in whole buffers: 43 of them, 44,032 samples (0.998 s), are
  // heard. Frames 0 to 39 start within them; frame 40, at 1 s, does not.
  const int64_t heard_samples = kRate / kDeviceBuffer * kDeviceBuffer;
  EXPECT_NEAR(paused_heard, static_cast<double>(heard_samples) / kRate, 0.0005);
  EXPECT_EQ(paused_at, 40);
}

TEST_F(CorvantaPlay, BadInputGivesOneClearLineAndStatusTwo) {
  struct Case {
    const char* what;
    std::string args;
    std::string driver;
    Display display;
    std::string message;
  };
  const std::string text = temp_path("notes.txt");
  {
    std::ofstream f(text);
    f << "not a song\n";
  }
  const std::string one_hertz = temp_path("one-hertz.wav");
  std::string error;
  ASSERT_TRUE(write_wav_claiming_rate(one_hertz, 1, error)) << error;
  const std::vector<Case> cases = {
      {"missing file", "/nonexistent/song.flac", "dummy", Display::kXvfb, "cannot open '/nonexistent/song.flac'"},
      {"not audio", text, "dummy", Display::kXvfb, "is not audio"},
      {"no audio device", *music_, "no-such-driver", Display::kXvfb, "no audio device"},
      {"no display", *music_, "dummy", Display::kNone, "cannot open a window"},
      {"no input", "", "dummy", Display::kXvfb, "no audio file given"},
      {"file and capture", *music_ + " --capture", "dummy", Display::kXvfb, "not both"},
      {"unknown recording device", "--capture 'No such device'", "dummy", Display::kXvfb,
       "no recording device named 'No such device' (--list-devices lists them)"},
      {"unknown device to list", "--list-devices", "no-such-driver", Display::kXvfb, "no audio device"},
      {"unwritable record", "--record /nonexistent/dir/heard.spectra " + *music_, "dummy", Display::kXvfb,
       "cannot write '/nonexistent/dir/heard.spectra'"},
      {"bad seed", "--seed -1 " + *music_, "dummy", Display::kXvfb, "--seed"},
      {"unknown option", "--bogus " + *music_, "dummy", Display::kNone, "unknown option '--bogus' (see --help)"},
      {"missing value", *music_ + " --record", "dummy", Display::kNone, "option --record needs a value"},
      // --capture's device name is optional: an option after it is no name.
      {"capture before an option", "--capture --seed 5 " + *music_, "dummy", Display::kNone, "not both"},
      {"two files", *music_ + " " + text, "dummy", Display::kNone,
       "one audio file at a time ('" + *music_ + "' and '" + text + "')"},
      {"rate nobody plays", one_hertz, "dummy", Display::kXvfb,
       "the sample rate 1 Hz is outside the 8000 to 192000 Hz Corvanta plays"},
  };
  for (const Case& c : cases) {
    const PlayerRun run = run_player(c.args, c.driver, c.display);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(count_lines(run.err), 1) << c.what << ": " << run.err;
    EXPECT_EQ(run.err.rfind("corvanta-play: ", 0), 0u) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
    EXPECT_TRUE(run.out.empty()) << c.what << ": " << run.out;
  }
  std::remove(text.c_str());
  std::remove(one_hertz.c_str());
}

// Neither needs a display or an audio device, and either ends the command line.
TEST_F(CorvantaPlay, HelpListsThePublicOptionsOnlyAndVersionNamesTheRelease) {
  const PlayerRun help = run_player("--help --bogus", "no-such-driver", Display::kNone);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("usage: corvanta-play", 0), 0u) << help.out;
  for (const char* option : {"--seed", "--capture", "--list-devices", "--record", "--version", "--help"}) {
    EXPECT_NE(help.out.find(std::string("\n  ") + option + " "), std::string::npos) << option << " not in\n" << help.out;
  }
  // The test hooks are no promise to users.
  for (const char* hook : {"--frames", "--screenshot", "--keys", "--log"}) {
    EXPECT_EQ(help.out.find(hook), std::string::npos) << hook << " in\n" << help.out;
  }

  const PlayerRun version = run_player("--version --bogus", "no-such-driver", Display::kNone);
  EXPECT_EQ(version.status, 0) << version.err;
  int major = -1, minor = -1, patch = -1, end = 0;
  EXPECT_EQ(std::sscanf(version.out.c_str(), "corvanta-play %d.%d.%d\n%n", &major, &minor, &patch, &end), 3)
      << version.out;
  EXPECT_EQ(static_cast<size_t>(end), version.out.size()) << version.out;
  EXPECT_TRUE(version.err.empty()) << version.err;
}

TEST_F(CorvantaPlay, CaptureOfAPulseAudioMonitorFollowsTheMusicPlayedIntoItsSink) {
  PulseServer server;
  std::string why;
  if (!server.start(why)) GTEST_SKIP() << why;

  // Loud and quiet stretches of uneven lengths (0.25 s to 1 s), so they line up with
  // the recording at one offset only; quiet is the same music 50 dB down. The last
  // loud stretch is still playing when the player stops and takes its picture.
  struct Stretch {
    double seconds;
    bool loud;
  };
  const Stretch stretches[] = {{0.5, true},  {0.25, false}, {0.25, true}, {0.75, false}, {1.0, true},
                               {0.5, false}, {0.25, true},  {0.5, false}, {2.0, true}};
  std::vector<float> song = music_audio(kRate, 6.0, 32.0);
  std::vector<int> loud_at_frame;  // per song frame: 1 loud, 0 quiet, -1 too near a change
  double start = 0.0;
  for (const Stretch& st : stretches) {
    const size_t from = static_cast<size_t>(start * kRate);
    const size_t to = static_cast<size_t>((start + st.seconds) * kRate);
    for (size_t i = 2 * from; i < 2 * to && i < song.size(); ++i) song[i] *= st.loud ? 0.9f : 0.003f;
    // A live window (46 ms) ends at its frame's moment: 3 frames either side of a
    // change may hear both.
    for (int64_t n = std::lround(start * 40); n < std::lround((start + st.seconds) * 40); ++n) {
      const bool near = n < std::lround(start * 40) + 3 || n >= std::lround((start + st.seconds) * 40) - 3;
      loud_at_frame.push_back(near ? -1 : st.loud);
    }
    start += st.seconds;
  }
  const std::string wav = temp_path("loud-quiet.wav");
  ASSERT_TRUE(audio_write_wav(wav, kRate, song, why)) << why;

  // The monitor is listed by the name SDL gives it.
  const PlayerRun list = run_player("--list-devices", "pulseaudio", Display::kNone, server.env());
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find(std::string(PulseServer::kMonitor) + "\n"), std::string::npos) << list.out;

  // The player listens to the monitor; once its window is up, paplay plays the song
  // into the sink in real time. 220 frames: 5.5 s, ending inside the 6 s song.
  const std::string record = temp_path("heard.spectra");
  const std::string shot = temp_path("heard.ppm");
  const std::string out = temp_path("player.out");
  const std::string player =
      player_command("--capture '" + std::string(PulseServer::kMonitor) + "' --seed 7 --frames 220 --log --record " +
                         record + " --screenshot " + shot,
                     "pulseaudio", Display::kXvfb, server.env());
  const PlayerRun run = run_command(
      "corvanta-play", "{ " + player + " >" + out + " & p=$!; for i in $(seq 300); do grep -q '^renderer' " + out +
                           " && break; sleep 0.1; done; env " + server.env() + PAPLAY_PATH + " --device=" +
                           PulseServer::kSink + " " + wav + "; wait $p; s=$?; cat " + out + "; exit $s; }");
  server.stop();
  std::remove(wav.c_str());
  std::remove(out.c_str());
  ASSERT_EQ(run.status, 0) << run.err << run.out;
  long frames = 0;
  double heard = 0.0;
  ASSERT_TRUE(parse_summary(run.out, frames, heard)) << run.out;
  EXPECT_EQ(frames, 220);
  EXPECT_GE(heard, 219 / 40.0);

  const std::string spectra = read_file(record);
  std::remove(record.c_str());
  ASSERT_EQ(spectra.size(), 220u * kSpectrumBytes);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(spectra.data());
  // Where the song starts in the recording: the offset, from half a second early (the
  // server may have played some before the player listened) to the 1.5 s that paplay
  // and the server may take to begin, at which its loud stretches are loudest against
  // its quiet ones. Its first 4 s hold all the changes.
  const int64_t song_frames = 160;
  int64_t best = 0;
  double best_gap = -1e9;
  double loud_mean = 0.0;
  double quiet_mean = 0.0;
  for (int64_t d = -20; d <= 60; ++d) {
    double sums[2] = {0.0, 0.0};
    int counts[2] = {0, 0};
    for (int64_t n = 0; n < song_frames; ++n) {
      if (loud_at_frame[n] < 0 || d + n < 0) continue;
      sums[loud_at_frame[n]] += world_loudness(bytes + (d + n) * kSpectrumBytes);
      ++counts[loud_at_frame[n]];
    }
    const double gap = sums[1] / counts[1] - sums[0] / counts[0];
    if (gap > best_gap) {
      best = d;
      best_gap = gap;
      loud_mean = sums[1] / counts[1];
      quiet_mean = sums[0] / counts[0];
    }
  }
  // 50 dB is some 160 steps in each of the 100 bins; at least a third of it shows.
  EXPECT_GT(best_gap, 100 * 50.0);
  // Frame for frame, the levels rise and fall with the song: at that one offset nearly
  // every frame away from a change is on the right side of the middle. A world running
  // ahead of the sound or behind it would drift off the stretches within seconds.
  const double middle = (loud_mean + quiet_mean) / 2;
  int right = 0;
  int clear = 0;
  for (int64_t n = 0; n < song_frames; ++n) {
    if (loud_at_frame[n] < 0 || best + n < 0) continue;
    ++clear;
    right += (world_loudness(bytes + (best + n) * kSpectrumBytes) > middle) == (loud_at_frame[n] == 1);
  }
  std::printf("song found at frame %d; %d of %d frames on its side; loud %.0f, quiet %.0f\n", static_cast<int>(best),
              right, clear, loud_mean, quiet_mean);
  EXPECT_GE(right, clear * 95 / 100);

  // The picture is the world that sound made, and not what silence would have made.
  Picture shown;
  ASSERT_TRUE(read_ppm(shot, shown));
  std::remove(shot.c_str());
  const std::unique_ptr<Canvas> expected = replayed_picture(spectra);
  const std::unique_ptr<Canvas> silent = replayed_picture(std::string(spectra.size(), '\0'));
  ASSERT_EQ(shown.rgb.size(), sizeof expected->drawing.rgb);
  EXPECT_EQ(std::memcmp(shown.rgb.data(), &expected->drawing.rgb[0][0][0], shown.rgb.size()), 0);
  EXPECT_NE(std::memcmp(shown.rgb.data(), &silent->drawing.rgb[0][0][0], shown.rgb.size()), 0);
}
