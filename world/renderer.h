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

struct Canvas {
  PixelBuffer drawing;     // starts all white
  PixelBuffer background;  // all black, never drawn into
  PresentSink sink;
  void* sink_context;
};

// Drawing buffer white, background black, no sink.
void canvas_load_state(Canvas& canvas);
void draw_world(const World& world, PixelBuffer& buffer, const PixelBuffer& background);
void present(const Canvas& canvas);
