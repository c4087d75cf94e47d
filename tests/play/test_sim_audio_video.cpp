// corvanta-sim's audio input and video output: the Y4M frames themselves, and whole
// runs of the program on generated tracks.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "signals.h"
#include "wav_file.h"
#include "test_files.h"
#include "audio/track_spectra.h"
#include "media/y4m_video.h"
#include "world/frame_step.h"

namespace {

constexpr size_t kLuma = static_cast<size_t>(kWorldWidth) * kWorldHeight;
constexpr size_t kChroma = kLuma / 4;

std::unique_ptr<PixelBuffer> filled(uint8_t r, uint8_t g, uint8_t b) {
  std::unique_ptr<PixelBuffer> picture(new PixelBuffer);
  for (auto& row : picture->rgb) {
    for (auto& px : row) {
      px[0] = r;
      px[1] = g;
      px[2] = b;
    }
  }
  return picture;
}

struct Yuv {
  int y, u, v;
};

// The first pixel of each plane of a frame.
Yuv first_sample(const std::vector<uint8_t>& frame) {
  return {frame[6], frame[6 + kLuma], frame[6 + kLuma + kChroma]};
}

std::string temp_path(const std::string& name) { return ::temp_path("corvanta-simav", name); }

using SimRun = CommandRun;

SimRun run_sim(const std::string& args) {
  return run_command("corvanta-simav", std::string(CORVANTA_SIM_PATH) + " " + args);
}


}  // namespace

TEST(Y4mVideo, ColoursBecomeLimitedRangeBt601) {
  // Reference values of BT.601 studio range, to within the rounding of 8-bit maths.
  struct Case {
    uint8_t r, g, b;
    Yuv want;
  };
  const Case cases[] = {
      {0, 0, 0, {16, 128, 128}},     {255, 255, 255, {235, 128, 128}}, {255, 0, 0, {82, 90, 240}},
      {0, 255, 0, {145, 54, 34}},    {0, 0, 255, {41, 240, 110}},      {0, 0, 100, {26, 172, 121}},
  };
  std::vector<uint8_t> frame;
  for (const Case& c : cases) {
    y4m_frame(*filled(c.r, c.g, c.b), frame);
    ASSERT_EQ(frame.size(), 6 + kLuma + 2 * kChroma);
    ASSERT_EQ(std::string(frame.begin(), frame.begin() + 6), "FRAME\n");
    const Yuv got = first_sample(frame);
    EXPECT_NEAR(got.y, c.want.y, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_NEAR(got.u, c.want.u, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_NEAR(got.v, c.want.v, 1) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    // Uniform pictures give uniform planes, the last samples included.
    EXPECT_EQ(frame[6 + kLuma - 1], got.y);
    EXPECT_EQ(frame.back(), got.v);
  }
}

TEST(Y4mVideo, LumaKeepsEveryPixelAndChromaAveragesTwoByTwo) {
  std::unique_ptr<PixelBuffer> picture = filled(0, 0, 0);
  // One red pixel at (3, 5): its own luma sample, and a quarter of its colour in the
  // chroma sample of block (1, 2).
  picture->rgb[5][3][0] = 255;
  // A whole 2 x 2 block of red at (10..11, 20..21): full red chroma.
  for (int y = 20; y < 22; ++y) {
    for (int x = 10; x < 12; ++x) picture->rgb[y][x][0] = 255;
  }
  std::vector<uint8_t> frame;
  y4m_frame(*picture, frame);
  const uint8_t* luma = frame.data() + 6;
  const uint8_t* u = luma + kLuma;
  const uint8_t* v = u + kChroma;
  EXPECT_EQ(luma[5 * kWorldWidth + 3], 82);
  EXPECT_EQ(luma[5 * kWorldWidth + 2], 16);
  EXPECT_EQ(luma[4 * kWorldWidth + 3], 16);
  const int half = kWorldWidth / 2;
  EXPECT_EQ(v[2 * half + 1], 128 + (240 - 128) / 4);
  EXPECT_EQ(u[2 * half + 1], 119);  // 128 - 37.8 / 4, rounded
  EXPECT_EQ(v[10 * half + 5], 240);
  EXPECT_EQ(v[10 * half + 4], 128);
}

class SimAudioVideo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    track_ = new std::string(temp_path("song.wav"));
    std::string error;
    ASSERT_TRUE(audio_write_wav(*track_, 48000, music_audio(48000, 5.0, 32.0), error)) << error;
  }
  static void TearDownTestSuite() {
    std::remove(track_->c_str());
    delete track_;
  }
  static std::string* track_;
};
std::string* SimAudioVideo::track_ = nullptr;

