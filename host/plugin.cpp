#include "host/plugin.h"

#include <ctime>

#include "host/display_window.h"
#include "host/settings.h"
#include "host/surfaces.h"
#include "world/frame_step.h"
#include "world/renderer.h"
#include "world/world_state.h"

// The texts the player and its user see, the window class name, and the message box
// captions "blah" and "Qvel" below are kept word for word on purpose, odd spelling
// included: they are what this plug-in has always shown.
static const char kModuleText[] = "Corvanta";
static const char kConfigText[] =
    "Wake Up!.\n"
    "Thank you for watching Corvanta: Life, agents and your music.\n";
static const char kDisplayClassName[] = "MURVI";

static void plugin_config(PluginModule* module);
static int32_t plugin_init(PluginModule* module);
static int32_t plugin_render(PluginModule* module);
static void plugin_quit(PluginModule* module);
static PluginModule* get_module(int32_t index);

static PluginHeader header = {0x101, kModuleText, get_module};

static PluginModule module_record = {
    kModuleText, nullptr, nullptr, 0, 0, 25, 25, 1, 1, {}, {},
    plugin_config, plugin_init, plugin_render, plugin_quit, nullptr,
};

PluginState plugin = {};
HostFrameRecord frame_record = {};

// One world per process, in its load state from the moment the DLL is mapped.
// init and quit never touch it, so a later init carries on the same world.
static World world;
static Canvas canvas;

// After every frame. The world is drawn only once the start-up frames are over;
// before that the surface keeps the white fill that init gave it, so only drawn
// frames are handed to the surface, but every frame is shown.
static void present_to_window(const FrameReport& report) {
  if (report.picture != kPictureKept) draw_surface_take(canvas, report.picture == kPictureListed);
  HDC surface_dc = draw_surface_dc();
  if (!plugin.display_window || !surface_dc) return;
  HDC window_dc = GetDC(plugin.display_window);
  if (!window_dc) return;
  BitBlt(window_dc, 0, 0, kWorldWidth, kWorldHeight, surface_dc, 0, 0, SRCCOPY);
  ReleaseDC(plugin.display_window, window_dc);
}

static void load_world() {
  world_reset(world);
  canvas_load_state(canvas);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) load_world();
  return TRUE;
}

extern "C" PluginHeader* winampVisGetHeader() { return &header; }

static PluginModule* get_module(int32_t index) { return index == 0 ? &module_record : nullptr; }

LRESULT host_request(LPARAM code, WPARAM argument) {
  return SendMessageA(plugin.current_module->parent_window, WM_USER, argument, code);
}

static void report_failure(const PluginModule* module, const char* text) {
  MessageBoxA(module->parent_window, text, "blah", MB_OK);
}

static void plugin_config(PluginModule* module) {
  MessageBoxA(module->parent_window, kConfigText, "Configuration", MB_OK);
}

// The position comes from a file anyone can edit, so it may be anything an int32
// holds; the far edges are formed in 64 bits and held to the int32 range. Every
// position a real screen has stays exactly as it is.
static int32_t saturate_int32(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

static int32_t plugin_init(PluginModule* module) {
  // A player that calls init again without quit would otherwise orphan the first
  // frame, and the class, still in use by its window, could never be registered
  // again: every later init would fail. Take the old one down as quit does.
  if (draw_surface_dc()) plugin_quit(module);

  plugin.view_width = kWorldWidth;
  plugin.view_height = kWorldHeight;
  plugin.current_module = module;

  load_position(module->instance, module->description);

  frame_record.left = screen_x;
  frame_record.top = screen_y;
  frame_record.right = saturate_int32(int64_t{screen_x} + plugin.view_width + 20);
  frame_record.bottom = saturate_int32(int64_t{screen_y} + plugin.view_height + 35);

  auto make_frame = reinterpret_cast<HostFrameMaker>(host_request(kHostGetFrameMaker, 0));
  if (!make_frame) {
    report_failure(module, "This plugin requires Winamp 5.0+");
    return 1;
  }
  HWND frame = make_frame(&frame_record);
  SetWindowTextA(frame_record.window, module->description);

  WNDCLASSA display_class = {};
  display_class.lpfnWndProc = display_window_proc;
  display_class.hInstance = module->instance;
  display_class.lpszClassName = kDisplayClassName;
  if (!RegisterClassA(&display_class)) {
    report_failure(module, "Error registering window class");
    return 1;
  }

  plugin.display_window =
      CreateWindowExA(0, kDisplayClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                      screen_x, screen_y, plugin.view_width, plugin.view_height, frame, nullptr,
                      module->instance, nullptr);
  if (!plugin.display_window) {
    report_failure(module, "Error creating window");
    return 1;
  }
  SetWindowLongA(plugin.display_window, GWL_USERDATA, reinterpret_cast<LONG>(module));

  // Size the window so that its client area, not its outer rectangle, is the
  // picture's size, whatever border the style may add. However odd the system's
  // answer for a window at an extreme position, the arithmetic stays defined; an
  // unanswered query leaves the size as made.
  RECT client = {0, 0, plugin.view_width, plugin.view_height};
  GetClientRect(plugin.display_window, &client);
  SetWindowPos(plugin.display_window, nullptr, 0, 0, saturate_int32(2 * int64_t{plugin.view_width} - client.right),
               saturate_int32(2 * int64_t{plugin.view_height} - client.bottom), SWP_NOMOVE | SWP_NOZORDER);

  host_request(kHostSetDisplayWindow, reinterpret_cast<WPARAM>(plugin.display_window));

  surfaces_create(plugin.display_window, plugin.view_width, plugin.view_height);

  ShowWindow(frame, SW_SHOWNORMAL);
  return 0;
}

// The world starts from the calendar second of its first frame, so that each run of
// the player shows a world of its own; the clock is read here, never in the world.
static int32_t plugin_render(PluginModule* module) {
  const uint32_t seed = world.frame_count == 0 ? static_cast<uint32_t>(std::time(nullptr)) : 0;
  present_to_window(frame_step(world, canvas, module->spectrum, seed));
  return 0;
}

static void plugin_quit(PluginModule* module) {
  // A quit after a failed init, or without any, still runs every step; each step
  // below only works on what exists.
  if (!plugin.current_module) plugin.current_module = module;
  host_request(kHostSetDisplayWindow, 0);
  save_position(module->instance, module->description);
  surfaces_release();
  if (frame_record.window) {
    SetForegroundWindow(plugin.current_module->parent_window);
    DestroyWindow(frame_record.window);
    // A second quit must not destroy whatever window is later given the same handle.
    frame_record.window = nullptr;
  }
  // The display window went with its frame (or never existed).
  if (plugin.display_window && !IsWindow(plugin.display_window)) plugin.display_window = nullptr;
  UnregisterClassA(kDisplayClassName, module->instance);
}

void request_fullscreen() {
  if (static_cast<int32_t>(host_request(kHostGetVideoState, 0)) > 1) {
    MessageBoxA(plugin.current_module->parent_window, "Can't go fullscreen while video is playing",
                "Qvel", MB_OK);
    return;
  }
  host_request(kHostSetFullscreen, 1);
}
