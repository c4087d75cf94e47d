#pragma once
// Paints the world into a 1000 x 400 picture. Showing it is the caller's business:
// frame_step's report says whether, and where, the picture changed.
#include "world/world_state.h"

// Rows top to bottom, red, green, blue per pixel: the order the picture digest
// reads and the order an RGB image file wants.
struct PixelBuffer {
  uint8_t rgb[kWorldHeight][kWorldWidth][3];
};

// Pixels painted over the background by the last two draws: the next draw restores
// only the last one's instead of copying the whole background, and whoever shows the
// picture can update just the pixels a draw changed.
constexpr int32_t kPaintedCapacity = 1 << 18;

struct Canvas {
  PixelBuffer drawing;     // starts all white
  // All background_colour (black), never drawn into: restoring a pixel needs no read
  // of it, and only a whole redraw copies it.
  PixelBuffer background;
  uint8_t background_colour[3];
  int32_t painted_valid;     // 0: the drawing may differ from the background anywhere
  int32_t changes_known;     // 1: the last draw changed only pixels on the two lists
  int32_t painted_current;   // the list of the last draw; the other is the one before
  int32_t painted_count[2];
  int32_t painted[2][kPaintedCapacity];  // byte offsets into the rgb array
};

// Drawing buffer white, background black.
void canvas_load_state(Canvas& canvas);
void draw_world(const World& world, PixelBuffer& buffer, const PixelBuffer& background);
// The same picture as draw_world into canvas.drawing from canvas.background,
// touching only the pixels that change. Draws in full while the grid is not tracked;
// the background must not change between calls.
void draw_world_tracked(const World& world, Canvas& canvas);

// After draw_world_tracked with changes_known set: calls visit(offset) with the byte
// offset into the rgb array of every pixel the draw may have changed (some twice).
template <typename Visit>
void for_each_changed_pixel(const Canvas& canvas, Visit visit) {
  for (int32_t list = 0; list < 2; ++list) {
    for (int32_t i = 0; i < canvas.painted_count[list]; ++i) visit(canvas.painted[list][i]);
  }
}
