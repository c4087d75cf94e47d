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

  // What the plug-in asks of the system, through its imports (see player_attach_dll).
  bool logging_calls;              // log into `calls` (below)
  std::vector<std::string> calls;  // "request 611", "write Screen_x", "fill white", ...
  std::vector<UINT> default_messages;  // messages handed to DefWindowProcA
  int dib_sections_made;
  bool window_rect_fails;          // GetWindowRect fails, leaving junk in its rectangle
  std::string module_name;         // GetModuleFileNameA's answer when not empty
};

// DefWindowProcA's answer to WM_COMMAND as the plug-in sees it, so that a handler
// that hands the message on and returns the answer can be told from one that does not.
constexpr LRESULT kDefaultCommandResult = 0x5EED;

extern Player player;

// Creates the main window and the hooks, empties `folder`, copies the DLL there
// and loads it. False with a message on stderr when any of that fails.
bool player_start(const std::string& dll_source, const std::string& folder);
bool player_load_dll();  // from the folder
// One loaded some other way; false for null. Points the DLL's imports of the calls
// the Player record above watches or bends at the player's own, which pass through.
bool player_attach_dll(HMODULE dll);
void player_unload_dll();
// Makes `dll`'s CreateDIBSection fail, and its SetDIBits refuse a bitmap that is
// selected into the context it is given, as the documentation allows.
bool player_refuse_dib_sections(HMODULE dll);
// SetDIBits calls through the redirection above, in every DLL of the process, and
// how many of them were refused.
int player_set_dib_bits_calls();
int player_set_dib_bits_refusals();
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

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
int count_pixels_not(const Picture& picture, uint32_t colour);
// Paints the window's whole client area one colour from outside, so that what a
// repaint or a frame leaves behind can be told from what was there before.
void scribble(HWND window, int width, int height, COLORREF colour);
void repaint_now(HWND window);
void move_window(HWND window, int x, int y);
void resize_window(HWND window, int width, int height);
POINT position_in_parent(HWND window);  // in its parent's client area
POINT frame_corner();                   // of the frame record's window, on the screen
bool inside_dll(const void* address);

std::string settings_path();  // plugin.ini beside the DLL
int settings_value(const char* section, const char* key);  // -99999 when missing
// Key=value lines of one section, each ended by '\n', as the profile reader sees them.
std::string settings_section(const char* section);
std::string section_names();
void write_settings(const std::string& lines);  // the module's section alone

std::string folder_file(const std::string& name);
std::string read_text_file(const std::string& path);
bool write_text_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
