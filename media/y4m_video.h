#pragma once
// The world's pictures as a YUV4MPEG2 (Y4M) stream: uncompressed, one header and then
// one frame after another, readable by ffmpeg, mpv, x264 and the rest. 4:2:0 with
// BT.601 limited-range values, what those tools assume for Y4M without being told.
#include <cstdint>
#include <string>
#include <vector>

#include "world/renderer.h"

// "FRAME\n", the luma plane, then the two quarter-size chroma planes.
constexpr size_t kY4mFrameBytes = 6 + static_cast<size_t>(kWorldWidth) * kWorldHeight * 3 / 2;

// The stream header for 1000 x 400 pictures at `fps` frames per second.
std::string y4m_stream_header(int32_t fps);
// Replaces `out` with one frame of the stream. Each chroma sample is the average of
// its 2 x 2 pixels.
void y4m_frame(const PixelBuffer& picture, std::vector<uint8_t>& out);
