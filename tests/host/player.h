#pragma once
// A stand-in for the media player: loads the plug-in DLL from a folder of its own,
// reads its records by byte offset as the player does, answers its WM_USER
// requests, makes frame windows on request, catches message boxes and reads the
// display window back.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Byte offsets of the records as the player reads them.
constexpr size_t kHeaderVersion = 0;
constexpr size_t kHeaderTitle = 4;
constexpr size_t kHeaderGetModule = 8;
constexpr size_t kModuleDescription = 0;
constexpr size_t kModuleParentWindow = 4;
constexpr size_t kModuleInstance = 8;
constexpr size_t kModuleSampleRate = 12;
constexpr size_t kModuleChannelCount = 16;
constexpr size_t kModuleLatency = 20;
constexpr size_t kModuleDelay = 24;
constexpr size_t kModuleSpectrumChannels = 28;
constexpr size_t kModuleWaveformChannels = 32;
constexpr size_t kModuleSpectrum = 36;
constexpr size_t kModuleWaveform = 1188;
constexpr size_t kModuleConfig = 2340;
constexpr size_t kModuleInit = 2344;
constexpr size_t kModuleRender = 2348;
constexpr size_t kModuleQuit = 2352;
constexpr size_t kModuleUserData = 2356;
constexpr size_t kSpectrumBytes = 1152;
constexpr size_t kFrameRecordWindow = 0;
constexpr size_t kFrameRecordRect = 8;
constexpr size_t kFrameRecordBytes = 288;

constexpr int kPictureWidth = 1000;
constexpr int kPictureHeight = 400;

template <typename T>
T read_field(const uint8_t* base, size_t offset) {
  T value;
  memcpy(&value, base + offset, sizeof value);
  return value;
}

template <typename T>
void write_field(uint8_t* base, size_t offset, T value) {
  memcpy(base + offset, &value, sizeof value);
}

struct Request {
  LPARAM code;
  WPARAM argument;
};

struct SeenBox {
  HWND owner;
  std::string text;
  std::string caption;
  std::vector<int> buttons;  // control ids of the visible buttons
};

struct SeenKey {
  UINT message;
  WPARAM first;
  LPARAM second;
};

struct Player {
  HWND main_window;
  HMODULE dll;
  uint8_t* header;
  uint8_t* module;
  std::string folder;  // the DLL's folder, holding nothing else

  // How the player answers.
  bool offers_frame_maker;
  LRESULT video_state;
  bool refuse_display_window;  // a CBT hook refuses windows of class "MURVI"

  // What the plug-in did to the player.
  std::vector<Request> requests;
  std::vector<SeenBox> boxes;
  std::vector<SeenKey> keys;
  std::vector<RECT> frames_asked;
  std::vector<HWND> frames_made;
  uint8_t* frame_record;       // the plug-in's record, as last handed to the frame maker
  bool frame_record_rest_zero;  // the words the plug-in must leave alone were zero
  int quit_messages;
};

extern Player player;

// Creates the main window and the hooks, empties `folder`, copies the DLL there
// and loads it. False with a message on stderr when any of that fails.
bool player_start(const std::string& dll_source, const std::string& folder);
bool player_load_dll();  // from the folder
bool player_attach_dll(HMODULE dll);  // one loaded some other way; false for null
void player_unload_dll();
// Makes the loaded DLL's CreateDIBSection fail, and its SetDIBits refuse a bitmap
// that is selected into the context it is given, as the documentation allows.
bool player_refuse_dib_sections();
// How often the DLL has called SetDIBits since the call above.
int player_set_dib_bits_calls();
void player_clear_records();
// Handles everything in the thread's queue, counting quit messages.
void pump_messages();

// The module's entries, called as the player calls them.
void call_config();
int32_t call_init();
int32_t call_render();
void call_quit();
// Fills parent_window and instance, as the player does before init or config.
void fill_module_host_fields();

std::string module_text();
HWND frame_record_window();  // the window field of the plug-in's frame record
HWND display_window_of(HWND frame);
bool display_class_registered();
int count_thread_windows();

// Pixels as 0x00RRGGBB, rows top to bottom.
struct Picture {
  int width;
  int height;
  std::vector<uint32_t> rgb;
};
Picture read_window(HWND window, int width, int height);
// The same into `picture`, at its width and height, reusing its storage.
void read_window_into(HWND window, Picture& picture);
uint64_t picture_digest(const Picture& picture);  // FNV-1a 64 over R, G, B per pixel
std::string hex64(uint64_t value);

std::string folder_file(const std::string& name);
std::string read_text_file(const std::string& path);
bool write_text_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
