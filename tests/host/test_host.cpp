// Plays the media player to the plug-in DLL under Wine and checks what the plug-in
// does to it. One group of cases per process, since several cases need the DLL as
// it is right after loading:
//
//   corvanta_test_host DLL FOLDER records|lifecycle|settings|failures|hostile
//   corvanta_test_host DLL FOLDER world SPECTRUM|silence FRAMES OUT [no-dib-section] [read-every=N]
//
// The world starts from the calendar second of its first frame, as in the player;
// the test host learns that second by timing the frame. no-dib-section makes the DLL's CreateDIBSection
// fail, so that it draws into a compatible bitmap through SetDIBits, and makes that
// SetDIBits refuse a bitmap still selected into a context, as the documentation allows.
// read-every=N reads the window back only after every Nth frame (0: never): reading
// it copies megabytes through Wine and the X server, which leaves the next frame to
// start from cold caches, as it would not in a player. FOLDER is emptied and
// receives a copy of DLL. Each case prints one result line;
// the last line is "N passed, N failed". The world group also writes the seed and
// the picture digest of every frame to OUT, for comparison with corvanta-sim; it
// quits and inits again after frame 300, which must not show in the pictures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "player.h"

// ---- Cases and checks ----------------------------------------------------------

static int cases_passed;
static int cases_failed;
static std::vector<std::string> case_problems;

static void expect(bool ok, const std::string& what, int line) {
  if (!ok) case_problems.push_back("line " + std::to_string(line) + ": " + what);
}

static std::string describe(long long value) { return std::to_string(value); }
static std::string describe(const std::string& value) { return "\"" + value + "\""; }

template <typename A, typename B>
static void expect_equal(const A& actual, const B& wanted, const char* actual_text, int line) {
  if (!(actual == wanted)) {
    expect(false, std::string(actual_text) + " is " + describe(actual) + ", expected " + describe(wanted), line);
  }
}

#define EXPECT(condition) expect((condition), #condition, __LINE__)
#define EXPECT_EQ(actual, wanted) expect_equal((actual), (wanted), #actual, __LINE__)

static const char* current_case = "start-up";

// A crash in the plug-in ends the run at once with the case it happened in,
// instead of waiting on Wine's debugger.
static LONG WINAPI report_crash(EXCEPTION_POINTERS* exception) {
  printf("FAIL %s\n     crashed: exception 0x%08lx at %p\n", current_case,
         exception->ExceptionRecord->ExceptionCode, exception->ExceptionRecord->ExceptionAddress);
  printf("%d passed, %d failed\n", cases_passed, cases_failed + 1);
  fflush(stdout);
  ExitProcess(3);
}

static void run_case(const char* name, void (*body)()) {
  current_case = name;
  case_problems.clear();
  body();
  pump_messages();
  if (case_problems.empty()) {
    ++cases_passed;
    printf("PASS %s\n", name);
  } else {
    ++cases_failed;
    printf("FAIL %s\n", name);
    for (const std::string& problem : case_problems) printf("     %s\n", problem.c_str());
  }
  fflush(stdout);
}

// ---- Helpers over the player's records -----------------------------------------

static bool requests_are(const std::vector<Request>& wanted) {
  if (player.requests.size() != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (player.requests[i].code != wanted[i].code || player.requests[i].argument != wanted[i].argument) {
      return false;
    }
  }
  return true;
}

static std::string requests_text() {
  std::string text;
  for (const Request& r : player.requests) {
    text += " " + std::to_string(r.code) + "(" + std::to_string(r.argument) + ")";
  }
  return text.empty() ? " none" : text;
}

#define EXPECT_REQUESTS(...) \
  expect(requests_are({__VA_ARGS__}), "host requests were" + requests_text(), __LINE__)

static WPARAM window_argument(HWND window) { return reinterpret_cast<WPARAM>(window); }

// One box with the given text and caption, owned by the player's main window,
// with an OK button alone.
static void expect_one_box(const char* text, const char* caption, int line) {
  expect(player.boxes.size() == 1, std::to_string(player.boxes.size()) + " message boxes, expected 1", line);
  if (player.boxes.empty()) return;
  const SeenBox& box = player.boxes.front();
  expect(box.text == text, "box text \"" + box.text + "\"", line);
  expect(box.caption == caption, "box caption \"" + box.caption + "\"", line);
  expect(box.owner == player.main_window, "box not owned by the player's main window", line);
  expect(box.buttons == std::vector<int>{IDOK}, "box buttons are not OK alone", line);
}

static bool rect_is(const RECT& r, int left, int top, int right, int bottom) {
  return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

static void expect_frame_asked(int left, int top, int right, int bottom, int line) {
  expect(player.frames_asked.size() == 1, std::to_string(player.frames_asked.size()) + " frames asked for", line);
  if (player.frames_asked.empty()) return;
  const RECT& r = player.frames_asked.back();
  char text[96];
  snprintf(text, sizeof text, "frame asked at (%ld, %ld)-(%ld, %ld)", r.left, r.top, r.right, r.bottom);
  expect(rect_is(r, left, top, right, bottom), text, line);
}

// Where the display window sits in its parent's client area.
static POINT position_in_parent(HWND window) {
  RECT outer;
  GetWindowRect(window, &outer);
  POINT corner = {outer.left, outer.top};
  ScreenToClient(GetParent(window), &corner);
  return corner;
}

static bool inside_dll(const void* address) {
  auto* base = reinterpret_cast<const uint8_t*>(player.dll);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  auto* at = static_cast<const uint8_t*>(address);
  return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
}

static int count_pixels_not(const Picture& picture, uint32_t colour) {
  int count = 0;
  for (uint32_t pixel : picture.rgb) count += pixel != colour;
  return count;
}

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

// Paints the window's whole client area one colour from outside, so that what a
// repaint leaves behind can be told from what was there before.
static void scribble(HWND window, int width, int height, COLORREF colour) {
  HDC dc = GetDC(window);
  HBRUSH brush = CreateSolidBrush(colour);
  RECT all = {0, 0, width, height};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  ReleaseDC(window, dc);
}

static void repaint_now(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
}

static void move_window(HWND window, int x, int y) {
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static void resize_window(HWND window, int width, int height) {
  SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static std::string settings_path() { return folder_file("plugin.ini"); }

static int settings_value(const char* section, const char* key) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, -99999, settings_path().c_str()));
}

