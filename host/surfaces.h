#pragma once
// The two off-screen pictures the plug-in holds from init to quit: the drawing
// surface, which the window is copied from, and the background surface. Which kind
// of bitmap stands behind the drawing surface is this file's business alone.
#include <windows.h>

#include <cstdint>

#include "world/renderer.h"

// Both surfaces, width x height, for the screen `window` is on: the drawing surface
// white, the background black. Whatever an earlier init made must be released first.
void surfaces_create(HWND window, int32_t width, int32_t height);
// Each surface's bitmap back out of its context, then context and bitmap freed.
void surfaces_release();

// After a drawn frame: the drawing surface takes the canvas's picture. `listed` says
// that only the pixels for_each_changed_pixel names differ from the last picture.
// Without a surface the picture is missed, and the next one is taken whole.
void draw_surface_take(const Canvas& canvas, bool listed);

// The drawing surface's context, to copy from with BitBlt; null without a surface.
HDC draw_surface_dc();
