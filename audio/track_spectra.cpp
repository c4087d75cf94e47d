#include "audio/track_spectra.h"

bool track_spectra_open(TrackSpectra& spectra, const std::string& path, std::string& error) {
  return audio_track_load(path, spectra.track, error) &&
         analyser_open(spectra.analyser, spectra.track.sample_rate, error);
}

int64_t track_spectra_frames(const TrackSpectra& spectra) {
  return last_frame_heard(spectra.track.frames - 1, spectra.track.sample_rate) + 1;
}

const uint8_t* track_spectra_frame(TrackSpectra& spectra, int64_t frame) {
  track_frame_spectrum(spectra.analyser, spectra.track, frame, spectra.current);
  return spectra.current;
}
