// Stands in for the audio input where libsndfile was missing at build time, so
// corvanta-sim still builds and says plainly why --audio cannot work.
#include "tools/audio/track_spectrum_frames.h"

bool track_spectra_open(TrackSpectra&, const std::string& path, std::string& error) {
  error = "cannot read '" + path + "': built without libsndfile (tools/install-deps.sh installs it)";
  return false;
}

int64_t track_spectra_frames(const TrackSpectra&) { return 0; }

const uint8_t* track_spectra_frame(TrackSpectra& spectra, int64_t) { return spectra.current; }
