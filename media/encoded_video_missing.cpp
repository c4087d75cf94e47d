// Stands in for the video encoders where FFmpeg's libraries were missing at build time,
// so corvanta-sim still builds, writes Y4M, and says plainly why .mp4 and .webm cannot work.
#include "media/encoded_video.h"

EncodedVideo* encoded_video_open(const std::string& path, VideoKind, const AudioTrack*, int64_t, bool,
                                 std::string& error) {
  error = "cannot write '" + path + "': built without FFmpeg's libraries (tools/install-deps.sh installs them)";
  return nullptr;
}

bool encoded_video_frame(EncodedVideo&, const PixelBuffer&, std::string&) { return false; }
bool encoded_video_commit(EncodedVideo*, std::string&) { return false; }
void encoded_video_discard(EncodedVideo*) {}
