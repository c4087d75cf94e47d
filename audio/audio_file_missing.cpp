// Stands in for audio-file decoding where libsndfile was missing at build time, so
// corvanta-sim still builds and says plainly why --audio cannot work.
#include "audio/audio_file.h"

bool audio_track_load(const std::string& path, AudioTrack&, std::string& error) {
  error = "cannot read '" + path + "': built without libsndfile (tools/install-deps.sh installs it)";
  return false;
}
