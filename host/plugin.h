#pragma once
// What the media player sees of the plug-in: the records it reads through the one
// export, the entries it calls, and the requests the plug-in sends back to it.
//
// The player reads the records as raw bytes in a 32-bit process, so every field
// below has a fixed offset; the static_asserts pin them.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "world/sound.h"

struct PluginModule;

using ModuleEntryVoid = void (*)(PluginModule* module);
using ModuleEntryInt = int32_t (*)(PluginModule* module);

struct PluginHeader {
  int32_t version;
  const char* title;
  PluginModule* (*get_module)(int32_t index);
};

struct PluginModule {
  const char* description;  // also the frame title and the settings section
  HWND parent_window;       // the player's main window, filled by the player
  HINSTANCE instance;       // this DLL, filled by the player
  int32_t sample_rate;
  int32_t channel_count;
  int32_t latency;
  int32_t delay;
  int32_t spectrum_channels;
  int32_t waveform_channels;
  uint8_t spectrum[kSpectrumBytes];
  uint8_t waveform[kSpectrumBytes];
  ModuleEntryVoid config;
  ModuleEntryInt init;
  ModuleEntryInt render;
  ModuleEntryVoid quit;
  void* user_data;
};

// Handed to the player's frame-window function; the player writes the frame it
// made into `window` and may keep using the rest, so it must outlive the call.
struct HostFrameRecord {
  HWND window;
  int32_t reserved;
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  uint8_t rest[264];
};

using HostFrameMaker = HWND (*)(HostFrameRecord* record);

static_assert(sizeof(void*) == 4, "the player is a 32-bit process");
static_assert(offsetof(PluginHeader, version) == 0);
static_assert(offsetof(PluginHeader, title) == 4);
static_assert(offsetof(PluginHeader, get_module) == 8);
static_assert(offsetof(PluginModule, description) == 0);
static_assert(offsetof(PluginModule, parent_window) == 4);
static_assert(offsetof(PluginModule, instance) == 8);
static_assert(offsetof(PluginModule, sample_rate) == 12);
static_assert(offsetof(PluginModule, channel_count) == 16);
static_assert(offsetof(PluginModule, latency) == 20);
static_assert(offsetof(PluginModule, delay) == 24);
static_assert(offsetof(PluginModule, spectrum_channels) == 28);
static_assert(offsetof(PluginModule, waveform_channels) == 32);
static_assert(offsetof(PluginModule, spectrum) == 36);
static_assert(offsetof(PluginModule, waveform) == 1188);
static_assert(offsetof(PluginModule, config) == 2340);
static_assert(offsetof(PluginModule, init) == 2344);
static_assert(offsetof(PluginModule, render) == 2348);
static_assert(offsetof(PluginModule, quit) == 2352);
static_assert(offsetof(PluginModule, user_data) == 2356);
static_assert(sizeof(PluginModule) == 2360);
static_assert(offsetof(HostFrameRecord, window) == 0);
static_assert(offsetof(HostFrameRecord, left) == 8);
static_assert(offsetof(HostFrameRecord, bottom) == 20);
static_assert(offsetof(HostFrameRecord, rest) == 24);
static_assert(sizeof(HostFrameRecord) == 288);

// Request codes: WM_USER sent to the player's main window, code in lParam,
// argument in wParam.
constexpr LPARAM kHostGetFrameMaker = 505;
constexpr LPARAM kHostSetDisplayWindow = 611;
constexpr LPARAM kHostGetVideoState = 501;
constexpr LPARAM kHostSetFullscreen = 631;
constexpr LPARAM kHostToggleState = 628;

// Everything init makes and the window procedure reads; all of it lives from a
// successful init to quit, and survives quit so that the next init carries on.
struct PluginState {
  PluginModule* current_module;
  int32_t view_width;
  int32_t view_height;
  HWND display_window;
  int32_t command_toggle;
};

extern PluginState plugin;
extern HostFrameRecord frame_record;

LRESULT host_request(LPARAM code, WPARAM argument);
void request_fullscreen();

// The DLL's only export (see vis_corvanta.def).
extern "C" PluginHeader* winampVisGetHeader();
