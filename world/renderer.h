#pragma once
// Paints the world into a 1000 x 400 picture and hands the picture on.
#include "world/world_state.h"

// Rows top to bottom, red, green, blue per pixel: the order the picture digest
// reads and the order an RGB image file wants.
struct PixelBuffer {
  uint8_t rgb[kWorldHeight][kWorldWidth][3];
};

// Where a finished picture goes. Without a display window the caller registers a
// sink; with none, presenting does nothing.
using PresentSink = void (*)(const PixelBuffer& picture, void* context);

// The pixels of the drawing that differ from the background, so the next frame
// need only restore those instead of copying the whole background.
constexpr int32_t kPaintedCapacity = 1 << 18;

struct Canvas {
  PixelBuffer drawing;     // starts all white
  PixelBuffer background;  // all black, never drawn into
  PresentSink sink;
  void* sink_context;
  int32_t painted_valid;  // 0: the drawing may differ anywhere (white at start)
  int32_t painted_count;
  int32_t painted[kPaintedCapacity];  // byte offsets into the rgb array
};

// Drawing buffer white, background black, no sink.
void canvas_load_state(Canvas& canvas);
void draw_world(const World& world, PixelBuffer& buffer, const PixelBuffer& background);
// The same picture as draw_world into canvas.drawing from canvas.background,
// touching only the pixels that change. Needs the Life step's tracking, which
// frame_step guarantees; the background must not change between calls.
void draw_world_tracked(const World& world, Canvas& canvas);
void present(const Canvas& canvas);
