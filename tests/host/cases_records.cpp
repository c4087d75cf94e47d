// The DLL as loaded, config, and entries without init.
#include "groups.h"

#include <cstring>

#include "checks.h"

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
  // Quit unregisters the class of the module's instance even when it made none: a
  // class of that name left behind would make every later init fail.
  WNDCLASSA left_behind = {};
  left_behind.lpfnWndProc = DefWindowProcA;
  left_behind.hInstance = player.dll;
  left_behind.lpszClassName = "MURVI";
  EXPECT(RegisterClassA(&left_behind) != 0);
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
  // A player that offered its frame function once and has none now: the plug-in
  // must ask again rather than use the one it was given before.
  EXPECT(init_ok(__LINE__) != nullptr);
  quit_and_pump();
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
  player.offers_frame_maker = true;
}

void group_records() {
  run_case("header record and get_module for 0, 1, -1", case_header);
  run_case("module record values at load", case_module_at_load);
  run_case("config shows its box and changes nothing", case_config);
  run_case("render and quit without init", case_entries_without_init);
  run_case("init against a player without a frame function, after one with", case_init_without_frame_maker);
}