// Key=value lines of one section, each ended by '\n', as the profile reader sees them.
static std::string settings_section(const char* section) {
  char buffer[4096] = {};
  DWORD length = GetPrivateProfileSectionA(section, buffer, sizeof buffer, settings_path().c_str());
  std::string lines;
  for (DWORD i = 0; i < length; ++i) lines += buffer[i] == '\0' ? '\n' : buffer[i];
  return lines;
}

static std::string section_names() {
  char buffer[4096] = {};
  DWORD length = GetPrivateProfileSectionNamesA(buffer, sizeof buffer, settings_path().c_str());
  std::string names;
  for (DWORD i = 0; i < length; ++i) names += buffer[i] == '\0' ? '\n' : buffer[i];
  return names;
}

// Runs init against a fresh log and expects success: the display window or null.
static HWND init_ok(int line) {
  player_clear_records();
  int32_t result = call_init();
  expect(result == 0, "init returned " + std::to_string(result), line);
  HWND frame = frame_record_window();
  return frame ? display_window_of(frame) : nullptr;
}

// ---- Group "records": the DLL as loaded, config, and entries without init ------

static void case_header() {
  const uint8_t* header = player.header;
  EXPECT_EQ(read_field<int32_t>(header, kHeaderVersion), 0x101);
  EXPECT_EQ(std::string(read_field<const char*>(header, kHeaderTitle)), std::string("Corvanta"));
  using GetModule = uint8_t* (*)(int32_t);
  auto get_module = read_field<GetModule>(header, kHeaderGetModule);
  EXPECT(get_module(0) != nullptr);
  EXPECT(get_module(0) == get_module(0));
  EXPECT(get_module(1) == nullptr);
  EXPECT(get_module(-1) == nullptr);
}

static void case_module_at_load() {
  const uint8_t* module = player.module;
  const char* description = read_field<const char*>(module, kModuleDescription);
  EXPECT(description != nullptr && strlen(description) > 0 && strlen(description) < 64);
  EXPECT(read_field<HWND>(module, kModuleParentWindow) == nullptr);
  EXPECT(read_field<HINSTANCE>(module, kModuleInstance) == nullptr);
  EXPECT_EQ(read_field<int32_t>(module, kModuleSampleRate), 0);
  EXPECT_EQ(read_field<int32_t>(module, kModuleChannelCount), 0);
  EXPECT_EQ(read_field<int32_t>(module, kModuleLatency), 25);
  EXPECT_EQ(read_field<int32_t>(module, kModuleDelay), 25);
  EXPECT_EQ(read_field<int32_t>(module, kModuleSpectrumChannels), 1);
  EXPECT_EQ(read_field<int32_t>(module, kModuleWaveformChannels), 1);
  int nonzero = 0;
  for (size_t i = kModuleSpectrum; i < kModuleWaveform + kSpectrumBytes; ++i) nonzero += module[i] != 0;
  EXPECT_EQ(nonzero, 0);
  const size_t entries[] = {kModuleConfig, kModuleInit, kModuleRender, kModuleQuit};
  for (size_t offset : entries) {
    EXPECT(inside_dll(read_field<const void*>(module, offset)));
  }
  EXPECT(read_field<const void*>(module, kModuleUserData) == nullptr);
}

static void case_config() {
  fill_module_host_fields();
  std::vector<uint8_t> before(player.module, player.module + kModuleUserData + 4);
  player_clear_records();
  call_config();
  EXPECT_EQ(player.boxes.size(), 1u);
  if (!player.boxes.empty()) {
    const SeenBox& box = player.boxes.front();
    const std::string& text = box.text;
    const std::string first_line = "Wake Up!.\n";
    EXPECT(text.compare(0, first_line.size(), first_line) == 0);
    // The second line: some words of thanks, ended by a line break.
    std::string second_line = text.size() > first_line.size() ? text.substr(first_line.size()) : "";
    EXPECT(second_line.size() > 1 && second_line.back() == '\n');
    EXPECT(second_line.find('\n') == second_line.size() - 1);
    EXPECT_EQ(box.caption, std::string("Configuration"));
    EXPECT(box.owner == player.main_window);
    EXPECT(box.buttons == std::vector<int>{IDOK});
  }
  EXPECT_REQUESTS();
  EXPECT(std::vector<uint8_t>(player.module, player.module + kModuleUserData + 4) == before);
}

static void case_entries_without_init() {
  int windows_before = count_thread_windows();
  player_clear_records();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call_render(), 0);
  EXPECT_REQUESTS();
  call_quit();
  EXPECT_REQUESTS({611, 0});
  EXPECT_EQ(count_thread_windows(), windows_before);
  EXPECT(!display_class_registered());
  // Quit still saves the position it has: the values at load.
  const std::string section = module_text();
  EXPECT_EQ(settings_value(section.c_str(), "Screen_x"), 50);
  EXPECT_EQ(settings_value(section.c_str(), "Screen_y"), 50);
}

static void case_init_without_frame_maker() {
  int windows_before = count_thread_windows();
  player.offers_frame_maker = false;
  player_clear_records();
  EXPECT_EQ(call_init(), 1);
  expect_one_box("This plugin requires Winamp 5.0+", "blah", __LINE__);
  EXPECT_REQUESTS({505, 0});
  EXPECT(player.frames_asked.empty());
  EXPECT(!display_class_registered());
  EXPECT_EQ(count_thread_windows(), windows_before);
  // Quit after the failure: nothing to destroy, the rest still happens.
  player_clear_records();
  call_quit();
  EXPECT_REQUESTS({611, 0});
  EXPECT(player.boxes.empty());
  EXPECT(!display_class_registered());
  player.offers_frame_maker = true;
}