TEST_F(SimAudioVideo, VideoHoldsEveryFrameOfTheWorldAsTheTrackDrivesIt) {
  const std::string video = temp_path("run.y4m");
  const SimRun run = run_sim("--audio " + *track_ + " --seed 5 --frames 180 --video " + video);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("180 frames, seed 5"), std::string::npos) << run.out;
  const std::string bytes = read_file(video);
  std::remove(video.c_str());
  const std::string header = "YUV4MPEG2 W1000 H400 F40:1 Ip A1:1 C420jpeg\n";
  ASSERT_EQ(bytes.size(), header.size() + 180 * kY4mFrameBytes);
  EXPECT_EQ(bytes.compare(0, header.size(), header), 0);

  // The same world stepped here on the same spectra.
  std::unique_ptr<TrackSpectra> spectra(new TrackSpectra());
  std::string error;
  ASSERT_TRUE(track_spectra_open(*spectra, *track_, error)) << error;
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);
  std::vector<uint8_t> want;
  for (int64_t n = 0; n < 180; ++n) {
    frame_step(*world, *canvas, track_spectra_next(*spectra), 5);
    // The white start-up surface, the first drawn frame, and the last.
    if (n == 0 || n == 151 || n == 179) {
      y4m_frame(canvas->drawing, want);
      const size_t at = header.size() + static_cast<size_t>(n) * kY4mFrameBytes;
      EXPECT_EQ(bytes.compare(at, kY4mFrameBytes, std::string(want.begin(), want.end())), 0) << "frame " << n;
    }
  }
  EXPECT_EQ(static_cast<uint8_t>(bytes[header.size() + 6]), 235);  // white at first
}

TEST_F(SimAudioVideo, WithoutFramesTheWholeTrackRuns) {
  // 5 s at 48 kHz: frames 0..199 start inside it.
  const SimRun run = run_sim("--audio " + *track_ + " --seed 5 --trace " + temp_path("t.trace"));
  std::remove(temp_path("t.trace").c_str());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("corvanta-sim: 200 frames"), std::string::npos) << run.out;
}

TEST_F(SimAudioVideo, UnreadableAudioAndUnwritableVideoAreRefused) {
  const std::string video = temp_path("never.y4m");
  const SimRun missing = run_sim("--audio /nonexistent/a.flac --video " + video);
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open '/nonexistent/a.flac'"), std::string::npos) << missing.err;
  // Nothing left behind, not even the temporary file.
  EXPECT_NE(access(video.c_str(), F_OK), 0);
  EXPECT_NE(access((video + ".tmp").c_str(), F_OK), 0);

  const SimRun unwritable = run_sim("--audio " + *track_ + " --frames 10 --video /nonexistent/dir/v.y4m");
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("/nonexistent/dir/v.y4m"), std::string::npos) << unwritable.err;

  const SimRun beyond = run_sim("--audio " + *track_ + " --snapshot-at 500 --snapshot " + temp_path("s.bin"));
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("beyond the track's last frame (200)"), std::string::npos) << beyond.err;
}

// A hand-made file at 1 Hz once ran 176,400 frames; one claiming 4,294,967,280 Hz must
// not be taken for a negative or wrapped rate.
TEST_F(SimAudioVideo, SampleRatesNobodyPlaysAreRefusedNamingTheRate) {
  for (const uint32_t rate : {1u, 7999u, 192001u, 4294967280u}) {
    const std::string wav = temp_path("odd-rate.wav");
    std::string error;
    ASSERT_TRUE(write_wav_claiming_rate(wav, rate, error)) << error;
    const SimRun run = run_sim("--audio " + wav + " --trace " + temp_path("odd.trace"));
    std::remove(wav.c_str());
    EXPECT_EQ(run.status, 2) << rate;
    EXPECT_NE(run.err.find("the sample rate " + std::to_string(rate) + " Hz is outside the 8000 to 192000 Hz"),
              std::string::npos)
        << rate << ": " << run.err;
    EXPECT_NE(access(temp_path("odd.trace").c_str(), F_OK), 0) << rate;
  }
  for (const uint32_t rate : {8000u, 192000u}) {
    const std::string wav = temp_path("edge-rate.wav");
    std::string error;
    ASSERT_TRUE(write_wav_claiming_rate(wav, rate, error)) << error;
    const SimRun run = run_sim("--audio " + wav + " --trace " + temp_path("edge.trace"));
    std::remove(wav.c_str());
    std::remove(temp_path("edge.trace").c_str());
    EXPECT_EQ(run.status, 0) << rate << ": " << run.err;
  }
}

