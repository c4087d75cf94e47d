#pragma once
// corvanta-sim's shareable videos: the world's pictures compressed through FFmpeg's
// libraries, with the track's own sound muxed in, frame 0 starting with the sound's
// first sample. .mp4 is H.264 with AAC, .webm VP9 with Opus. Written under FILE.tmp and
// renamed into place once complete, as every output of corvanta-sim is. In a build
// without FFmpeg's libraries, opening says so instead.
#include <cstdint>
#include <string>

#include "audio/audio_track.h"
#include "media/video_kind.h"
#include "world/renderer.h"

struct EncodedVideo;

// Makes sure the encoders exist and the file can be written, and writes the header.
// `audio` may be null (no sound stream); otherwise its samples up to the end of the
// last of `frames` frames are muxed in. `lossless`: RGB kept exactly (H.264 in RGB at
// quantiser 0, VP9 in planar RGB lossless mode), for checking frames bit for bit;
// few players show such files. Null with a one-line message on failure.
EncodedVideo* encoded_video_open(const std::string& path, VideoKind kind, const AudioTrack* audio, int64_t frames,
                                 bool lossless, std::string& error);
// The next frame's picture, and the sound up to the end of that frame.
bool encoded_video_frame(EncodedVideo& video, const PixelBuffer& picture, std::string& error);
// Drains the encoders, finishes the file and renames it into place; frees `video`.
bool encoded_video_commit(EncodedVideo* video, std::string& error);
// Frees `video` and removes the temporary file. Safe with null.
void encoded_video_discard(EncodedVideo* video);
