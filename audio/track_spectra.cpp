#include "audio/track_spectra.h"

#include <algorithm>

namespace {

// How much of the track is handed to the stream at a time: about a tenth of a second,
// as a player's buffers bring it.
constexpr int64_t kFeedFrames = 4096;

}  // namespace

bool track_spectra_open(TrackSpectra& spectra, const std::string& path, std::string& error) {
  spectra.fed = 0;
  spectra.frame = 0;
  return audio_track_load(path, spectra.track, error) &&
         audio_stream_open(spectra.stream, spectra.track.sample_rate, 2, WindowAlignment::kCentred, error);
}

int64_t track_spectra_frames(const TrackSpectra& spectra) {
  return last_frame_heard(spectra.track.frames - 1, spectra.track.sample_rate) + 1;
}

const uint8_t* track_spectra_next(TrackSpectra& spectra) {
  AudioStream& stream = spectra.stream;
  while (audio_stream_frames_due(stream) == 0 && !stream.finished) {
    const int64_t frames = std::min(kFeedFrames, spectra.track.frames - spectra.fed);
    if (frames == 0) {
      audio_stream_finish(stream);
      break;
    }
    audio_stream_feed_float(stream, &spectra.track.samples[static_cast<size_t>(2 * spectra.fed)], frames);
    spectra.fed += frames;
  }
  if (audio_stream_frames_due(stream) > 0) {
    audio_stream_next_spectrum(stream, spectra.current);
  } else {
    // A run longer than the track: the window reads silence only.
    track_frame_spectrum(stream.analyser, spectra.track, spectra.frame, spectra.current);
  }
  ++spectra.frame;
  return spectra.current;
}