static void group_records() {
  run_case("header record and get_module for 0, 1, -1", case_header);
  run_case("module record values at load", case_module_at_load);
  run_case("config shows its box and changes nothing", case_config);
  run_case("render and quit without init", case_entries_without_init);
  run_case("init against a player without a frame function", case_init_without_frame_maker);
}

// ---- Group "lifecycle": one plug-in from load through init, frames, quit, init --

static HWND frame;
static HWND display;

static void case_first_init() {
  fill_module_host_fields();
  EXPECT(!file_exists(settings_path()));
  display = init_ok(__LINE__);
  frame = frame_record_window();
  EXPECT(display != nullptr);
  EXPECT_REQUESTS({505, 0}, {611, window_argument(display)});
  expect_frame_asked(50, 50, 1070, 485, __LINE__);
  EXPECT(player.frames_made.size() == 1 && player.frames_made[0] == frame);
  EXPECT(player.frame_record_rest_zero);
  char title[128] = {};
  GetWindowTextA(frame, title, sizeof title);
  EXPECT_EQ(std::string(title), module_text());
  EXPECT(IsWindowVisible(frame));
  EXPECT(player.boxes.empty());
}

static void case_display_window() {
  WNDCLASSA found = {};
  EXPECT(GetClassInfoA(player.dll, "MURVI", &found));
  EXPECT(inside_dll(reinterpret_cast<const void*>(found.lpfnWndProc)));
  EXPECT(GetParent(display) == frame);
  EXPECT_EQ(static_cast<long long>(static_cast<DWORD>(GetWindowLongA(display, GWL_STYLE))), 0x56000000LL);
  EXPECT_EQ(static_cast<long long>(GetWindowLongA(display, GWL_EXSTYLE)), 0LL);
  POINT at = position_in_parent(display);
  EXPECT(at.x == 50 && at.y == 50);
  RECT client;
  GetClientRect(display, &client);
  EXPECT(rect_is(client, 0, 0, kPictureWidth, kPictureHeight));
  RECT outer;
  GetWindowRect(display, &outer);
  EXPECT(outer.right - outer.left == kPictureWidth && outer.bottom - outer.top == kPictureHeight);
  EXPECT(GetWindowLongA(display, GWL_USERDATA) == reinterpret_cast<LONG>(player.module));
}

static void case_startup_frames_white() {
  player_clear_records();
  int frames_not_white = 0;
  for (int frame_number = 1; frame_number <= 151; ++frame_number) {
    EXPECT_EQ(call_render(), 0);
    frames_not_white += count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kWhite) != 0;
  }
  EXPECT_EQ(frames_not_white, 0);
  // A repaint shows the same white surface.
  scribble(display, kPictureWidth, kPictureHeight, RGB(200, 0, 0));
  repaint_now(display);
  EXPECT_EQ(count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kWhite), 0);
  EXPECT_REQUESTS();
}

static void case_world_frames() {
  // Frame 152 is the first drawn: the background, before any agent exists.
  EXPECT_EQ(call_render(), 0);
  EXPECT_EQ(count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kBlack), 0);
  int coloured_frames = 0;
  for (int frame_number = 153; frame_number <= 220; ++frame_number) {
    EXPECT_EQ(call_render(), 0);
    coloured_frames += count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kBlack) != 0;
  }
  EXPECT(coloured_frames > 0);
  // The paint handler shows exactly the picture the last frame presented.
  Picture presented = read_window(display, kPictureWidth, kPictureHeight);
  scribble(display, kPictureWidth, kPictureHeight, RGB(200, 0, 0));
  repaint_now(display);
  EXPECT(read_window(display, kPictureWidth, kPictureHeight).rgb == presented.rgb);
}

static void send_command(WPARAM first) { SendMessageA(display, WM_COMMAND, first, 0); }

static void case_toggle_command() {
  player_clear_records();
  send_command(0xFFFF9DC0);
  send_command(0xFFFF9DC0);
  EXPECT_REQUESTS({628, 0}, {628, 0});
  const struct {
    WPARAM set;
    WPARAM flag;
  } settings[] = {{0x00019DC0, 1}, {0x00009DC0, 0}, {0x00059DC0, 1}, {0x00009DC0, 0}, {0x80009DC0, 1}};
  for (const auto& step : settings) {
    player_clear_records();
    send_command(step.set);
    EXPECT_REQUESTS();
    send_command(0xFFFF9DC0);
    EXPECT_REQUESTS({628, step.flag});
  }
  // Another id with the same high word leaves the flag alone.
  player_clear_records();
  send_command(0x00009DC1);
  send_command(0xFFFF9DC0);
  EXPECT_REQUESTS({628, 1});
}

static void case_fullscreen_command() {
  const struct {
    LRESULT video_state;
    bool refused;
  } answers[] = {{2, true}, {7, true}, {1, false}, {0, false}, {-5, false}};
  for (const auto& answer : answers) {
    player.video_state = answer.video_state;
    player_clear_records();
    send_command(40389);
    if (answer.refused) {
      expect_one_box("Can't go fullscreen while video is playing", "Qvel", __LINE__);
      EXPECT_REQUESTS({501, 0});
    } else {
      EXPECT(player.boxes.empty());
      EXPECT_REQUESTS({501, 0}, {631, 1});
    }
  }
  player.video_state = 0;
}

