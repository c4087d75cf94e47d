#include "host/display_window.h"

#include "host/plugin.h"
#include "host/settings.h"
#include "host/surfaces.h"

static void repaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  if (HDC surface_dc = draw_surface_dc()) {
    BitBlt(dc, 0, 0, client.right, client.bottom, surface_dc, 0, 0, SRCCOPY);
  }
  // A client area larger than the picture: white right of it and below it.
  HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RECT right_strip = {client.left + plugin.view_width, client.top, client.right, client.bottom};
  FillRect(dc, &right_strip, white);
  RECT bottom_strip = {client.left, client.top + plugin.view_height, client.right, client.bottom};
  FillRect(dc, &bottom_strip, white);
  EndPaint(window, &paint);
}

// The frame may be gone or never have been made; the last known position stays.
static void remember_frame_position() {
  RECT frame;
  if (frame_record.window && GetWindowRect(frame_record.window, &frame)) {
    screen_x = frame.left;
    screen_y = frame.top;
  }
}

static void forward_key(HWND window, UINT message, WPARAM first, LPARAM second) {
  auto* module = reinterpret_cast<PluginModule*>(GetWindowLongA(window, GWL_USERDATA));
  if (module) PostMessageA(module->parent_window, message, first, second);
}

static void run_command(WPARAM first) {
  WORD id = LOWORD(first);
  WORD high = HIWORD(first);
  if (id == kCommandToggle) {
    // 0xFFFF asks for the flag; any other high word sets it.
    if (high == 0xFFFF) {
      host_request(kHostToggleState, static_cast<WPARAM>(plugin.command_toggle));
    } else {
      plugin.command_toggle = high != 0 ? 1 : 0;
    }
  } else if (id == kCommandFullscreen) {
    request_fullscreen();
  }
}

LRESULT CALLBACK display_window_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      repaint(window);
      return 0;
    case WM_ERASEBKGND:
      // The picture covers the whole window; erasing would only flicker.
      return 0;
    case WM_WINDOWPOSCHANGING:
      remember_frame_position();
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      forward_key(window, message, first, second);
      return 0;
    case WM_COMMAND:
      run_command(first);
      return DefWindowProcA(window, message, first, second);
    default:
      return DefWindowProcA(window, message, first, second);
  }
}
