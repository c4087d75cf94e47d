#include "media/y4m_video.h"

namespace {

// BT.601 in 8.8 fixed point, the usual integer form: exact enough for 8-bit video and
// the same bytes on every machine.
uint8_t luma(int32_t r, int32_t g, int32_t b) { return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }

// r, g, b are sums of four pixels; the offset keeps the shifted value non-negative.
uint8_t blue_difference(int32_t r4, int32_t g4, int32_t b4) {
  return static_cast<uint8_t>((-38 * r4 - 74 * g4 + 112 * b4 + (128 << 10) + 512) >> 10);
}
uint8_t red_difference(int32_t r4, int32_t g4, int32_t b4) {
  return static_cast<uint8_t>((112 * r4 - 94 * g4 - 18 * b4 + (128 << 10) + 512) >> 10);
}

}  // namespace

std::string y4m_stream_header(int32_t fps) {
  return "YUV4MPEG2 W" + std::to_string(kWorldWidth) + " H" + std::to_string(kWorldHeight) + " F" +
         std::to_string(fps) + ":1 Ip A1:1 C420jpeg\n";
}

void y4m_frame(const PixelBuffer& picture, std::vector<uint8_t>& out) {
  constexpr int32_t kChromaWidth = kWorldWidth / 2;
  constexpr int32_t kChromaHeight = kWorldHeight / 2;
  out.resize(kY4mFrameBytes);
  uint8_t* p = out.data();
  for (const char c : {'F', 'R', 'A', 'M', 'E', '\n'}) *p++ = static_cast<uint8_t>(c);
  uint8_t* y_plane = p;
  uint8_t* u_plane = y_plane + kWorldWidth * kWorldHeight;
  uint8_t* v_plane = u_plane + kChromaWidth * kChromaHeight;

  for (int32_t y = 0; y < kWorldHeight; ++y) {
    for (int32_t x = 0; x < kWorldWidth; ++x) {
      const uint8_t* px = picture.rgb[y][x];
      y_plane[y * kWorldWidth + x] = luma(px[0], px[1], px[2]);
    }
  }
  for (int32_t cy = 0; cy < kChromaHeight; ++cy) {
    for (int32_t cx = 0; cx < kChromaWidth; ++cx) {
      int32_t r4 = 0;
      int32_t g4 = 0;
      int32_t b4 = 0;
      for (int32_t dy = 0; dy < 2; ++dy) {
        for (int32_t dx = 0; dx < 2; ++dx) {
          const uint8_t* px = picture.rgb[2 * cy + dy][2 * cx + dx];
          r4 += px[0];
          g4 += px[1];
          b4 += px[2];
        }
      }
      u_plane[cy * kChromaWidth + cx] = blue_difference(r4, g4, b4);
      v_plane[cy * kChromaWidth + cx] = red_difference(r4, g4, b4);
    }
  }
}