namespace {

// What ffprobe says of one stream, and what decoding it gives.
struct StreamInfo {
  std::string type;
  std::string codec;
  std::string rate;    // r_frame_rate of a video stream
  long frames = -1;    // frames a decoder reads
  double seconds = -1; // the stream's own duration, where the container records one
};

std::vector<StreamInfo> probe(const std::string& path) {
  const CommandRun run = run_command("corvanta-simav", std::string(FFPROBE_PATH) +
      " -v error -count_frames -show_entries stream=codec_type,codec_name,r_frame_rate,nb_read_frames,duration"
      " -of compact=p=0:nk=0 " + path);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<StreamInfo> streams;
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    StreamInfo s;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      const size_t eq = field.find('=');
      const std::string key = field.substr(0, eq);
      const std::string value = field.substr(eq + 1);
      if (key == "codec_type") s.type = value;
      if (key == "codec_name") s.codec = value;
      if (key == "r_frame_rate") s.rate = value;
      if (key == "nb_read_frames" && value != "N/A") s.frames = std::stol(value);
      if (key == "duration" && value != "N/A") s.seconds = std::stod(value);
    }
    streams.push_back(s);
  }
  return streams;
}

// Seconds of sound a decoder gives, trimmed as the container says (Matroska records
// no stream duration, but marks the encoder's padding).
double decoded_sound_seconds(const std::string& path) {
  const std::string raw = temp_path("sound.raw");
  const CommandRun run = run_command("corvanta-simav", std::string(FFMPEG_PATH) + " -v error -y -i " + path +
                                                           " -map 0:a -f s16le -ac 1 -ar 48000 " + raw);
  EXPECT_EQ(run.status, 0) << run.err;
  const double seconds = static_cast<double>(read_file(raw).size()) / 2 / 48000;
  std::remove(raw.c_str());
  return seconds;
}

// Frame n of the video stream, decoded to RGB; empty when there is none.
std::string decoded_frame(const std::string& path, int64_t n) {
  const std::string raw = temp_path("frame.rgb");
  const CommandRun run = run_command("corvanta-simav", std::string(FFMPEG_PATH) + " -v error -y -i " + path +
      " -map 0:v -vf 'select=eq(n\\," + std::to_string(n) + ")' -fps_mode passthrough -frames:v 1 -f rawvideo"
      " -pix_fmt rgb24 " + raw);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string rgb = read_file(raw);
  std::remove(raw.c_str());
  return rgb;
}

// The library's pictures of the given frames of the track with seed 5, in order.
std::vector<std::string> world_pictures(const std::string& track, const std::vector<int64_t>& frames) {
  std::unique_ptr<TrackSpectra> spectra(new TrackSpectra());
  std::string error;
  EXPECT_TRUE(track_spectra_open(*spectra, track, error)) << error;
  std::unique_ptr<World> world(new World);
  std::unique_ptr<Canvas> canvas(new Canvas);
  world_reset(*world);
  canvas_load_state(*canvas);
  std::vector<std::string> pictures;
  for (int64_t n = 0; n <= frames.back(); ++n) {
    frame_step(*world, *canvas, track_spectra_next(*spectra), 5);
    for (int64_t want : frames) {
      if (want == n) pictures.emplace_back(reinterpret_cast<const char*>(&canvas->drawing.rgb[0][0][0]),
                                           sizeof canvas->drawing.rgb);
    }
  }
  return pictures;
}

double mean_difference(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 255.0;
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]));
  return sum / static_cast<double>(a.size());
}

