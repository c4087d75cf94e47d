// Why the drawing surface is a DIB section: the world is drawn into a plain picture
// (the Canvas), and a frame changes only the pixels its agents and cells moved. A
// bitmap compatible with the window, the obvious surface, can only be filled through
// SetDIBits, which converts and copies all 1000 x 400 pixels every frame, and which
// wants its bitmap taken out of the context first (its documentation forbids a
// bitmap selected into one). A DIB section in the layout of a 32-bit top-down DIB is
// a bitmap whose pixels are this process's memory: a frame writes just the pixels it
// changed straight into it, and the window's copy reads it as it would the other.
//
// It is used only where it gives the window the same picture as the compatible
// bitmap: on a screen of 32 bits per pixel (a 24-bit colour display), where both show
// the picture's own colours. On a 16-bit screen the two disagree (the block copy from
// the section and SetDIBits round some colours to different 5-6-5 values), so there,
// and on any screen not seen to agree, the compatible bitmap is used.
//
// The compatible bitmap is filled through SetDIBits from a buffer of the same layout,
// with the bitmap lent out of its context for every transfer, as the documentation
// asks. A system that refuses a DIB section gets it too.
//
// The background surface is made as it always was, a black compatible bitmap, even
// though the drawing never reads it (the canvas keeps its own black background): the
// player may count on the GDI objects a plug-in holds, so they stay what they were.
#include "host/surfaces.h"

// One off-screen picture: a memory context, the bitmap selected into it and the
// bitmap the context held before, which must go back in before either is freed.
struct Surface {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ kept;
};

static Surface draw_surface;
static Surface background_surface;
static int32_t surface_width;
static int32_t surface_height;

// The DIB section's own pixels; null when the drawing surface is a compatible bitmap.
static uint32_t* section_pixels;
// The compatible bitmap's pixels before each SetDIBits; static, so that a frame
// allocates nothing.
static uint32_t transfer_pixels[kWorldHeight * kWorldWidth];
// Whether the pixels above hold the last picture taken, so that a listed draw needs
// only the pixels it changed converted. A new surface, or a picture missed, clears it.
static bool pixels_hold_last_picture = false;

static BITMAPINFO picture_layout() {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kWorldWidth;
  info.bmiHeader.biHeight = -kWorldHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

static inline uint32_t dib_pixel(const uint8_t* rgb) {
  return static_cast<uint32_t>(rgb[2]) | static_cast<uint32_t>(rgb[1]) << 8 | static_cast<uint32_t>(rgb[0]) << 16;
}

static void fill(const Surface& surface, int stock_brush) {
  RECT all = {0, 0, surface_width, surface_height};
  FillRect(surface.dc, &all, static_cast<HBRUSH>(GetStockObject(stock_brush)));
}

// A memory context compatible with the screen, holding a bitmap compatible with the
// window's context (borrowed for this and given back).
static Surface compatible_surface(HWND window, int stock_brush) {
  Surface surface = {};
  surface.dc = CreateCompatibleDC(nullptr);
  HDC window_dc = GetDC(window);
  surface.bitmap = CreateCompatibleBitmap(window_dc, surface_width, surface_height);
  ReleaseDC(window, window_dc);
  surface.kept = SelectObject(surface.dc, surface.bitmap);
  fill(surface, stock_brush);
  return surface;
}

// Screens on which the window shows the same picture from either kind of bitmap.
static bool section_shows_as_compatible(HWND window) {
  HDC window_dc = GetDC(window);
  const int bits_per_pixel = GetDeviceCaps(window_dc, BITSPIXEL);
  ReleaseDC(window, window_dc);
  return bits_per_pixel == 32;
}

static Surface section_surface(HWND window) {
  if (!section_shows_as_compatible(window)) return compatible_surface(window, WHITE_BRUSH);
  Surface surface = {};
  surface.dc = CreateCompatibleDC(nullptr);
  const BITMAPINFO info = picture_layout();
  void* bits = nullptr;
  surface.bitmap = CreateDIBSection(surface.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!surface.bitmap || !bits) {
    if (surface.bitmap) DeleteObject(surface.bitmap);
    DeleteDC(surface.dc);
    return compatible_surface(window, WHITE_BRUSH);
  }
  section_pixels = static_cast<uint32_t*>(bits);
  surface.kept = SelectObject(surface.dc, surface.bitmap);
  fill(surface, WHITE_BRUSH);
  return surface;
}

void surfaces_create(HWND window, int32_t width, int32_t height) {
  surface_width = width;
  surface_height = height;
  section_pixels = nullptr;
  pixels_hold_last_picture = false;
  draw_surface = section_surface(window);
  background_surface = compatible_surface(window, BLACK_BRUSH);
}

static void release(Surface& surface) {
  if (surface.dc) {
    SelectObject(surface.dc, surface.kept);
    DeleteDC(surface.dc);
  }
  if (surface.bitmap) DeleteObject(surface.bitmap);
  surface = {};
}

void surfaces_release() {
  release(draw_surface);
  release(background_surface);
  section_pixels = nullptr;
}

HDC draw_surface_dc() { return draw_surface.dc; }

void draw_surface_take(const Canvas& canvas, bool listed) {
  if (!draw_surface.dc) {
    pixels_hold_last_picture = false;
    return;
  }
  const uint8_t* rgb = &canvas.drawing.rgb[0][0][0];
  uint32_t* out = transfer_pixels;
  if (section_pixels) {
    // The system may still be drawing into the section.
    GdiFlush();
    out = section_pixels;
  }
  if (pixels_hold_last_picture && listed) {
    for_each_changed_pixel(canvas, [&](int32_t offset) { out[offset / 3] = dib_pixel(rgb + offset); });
  } else {
    for (int32_t i = 0; i < kWorldHeight * kWorldWidth; ++i) out[i] = dib_pixel(rgb + 3 * i);
  }
  pixels_hold_last_picture = true;
  if (section_pixels) return;

  const BITMAPINFO info = picture_layout();
  SelectObject(draw_surface.dc, draw_surface.kept);
  SetDIBits(draw_surface.dc, draw_surface.bitmap, 0, kWorldHeight, transfer_pixels, &info, DIB_RGB_COLORS);
  SelectObject(draw_surface.dc, draw_surface.bitmap);
}
