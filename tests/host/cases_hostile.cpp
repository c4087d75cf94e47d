// Settings, folders and call orders meant to break the plug-in.
#include "groups.h"

#include <cstring>

#include "checks.h"

static HWND frame;
static HWND display;

static int32_t saturated(int64_t value) {
  return value > INT32_MAX ? INT32_MAX : (value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value));
}

// The frame a position asks for, its far edges held to the int32 range.
static void expect_frame_at(int32_t x, int32_t y, int line) {
  expect_frame_asked(x, y, saturated(int64_t{x} + 1020), saturated(int64_t{y} + 435), line);
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

static void case_quit_with_null_frame_field() {
  // The player cleared the frame record's window field after a good init: quit
  // leaves the frame and the foreground to the player and does the rest.
  display = init_ok(__LINE__);
  frame = frame_record_window();
  EXPECT_EQ(call_render(), 0);
  move_window(frame, 150, 100);
  resize_window(display, kPictureWidth, kPictureHeight);
  write_field(player.frame_record, kFrameRecordWindow, static_cast<HWND>(nullptr));
  player_clear_records();
  player.logging_calls = true;
  call_quit();
  player.logging_calls = false;
  pump_messages();
  EXPECT_REQUESTS({611, 0});
  expect_calls({"request 611", "write Screen_x", "write Screen_y", "select", "delete context", "delete object",
                "select", "delete context", "delete object", "unregister"},
               __LINE__);
  EXPECT(IsWindow(frame) && IsWindow(display));
  EXPECT_EQ(player.quit_messages, 0);
  expect_saved_position({150, 100}, __LINE__);
  // The class outlives its window's quit; the player takes both down, and the next
  // init starts afresh.
  DestroyWindow(frame);
  pump_messages();
  UnregisterClassA("MURVI", player.dll);
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

void group_hostile() {
  run_case("plugin.ini with int32's extremes: frame edges held in range, written back with their sign",
           case_huge_numbers);
  run_case("plugin.ini with garbage and an empty section: the platform's reading, clean numbers back",
           case_garbage_values);
  run_case("a read-only plugin.ini: quit's write fails silently, the file unchanged", case_read_only_file);
  run_case("a plugin.ini that is a folder: nothing read, nothing written", case_settings_directory);
  run_case("an instance that is no module: no settings file anywhere", case_instance_not_a_module);
  run_case("init twice, quit twice, render after quit", case_call_order);
  run_case("quit after the player cleared the frame record's window", case_quit_with_null_frame_field);
  run_case("no GDI object leaked over many init, render, quit cycles", case_gdi_objects);
  run_case("the DLL in a folder with non-ASCII characters", case_non_ascii_folder);
}

