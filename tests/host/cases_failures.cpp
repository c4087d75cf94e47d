// Registration and creation refused.
#include "groups.h"

#include <cstring>

#include "checks.h"

static HWND frame;
static HWND display;

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

void group_failures() {
  run_case("class already registered: box, result 1, then a good init", case_registration_refused);
  run_case("window creation refused: box, result 1, quit, then a good init", case_creation_refused);
}

