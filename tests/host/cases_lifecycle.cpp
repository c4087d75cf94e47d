// One plug-in from load through init, frames, commands, quit and init again.
#include "groups.h"

#include <cstring>

#include "checks.h"

static HWND frame;
static HWND display;

static void case_first_init() {
  fill_module_host_fields();
  EXPECT(!file_exists(settings_path()));
  player.logging_calls = true;
  display = init_ok(__LINE__);
  player.logging_calls = false;
  frame = frame_record_window();
  EXPECT(display != nullptr);
  EXPECT_REQUESTS({505, 0}, {611, window_argument(display)});
  // The surfaces come after the host knows the window, drawing before background,
  // and the frame is shown last; init reads the settings file and writes nothing.
  expect_calls({"read Screen_x", "read Screen_y", "request 505", "register", "request 611", "context", "bitmap",
                "select", "fill white", "context", "bitmap", "select", "fill black", "show 1"},
               __LINE__);
  EXPECT(!file_exists(settings_path()));
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
  // Nothing but the procedure and the instance: no style, no extra bytes, no icon,
  // cursor, background brush or menu.
  EXPECT_EQ(static_cast<long long>(found.style), 0LL);
  EXPECT_EQ(found.cbClsExtra, 0);
  EXPECT_EQ(found.cbWndExtra, 0);
  EXPECT(found.hIcon == nullptr && found.hCursor == nullptr && found.hbrBackground == nullptr);
  EXPECT(found.lpszMenuName == nullptr);
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
    // Only the frame's own copy can bring the white surface back over this.
    scribble(display, kPictureWidth, kPictureHeight, RGB(200, 0, 0));
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

static bool handed_on(UINT message) {
  for (UINT seen : player.default_messages) {
    if (seen == message) return true;
  }
  return false;
}

static void case_default_processing() {
  // Erasing paints nothing: what was on the window stays.
  scribble(display, kPictureWidth, kPictureHeight, RGB(0, 200, 0));
  HDC dc = GetDC(display);
  EXPECT_EQ(static_cast<long long>(SendMessageA(display, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)), 0LL);
  ReleaseDC(display, dc);
  EXPECT_EQ(count_pixels_not(read_window(display, kPictureWidth, kPictureHeight), RGB(0, 200, 0)), 0);
  repaint_now(display);
  // Every command, the plug-in's own and others, goes on to the default processing,
  // whose answer is the procedure's.
  const WPARAM commands[] = {0xFFFF9DC0, 0x00019DC0, 40389, 0x00001234};
  for (WPARAM command : commands) {
    player_clear_records();
    EXPECT_EQ(static_cast<long long>(SendMessageA(display, WM_COMMAND, command, 0)), kDefaultCommandResult);
    EXPECT(player.default_messages == std::vector<UINT>{WM_COMMAND});
  }
  // A change of place or size is not handed on; what follows it is.
  player_clear_records();
  resize_window(display, kPictureWidth + 1, kPictureHeight);
  resize_window(display, kPictureWidth, kPictureHeight);
  EXPECT(!handed_on(WM_WINDOWPOSCHANGING));
  EXPECT(handed_on(WM_WINDOWPOSCHANGED));
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
  // alone moves, nor when the frame's place cannot be read.
  move_window(frame, 120, 80);
  resize_window(display, kPictureWidth, kPictureHeight);
  player.window_rect_fails = true;
  move_window(frame, 140, 90);
  resize_window(display, kPictureWidth, kPictureHeight);
  player.window_rect_fails = false;
  move_window(frame, 200, 150);
  player_clear_records();
  player.logging_calls = true;
  call_quit();
  player.logging_calls = false;
  EXPECT_REQUESTS({611, 0});
  expect_calls({"request 611", "write Screen_x", "write Screen_y", "select", "delete context", "delete object",
                "select", "delete context", "delete object", "foreground", "destroy", "unregister"},
               __LINE__);
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

void group_lifecycle() {
  run_case("init without a settings file: frame, title, requests 505 and 611", case_first_init);
  run_case("display window: class, style, position, 1000 x 400 client", case_display_window);
  run_case("frames 1 to 151 are white", case_startup_frames_white);
  run_case("the world is shown from frame 152, and a repaint shows it too", case_world_frames);
  run_case("command 40384 asks for and sets the flag", case_toggle_command);
  run_case("command 40389 with and without video playing", case_fullscreen_command);
  run_case("keys reach the player unchanged, posted", case_keys);
  run_case("erasing paints nothing; commands go on to the default processing, moves do not",
           case_default_processing);
  run_case("a 1200 x 500 client: the picture and white strips", case_larger_client);
  run_case("quit saves the laid-out frame position and takes everything down, in order", case_quit_saves_position);
  run_case("init, quit, init: the class anew and the same world", case_init_again);
}