bool can_encode(std::string& why) {
  if (!SIM_HAS_FFMPEG) why = "corvanta-sim built without FFmpeg's libraries";
  else if (std::string(FFMPEG_PATH).empty() || std::string(FFPROBE_PATH).empty()) why = "no ffmpeg or ffprobe";
  return why.empty();
}

}  // namespace

TEST_F(SimAudioVideo, CompressedVideosCarryTheTrackAtFortyFramesASecond) {
  std::string why;
  if (!can_encode(why)) GTEST_SKIP() << why;
  // The world's pictures of frame 190 and its neighbours: the lossy frame 190 must be
  // close to its own picture, and closer to it than to the frames before and after.
  const std::vector<std::string> want = world_pictures(*track_, {189, 190, 191});
  struct Case {
    const char* ext;
    const char* video;
    const char* audio;
  };
  for (const Case& c : {Case{"mp4", "h264", "aac"}, Case{"webm", "vp9", "opus"}}) {
    SCOPED_TRACE(c.ext);
    const std::string video = temp_path(std::string("song.") + c.ext);
    const SimRun run = run_sim("--audio " + *track_ + " --seed 5 --video " + video);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<StreamInfo> streams = probe(video);
    ASSERT_EQ(streams.size(), 2u);
    const StreamInfo& v = streams[0].type == "video" ? streams[0] : streams[1];
    const StreamInfo& a = streams[0].type == "video" ? streams[1] : streams[0];
    EXPECT_EQ(v.type, "video");
    EXPECT_EQ(a.type, "audio");
    EXPECT_EQ(v.codec, c.video);
    EXPECT_EQ(a.codec, c.audio);
    EXPECT_EQ(v.rate, "40/1");
    EXPECT_NEAR(v.frames, 40 * 5, 1);
    // The track is 5 s long: the container's own record where it keeps one (an MP4's
    // edit list trims the encoder's padding), the decoded sound otherwise.
    EXPECT_NEAR(a.seconds >= 0 ? a.seconds : decoded_sound_seconds(video), 5.0, 0.025);
    const std::string frame = decoded_frame(video, 190);
    const double own = mean_difference(frame, want[1]);
    EXPECT_LT(own, 1.0);
    EXPECT_LT(own, mean_difference(frame, want[0]));
    EXPECT_LT(own, mean_difference(frame, want[2]));
    std::remove(video.c_str());
  }
}

TEST_F(SimAudioVideo, LosslessVideoHoldsTheWorldsPicturesExactlyAndEndsItsSoundWithTheLastFrame) {
  std::string why;
  if (!can_encode(why)) GTEST_SKIP() << why;
  const std::string video = temp_path("exact.mp4");
  const SimRun run = run_sim("--audio " + *track_ + " --seed 5 --frames 160 --lossless --video " + video);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<StreamInfo> streams = probe(video);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].frames, 160);
  // 160 frames are 4 s: the rest of the track is cut.
  EXPECT_NEAR(streams[1].seconds, 4.0, 0.025);
  // The white start-up surface, the first drawn frame and the last, each in its place.
  const std::vector<int64_t> frames = {0, 151, 152, 159};
  const std::vector<std::string> want = world_pictures(*track_, frames);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(decoded_frame(video, frames[i]) == want[i]) << "frame " << frames[i];
  }
  EXPECT_FALSE(want[2] == want[3]);  // the frames differ, so a shifted video would not pass
  std::remove(video.c_str());
}

TEST_F(SimAudioVideo, AVideoOfAnUnknownKindIsRefusedBeforeAnyFrame) {
  const SimRun run = run_sim("--audio " + *track_ + " --video " + temp_path("song.avi"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--video wants a file ending in .mp4, .webm or .y4m"), std::string::npos) << run.err;
  const SimRun raw_lossless = run_sim("--audio " + *track_ + " --lossless --video " + temp_path("song.y4m"));
  EXPECT_EQ(raw_lossless.status, 2);
  EXPECT_NE(raw_lossless.err.find("--lossless is for --video FILE.mp4 or FILE.webm"), std::string::npos)
      << raw_lossless.err;
  const SimRun unwritable = run_sim("--audio " + *track_ + " --video /nonexistent/dir/song.mp4");
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("/nonexistent/dir/song.mp4"), std::string::npos) << unwritable.err;
  EXPECT_TRUE(unwritable.out.empty()) << unwritable.out;  // no run summary: no frame was computed
}