static void case_keys() {
  const SeenKey sent[] = {
      {WM_KEYDOWN, 'A', 0x001E0001},
      {WM_KEYUP, VK_F1, static_cast<LPARAM>(0xC03B0001)},
      {WM_KEYDOWN, 0xFFFFFFFF, 0x7FFFFFFF},
  };
  player_clear_records();
  for (const SeenKey& key : sent) {
    EXPECT_EQ(static_cast<long long>(SendMessageA(display, key.message, key.first, key.second)), 0LL);
  }
  // Posted, not sent: nothing has reached the player before its queue runs.
  EXPECT(player.keys.empty());
  pump_messages();
  EXPECT_EQ(player.keys.size(), 3u);
  for (size_t i = 0; i < player.keys.size() && i < 3; ++i) {
    EXPECT(player.keys[i].message == sent[i].message && player.keys[i].first == sent[i].first &&
           player.keys[i].second == sent[i].second);
  }
  EXPECT_REQUESTS();
}

static void case_larger_client() {
  Picture picture = read_window(display, kPictureWidth, kPictureHeight);
  resize_window(display, 1200, 500);
  RECT client;
  GetClientRect(display, &client);
  EXPECT(rect_is(client, 0, 0, 1200, 500));
  scribble(display, 1200, 500, RGB(200, 0, 0));
  repaint_now(display);
  Picture larger = read_window(display, 1200, 500);
  int wrong_picture = 0;
  int wrong_strip = 0;
  for (int y = 0; y < 500; ++y) {
    for (int x = 0; x < 1200; ++x) {
      uint32_t pixel = larger.rgb[y * 1200 + x];
      if (x < kPictureWidth && y < kPictureHeight) {
        wrong_picture += pixel != picture.rgb[y * kPictureWidth + x];
      } else {
        wrong_strip += pixel != kWhite;
      }
    }
  }
  EXPECT_EQ(wrong_picture, 0);
  EXPECT_EQ(wrong_strip, 0);
  resize_window(display, kPictureWidth, kPictureHeight);
  repaint_now(display);
}

static void case_quit_saves_position() {
  // The position is taken when the display window is laid out, not when the frame
  // alone moves: the second move is not seen.
  move_window(frame, 120, 80);
  resize_window(display, kPictureWidth, kPictureHeight);
  move_window(frame, 200, 150);
  player_clear_records();
  call_quit();
  EXPECT_REQUESTS({611, 0});
  EXPECT(!IsWindow(frame));
  EXPECT(!IsWindow(display));
  EXPECT(GetForegroundWindow() == player.main_window);
  pump_messages();
  EXPECT_EQ(player.quit_messages, 1);
  EXPECT(!display_class_registered());
  const std::string section = module_text();
  EXPECT_EQ(section_names(), section + "\n");
  EXPECT_EQ(settings_section(section.c_str()), std::string("Screen_x=120\nScreen_y=80\n"));
}

static void case_init_again() {
  display = init_ok(__LINE__);
  frame = frame_record_window();
  EXPECT(display != nullptr && IsWindow(display));
  EXPECT_REQUESTS({505, 0}, {611, window_argument(display)});
  expect_frame_asked(120, 80, 1140, 515, __LINE__);
  EXPECT(display_class_registered());
  POINT at = position_in_parent(display);
  EXPECT(at.x == 120 && at.y == 80);
  // New surfaces start white; the world itself carries on, so the very next frame
  // is a drawn one rather than the first of another start-up.
  pump_messages();
  EXPECT_EQ(count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kWhite), 0);
  EXPECT_EQ(call_render(), 0);
  EXPECT(count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), kWhite) > 0);
  player_clear_records();
  call_quit();
  pump_messages();
  EXPECT_REQUESTS({611, 0});
  EXPECT_EQ(player.quit_messages, 1);
  EXPECT(!display_class_registered());
}

static void group_lifecycle() {
  run_case("init without a settings file: frame, title, requests 505 and 611", case_first_init);
  run_case("display window: class, style, position, 1000 x 400 client", case_display_window);
  run_case("frames 1 to 151 are white", case_startup_frames_white);
  run_case("the world is shown from frame 152, and a repaint shows it too", case_world_frames);
  run_case("command 40384 asks for and sets the flag", case_toggle_command);
  run_case("command 40389 with and without video playing", case_fullscreen_command);
  run_case("keys reach the player unchanged, posted", case_keys);
  run_case("a 1200 x 500 client: the picture and white strips", case_larger_client);
  run_case("quit saves the laid-out frame position and takes everything down", case_quit_saves_position);
  run_case("init, quit, init: the class anew and the same world", case_init_again);
}

// ---- Group "settings": plugin.ini beside the DLL --------------------------------

static const char kOtherSection[] =
    "[Other]\r\n"
    "Screen_x=999\r\n"
    "Screen_y=777\r\n"
    "keep=this\r\n";
static const char kOtherLines[] = "Screen_x=999\nScreen_y=777\nkeep=this\n";

static void quit_and_pump() {
  player_clear_records();
  call_quit();
  pump_messages();
}

static void case_screen_x_only() {
  fill_module_host_fields();
  const std::string section = module_text();
  write_text_file(settings_path(), std::string(kOtherSection) + "\r\n[" + section + "]\r\nScreen_x=300\r\n");
  display = init_ok(__LINE__);
  expect_frame_asked(300, 50, 1320, 485, __LINE__);
  if (display) {
    POINT at = position_in_parent(display);
    EXPECT(at.x == 300 && at.y == 50);
  }
  quit_and_pump();
  EXPECT_EQ(settings_section(section.c_str()), std::string("Screen_x=300\nScreen_y=50\n"));
  EXPECT_EQ(settings_section("Other"), std::string(kOtherLines));
}

static void case_both_keys() {
  const std::string section = module_text();
  write_text_file(settings_path(),
                  std::string(kOtherSection) + "\r\n[" + section + "]\r\nScreen_y=200\r\nScreen_x=300\r\n");
  display = init_ok(__LINE__);
  expect_frame_asked(300, 200, 1320, 635, __LINE__);
  if (display) {
    POINT at = position_in_parent(display);
    EXPECT(at.x == 300 && at.y == 200);
  }
}

static void case_negative_position() {
  const std::string section = module_text();
  frame = frame_record_window();
  move_window(frame, -37, -12);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  std::string text = read_text_file(settings_path());
  EXPECT(text.find("Screen_x=-37") != std::string::npos);
  EXPECT(text.find("Screen_y=-12") != std::string::npos);
  EXPECT_EQ(settings_section("Other"), std::string(kOtherLines));
}

static void case_file_gone() {
  // Without the file the values last seen are the defaults, and quit writes a new
  // file beside the DLL, not in the working directory.
  const std::string section = module_text();
  DeleteFileA(settings_path().c_str());
  display = init_ok(__LINE__);
  expect_frame_asked(-37, -12, 983, 423, __LINE__);
  quit_and_pump();
  EXPECT_EQ(section_names(), section + "\n");
  EXPECT(read_text_file(settings_path()).find("Screen_x=-37") != std::string::npos);
  EXPECT(!file_exists("plugin.ini"));
}

// Wide-character calls with the long-path prefix reach past 260 characters.
static std::wstring long_path(const std::string& path) {
  std::wstring wide = L"\\\\?\\";
  for (char c : path) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

static std::string read_long_file(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileW(long_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

static bool write_long_file(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileW(long_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), text.size(), &written, nullptr) && written == text.size();
  return CloseHandle(file) && ok;
}

static void case_long_dll_path() {
  // A DLL whose full name does not fit in 260 characters gets a cut name back from
  // the system. A cut name ends in one of the DLL's own parent folders, so reading
  // or writing there would pick the wrong file: the settings file is left alone.
  const std::string section = module_text();
  const std::string beside_first = read_text_file(settings_path());
  player_unload_dll();
  std::vector<std::string> folders;
  std::string deep = player.folder + "-long";
  CreateDirectoryA(deep.c_str(), nullptr);
  while (deep.size() < 280) {
    deep += "\\" + std::string(90, 'd');
    CreateDirectoryW(long_path(deep).c_str(), nullptr);
    DeleteFileW(long_path(deep + "\\plugin.ini").c_str());  // from an earlier run
    folders.push_back(deep);
  }
  const std::string dll = deep + "\\vis_corvanta.dll";
  EXPECT(CopyFileW(long_path(player.folder + "\\vis_corvanta.dll").c_str(), long_path(dll).c_str(), FALSE));
  const std::string settings = "[" + section + "]\r\nScreen_x=300\r\nScreen_y=200\r\n";
  EXPECT(write_long_file(deep + "\\plugin.ini", settings));
  if (!player_attach_dll(LoadLibraryW(long_path(dll).c_str()))) {
    expect(false, "the DLL does not load from a long path", __LINE__);
    return;
  }
  char name[MAX_PATH + 1] = {};
  EXPECT_EQ(static_cast<long long>(GetModuleFileNameA(player.dll, name, MAX_PATH)), static_cast<long long>(MAX_PATH));

  fill_module_host_fields();
  display = init_ok(__LINE__);
  expect_frame_asked(50, 50, 1070, 485, __LINE__);
  move_window(frame_record_window(), 70, 90);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  EXPECT_EQ(read_long_file(deep + "\\plugin.ini"), settings);
  for (size_t i = 0; i + 1 < folders.size(); ++i) {
    EXPECT(GetFileAttributesW(long_path(folders[i] + "\\plugin.ini").c_str()) == INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(read_text_file(settings_path()), beside_first);
}

static void group_settings() {
  run_case("Screen_x alone from the file; other sections untouched", case_screen_x_only);
  run_case("both keys from the file place frame and display window", case_both_keys);
  run_case("a negative position is saved with its sign", case_negative_position);
  run_case("a vanished file: the last position, a new file beside the DLL", case_file_gone);
  run_case("a DLL path too long for the settings file", case_long_dll_path);
}

// ---- Group "failures": registration and creation refused ------------------------

static void case_registration_refused() {
  fill_module_host_fields();
  WNDCLASSA squatter = {};
  squatter.lpfnWndProc = DefWindowProcA;
  squatter.hInstance = player.dll;
  squatter.lpszClassName = "MURVI";
  EXPECT(RegisterClassA(&squatter) != 0);
  player_clear_records();
  EXPECT_EQ(call_init(), 1);
  expect_one_box("Error registering window class", "blah", __LINE__);
  EXPECT_REQUESTS({505, 0});
  // What was made before the failing step stays: the titled frame.
  frame = frame_record_window();
  EXPECT(frame != nullptr && IsWindow(frame));
  char title[128] = {};
  GetWindowTextA(frame, title, sizeof title);
  EXPECT_EQ(std::string(title), module_text());
  EXPECT(display_window_of(frame) == nullptr);

  DestroyWindow(frame);
  UnregisterClassA("MURVI", player.dll);
  display = init_ok(__LINE__);
  EXPECT(display != nullptr);
  EXPECT(player.boxes.empty());
  quit_and_pump();
  EXPECT(!display_class_registered());
}

static void case_creation_refused() {
  player.refuse_display_window = true;
  player_clear_records();
  EXPECT_EQ(call_init(), 1);
  player.refuse_display_window = false;
  expect_one_box("Error creating window", "blah", __LINE__);
  EXPECT_REQUESTS({505, 0});
  frame = frame_record_window();
  EXPECT(frame != nullptr && display_window_of(frame) == nullptr);
  WNDCLASSA found = {};
  EXPECT(GetClassInfoA(player.dll, "MURVI", &found));
  EXPECT(inside_dll(reinterpret_cast<const void*>(found.lpfnWndProc)));

  // The player may still render and quit; quit then takes down what exists.
  EXPECT_EQ(call_render(), 0);
  quit_and_pump();
  EXPECT_REQUESTS({611, 0});
  EXPECT(!IsWindow(frame));
  EXPECT(!display_class_registered());

  display = init_ok(__LINE__);
  EXPECT(display != nullptr);
  EXPECT_REQUESTS({505, 0}, {611, window_argument(display)});
  EXPECT_EQ(call_render(), 0);
  quit_and_pump();
  EXPECT_EQ(player.quit_messages, 1);
}

static void group_failures() {
  run_case("class already registered: box, result 1, then a good init", case_registration_refused);
  run_case("window creation refused: box, result 1, quit, then a good init", case_creation_refused);
}

// ---- Group "hostile": settings, folders and call orders meant to break it -------

static int32_t saturated(int64_t value) {
  return value > INT32_MAX ? INT32_MAX : (value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value));
}

// The frame a position asks for, its far edges held to the int32 range.
static void expect_frame_at(int32_t x, int32_t y, int line) {
  expect_frame_asked(x, y, saturated(int64_t{x} + 1020), saturated(int64_t{y} + 435), line);
}

static void write_settings(const std::string& lines) {
  write_text_file(settings_path(), "[" + module_text() + "]\r\n" + lines);
}

static std::vector<std::string> folder_names(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

static bool only_dll_and_settings(const std::string& folder) {
  std::vector<std::string> names = folder_names(folder);
  return names.size() == 2 && ((names[0] == "plugin.ini" && names[1] == "vis_corvanta.dll") ||
                               (names[1] == "plugin.ini" && names[0] == "vis_corvanta.dll"));
}

// What quit must leave: both keys as signed decimal text naming the position the
// frame had when the plug-in last saw it laid out. Other lines may stay.
static void expect_saved_position(POINT at, int line) {
  const std::string wanted[2] = {"Screen_x=" + std::to_string(at.x), "Screen_y=" + std::to_string(at.y)};
  int found[2] = {0, 0};
  const std::string lines = settings_section(module_text().c_str());
  for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string entry = lines.substr(start, end - start);
    for (int k = 0; k < 2; ++k) {
      if (entry.compare(0, 9, wanted[k], 0, 9) == 0) found[k] += entry == wanted[k] ? 1 : 100;
    }
  }
  expect(found[0] == 1 && found[1] == 1, "section holds \"" + lines + "\", expected " + wanted[0] + ", " + wanted[1],
         line);
}

static POINT frame_corner() {
  RECT r = {};
  GetWindowRect(frame_record_window(), &r);
  return {r.left, r.top};
}

static void case_huge_numbers() {
  fill_module_host_fields();
  const int32_t positions[][2] = {
      {INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}, {INT32_MAX - 1020, INT32_MAX - 435}, {-40000, 65536}};
  for (const auto& position : positions) {
    write_settings("Screen_x=" + std::to_string(position[0]) + "\r\nScreen_y=" + std::to_string(position[1]) + "\r\n");
    display = init_ok(__LINE__);
    expect_frame_at(position[0], position[1], __LINE__);
    EXPECT(display != nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(call_render(), 0);
    // Quit writes where the frame is. The player leaves it where asked, so the
    // extremes go through the file, except that x = -2147483648 is the system's
    // "default place" (CW_USEDEFAULT) and puts the frame elsewhere.
    POINT at = frame_corner();
    if (position[0] != INT32_MIN) EXPECT(at.x == position[0] && at.y == position[1]);
    quit_and_pump();
    expect_saved_position(at, __LINE__);
  }
}

static void case_garbage_values() {
  // Whatever the platform's integer reader makes of a value is the position; the
  // values already in memory are its defaults. Quit writes clean numbers back.
  const std::string section = module_text();
  const std::string lines[] = {
      "Screen_x=abc\r\nScreen_y=12abc\r\n",
      "Screen_x=\r\nScreen_y=-\r\n",
      "Screen_x=99999999999999999999\r\nScreen_y=-99999999999999999999\r\n",
      "Screen_x= +77 \r\nScreen_y=0x10\r\n",
      "Screen_x=" + std::string(70000, '7') + "\r\nScreen_y==\r\n=\r\n\x01\xff[\r\n",
      "",
  };
  for (const std::string& text : lines) {
    POINT in_memory = {settings_value(section.c_str(), "Screen_x"), settings_value(section.c_str(), "Screen_y")};
    write_settings(text);
    const int32_t x = static_cast<int32_t>(GetPrivateProfileIntA(section.c_str(), "Screen_x", in_memory.x,
                                                                 settings_path().c_str()));
    const int32_t y = static_cast<int32_t>(GetPrivateProfileIntA(section.c_str(), "Screen_y", in_memory.y,
                                                                 settings_path().c_str()));
    display = init_ok(__LINE__);
    expect_frame_at(x, y, __LINE__);
    POINT at = frame_corner();
    quit_and_pump();
    expect_saved_position(at, __LINE__);
  }
}

static void case_read_only_file() {
  // Under Wine a process running as root writes through the read-only attribute,
  // so another handle that shares reading only stands guard as well.
  write_settings("Screen_x=300\r\nScreen_y=200\r\n");
  SetFileAttributesA(settings_path().c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE guard = CreateFileA(settings_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  const std::string before = read_text_file(settings_path());
  // The platform itself must refuse the write, or there is nothing to test.
  EXPECT(!WritePrivateProfileStringA("Probe", "key", "1", settings_path().c_str()));
  display = init_ok(__LINE__);
  expect_frame_at(300, 200, __LINE__);
  move_window(frame_record_window(), 310, 210);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  CloseHandle(guard);
  EXPECT(player.boxes.empty());
  EXPECT(read_text_file(settings_path()) == before);
  EXPECT(only_dll_and_settings(player.folder));
  SetFileAttributesA(settings_path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

static void case_settings_directory() {
  // Nothing to read, nothing written: the position stays the one last seen.
  DeleteFileA(settings_path().c_str());
  EXPECT(CreateDirectoryA(settings_path().c_str(), nullptr));
  display = init_ok(__LINE__);
  expect_frame_at(310, 210, __LINE__);
  move_window(frame_record_window(), 320, 220);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  EXPECT(player.boxes.empty());
  EXPECT(GetFileAttributesA(settings_path().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT(folder_names(settings_path()).empty());
  EXPECT(only_dll_and_settings(player.folder));
  EXPECT(RemoveDirectoryA(settings_path().c_str()));
  display = init_ok(__LINE__);
  expect_frame_at(320, 220, __LINE__);
  quit_and_pump();
}

static std::string system_folder_settings() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + "\\plugin.ini";
}

static void case_instance_not_a_module() {
  // An instance that names no module has no folder: the settings file is left
  // alone rather than looked for in the system's folder or the working one.
  DeleteFileA(system_folder_settings().c_str());
  write_field(player.module, kModuleInstance, reinterpret_cast<HINSTANCE>(0x7ffe0000));
  player_clear_records();
  call_quit();
  call_quit();
  EXPECT_REQUESTS({611, 0}, {611, 0});
  EXPECT(!file_exists(system_folder_settings()));
  EXPECT(!file_exists("plugin.ini"));
  fill_module_host_fields();
}

static void case_call_order() {
  const int windows_before = count_thread_windows();
  display = init_ok(__LINE__);
  HWND first_frame = frame_record_window();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call_render(), 0);
  // Init again without quit: the first frame goes, a working second one comes.
  player_clear_records();
  EXPECT_EQ(call_init(), 0);
  EXPECT(player.boxes.empty());
  EXPECT(!IsWindow(first_frame));
  HWND second = display_window_of(frame_record_window());
  EXPECT(second != nullptr);
  EXPECT_REQUESTS({611, 0}, {505, 0}, {611, window_argument(second)});
  EXPECT_EQ(count_thread_windows(), windows_before + 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call_render(), 0);
  // Quit twice, then frames after quit.
  quit_and_pump();
  quit_and_pump();
  EXPECT_REQUESTS({611, 0});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call_render(), 0);
  EXPECT_EQ(count_thread_windows(), windows_before);
  EXPECT(!display_class_registered());
  display = init_ok(__LINE__);
  EXPECT(display != nullptr);
  EXPECT(player.boxes.empty());
  quit_and_pump();
}

// GDI objects the process holds. Where the system keeps no count (Wine answers
// 0), the objects that can still be made before its handle table is full stand in,
// negated: a leak shows in either as a rise.
static long gdi_objects_in_use() {
  DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted != 0) return static_cast<long>(counted);
  std::vector<HBRUSH> made;
  while (made.size() < 1000000) {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    if (!brush) break;
    made.push_back(brush);
  }
  for (HBRUSH brush : made) DeleteObject(brush);
  return -static_cast<long>(made.size());
}

// 1000 cycles; an emulated machine, where a cycle takes half a second, asks for fewer
// through CORVANTA_HOST_CYCLES (at least 100, so that a leak of one object a cycle
// still shows as twice the allowance below).
static int gdi_cycles() {
  const char* asked = getenv("CORVANTA_HOST_CYCLES");
  const int cycles = asked ? atoi(asked) : 1000;
  return cycles < 100 ? 100 : cycles > 1000 ? 1000 : cycles;
}

static void case_gdi_objects() {
  display = init_ok(__LINE__);
  EXPECT_EQ(call_render(), 0);
  quit_and_pump();
  const long before = gdi_objects_in_use();
  const int cycles = gdi_cycles();
  int failed_inits = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    player_clear_records();
    failed_inits += call_init() != 0;
    call_render();
    call_quit();
    pump_messages();
  }
  const long after = gdi_objects_in_use();
  EXPECT_EQ(failed_inits, 0);
  printf("     GDI objects: %ld before, %ld after %d cycles (%s)\n", before, after, cycles,
         before < 0 ? "counted as room left, negated" : "GetGuiResources");
  // Caches of the system may move a few; one object a cycle would show as 1000.
  expect(after - before < 50, "GDI objects rose by " + std::to_string(after - before), __LINE__);
}

static void case_non_ascii_folder() {
  // "Müsik Plügins" in the ANSI code page: the name the system hands back is the
  // one the settings file must sit beside.
  player_unload_dll();
  const std::string folder = player.folder + "-M\xFCsik Pl\xFCgins";
  CreateDirectoryA(folder.c_str(), nullptr);
  DeleteFileA((folder + "\\plugin.ini").c_str());
  EXPECT(CopyFileA(folder_file("vis_corvanta.dll").c_str(), (folder + "\\vis_corvanta.dll").c_str(), FALSE));
  const std::string first_settings = read_text_file(settings_path());
  const std::string first_folder = player.folder;
  player.folder = folder;
  if (!player_load_dll()) {
    expect(false, "the DLL does not load from " + folder, __LINE__);
    return;
  }
  char name[MAX_PATH] = {};
  GetModuleFileNameA(player.dll, name, MAX_PATH);
  EXPECT_EQ(std::string(name), folder_file("vis_corvanta.dll"));
  fill_module_host_fields();
  write_settings("Screen_x=333\r\nScreen_y=222\r\n");
  display = init_ok(__LINE__);
  expect_frame_at(333, 222, __LINE__);
  move_window(frame_record_window(), 340, 230);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  expect_saved_position({340, 230}, __LINE__);
  EXPECT(only_dll_and_settings(folder));
  EXPECT(read_text_file(first_folder + "\\plugin.ini") == first_settings);
}

static void group_hostile() {
  run_case("plugin.ini with int32's extremes: frame edges held in range, written back with their sign",
           case_huge_numbers);
  run_case("plugin.ini with garbage and an empty section: the platform's reading, clean numbers back",
           case_garbage_values);
  run_case("a read-only plugin.ini: quit's write fails silently, the file unchanged", case_read_only_file);
  run_case("a plugin.ini that is a folder: nothing read, nothing written", case_settings_directory);
  run_case("an instance that is no module: no settings file anywhere", case_instance_not_a_module);
  run_case("init twice, quit twice, render after quit", case_call_order);
  run_case("no GDI object leaked over many init, render, quit cycles", case_gdi_objects);
  run_case("the DLL in a folder with non-ASCII characters", case_non_ascii_folder);
}

// ---- Group "world": frames and picture digests for corvanta-sim ----------------

static std::vector<uint8_t> spectra;  // whole 1152-byte records, looped; empty: silence

static bool load_spectra(const std::string& source) {
  if (source == "silence") return true;
  spectra.clear();
  FILE* file = fopen(source.c_str(), "rb");
  if (!file) return false;
  uint8_t chunk[kSpectrumBytes];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) == sizeof chunk) spectra.insert(spectra.end(), chunk, chunk + got);
  fclose(file);
  return got == 0 && !spectra.empty();
}

static void write_spectrum(int64_t frame_index) {
  uint8_t* target = player.module + kModuleSpectrum;
  if (spectra.empty()) {
    memset(target, 0, kSpectrumBytes);
    return;
  }
  size_t records = spectra.size() / kSpectrumBytes;
  memcpy(target, spectra.data() + static_cast<size_t>(frame_index % records) * kSpectrumBytes, kSpectrumBytes);
}

static double seconds_now() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

static std::string world_spectrum;
static int world_frames;
static bool world_no_dib_section;
static int world_read_every = 1;
static std::string world_out;

// The first frame seeds the world with the calendar second it runs in. Starting
// just after a second turns makes a straddle unlikely; if one happens anyway, the
// DLL is reloaded, which brings the world back to its load state (and takes back
// any import the test host had redirected, so that is done again before each init).
static uint32_t first_frame_seed() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (world_no_dib_section) EXPECT(player_refuse_dib_sections());
    fill_module_host_fields();
    if (init_ok(__LINE__) == nullptr) return 0;
    time_t start = time(nullptr);
    while (time(nullptr) == start) Sleep(1);
    write_spectrum(0);
    time_t before = time(nullptr);
    int32_t result = call_render();
    time_t after = time(nullptr);
    EXPECT_EQ(result, 0);
    if (before == after) return static_cast<uint32_t>(before);
    quit_and_pump();
    player_unload_dll();
    if (!player_load_dll()) return 0;
  }
  expect(false, "the first frame straddled a second three times", __LINE__);
  return 0;
}

constexpr int kReinitFrame = 300;

static void case_world_run() {
  EXPECT(load_spectra(world_spectrum));
  FILE* out = fopen(world_out.c_str(), "wb");
  EXPECT(out != nullptr);
  if (!out) return;
  const uint32_t seed = first_frame_seed();
  fprintf(out, "seed %u\n", seed);
  HWND display_window = display_window_of(frame_record_window());
  if (!display_window) return;
  Picture picture = {kPictureWidth, kPictureHeight, {}};
  double startup_seconds = 0;
  double world_seconds = 0;
  double slowest = 0;
  for (int frame_number = 1; frame_number <= world_frames; ++frame_number) {
    if (frame_number > 1) {
      write_spectrum(frame_number - 1);
      double start = seconds_now();
      EXPECT_EQ(call_render(), 0);
      double spent = seconds_now() - start;
      if (frame_number <= 151) {
        startup_seconds += spent;
      } else {
        world_seconds += spent;
        if (spent > slowest) slowest = spent;
      }
    }
    if (world_read_every > 0 && frame_number % world_read_every == 0) {
      read_window_into(display_window, picture);
      fprintf(out, "%d %s\n", frame_number, hex64(picture_digest(picture)).c_str());
    }
    if (frame_number == kReinitFrame && world_frames > kReinitFrame) {
      // Quit and init in mid-run: the world carries on, and the next picture on the
      // new (white) surface must be whole, not just the pixels that changed.
      quit_and_pump();
      fill_module_host_fields();
      display_window = init_ok(__LINE__);
      if (!display_window) break;
    }
  }
  fclose(out);
  quit_and_pump();
  // Without a DIB section every drawn frame goes through SetDIBits.
  if (world_no_dib_section && world_frames > 151) EXPECT(player_set_dib_bits_calls() >= world_frames - 151);
  int world_frame_count = world_frames > 151 ? world_frames - 151 : 0;
  printf("seed %u; render %.2f ms a frame over frames 2..151, %.2f ms (slowest %.2f) over frames 152..%d\n",
         seed, startup_seconds * 1000 / 150, world_frame_count ? world_seconds * 1000 / world_frame_count : 0.0,
         slowest * 1000, world_frames);
}

static void group_world() { run_case("frames rendered and their pictures digested", case_world_run); }

// ---- Main ------------------------------------------------------------------------

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(report_crash);
  if (argc < 4) {
    fprintf(stderr, "usage: %s DLL FOLDER records|lifecycle|settings|failures|hostile|world ...\n", argv[0]);
    return 2;
  }
  const std::string group = argv[3];
  if (group == "world") {
    if (argc < 7) {
      fprintf(stderr, "usage: %s DLL FOLDER world SPECTRUM|silence FRAMES OUT [no-dib-section] [read-every=N]\n",
              argv[0]);
      return 2;
    }
    world_spectrum = argv[4];
    world_frames = atoi(argv[5]);
    world_out = argv[6];
    for (int i = 7; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "no-dib-section") {
        world_no_dib_section = true;
      } else if (option.compare(0, 11, "read-every=") == 0) {
        world_read_every = atoi(option.c_str() + 11);
        if (world_read_every < 0) {
          fprintf(stderr, "read-every must not be negative\n");
          return 2;
        }
      } else {
        fprintf(stderr, "unknown world option %s\n", option.c_str());
        return 2;
      }
    }
  }
  if (!player_start(argv[1], argv[2])) return 2;

  if (group == "records") {
    group_records();
  } else if (group == "lifecycle") {
    group_lifecycle();
  } else if (group == "settings") {
    group_settings();
  } else if (group == "failures") {
    group_failures();
  } else if (group == "hostile") {
    group_hostile();
  } else if (group == "world") {
    group_world();
  } else {
    fprintf(stderr, "unknown group %s\n", group.c_str());
    return 2;
  }
  printf("%d passed, %d failed\n", cases_passed, cases_failed);
  return cases_failed == 0 ? 0 : 1;
}
