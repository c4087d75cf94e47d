// plugin.ini beside the DLL.
#include "groups.h"

#include <cstring>

#include "checks.h"

static HWND frame;
static HWND display;

static const char kOtherSection[] =
    "[Other]\r\n"
    "Screen_x=999\r\n"
    "Screen_y=777\r\n"
    "keep=this\r\n";
static const char kOtherLines[] = "Screen_x=999\nScreen_y=777\nkeep=this\n";

static void case_screen_x_only() {
  fill_module_host_fields();
  const std::string section = module_text();
  const std::string text = std::string(kOtherSection) + "\r\n[" + section + "]\r\nScreen_x=300\r\n";
  write_text_file(settings_path(), text);
  display = init_ok(__LINE__);
  expect_frame_asked(300, 50, 1320, 485, __LINE__);
  EXPECT(read_text_file(settings_path()) == text);  // init only reads
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

static void case_name_without_backslash() {
  // A file name without a folder: the settings file is "plugin.ini" as it stands,
  // which the profile functions look for in the Windows folder.
  const std::string beside = read_text_file(settings_path());
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string system_file = std::string(windows) + "\\plugin.ini";
  write_text_file(system_file, "[" + module_text() + "]\r\nScreen_x=410\r\nScreen_y=320\r\n");
  player.module_name = "vis_corvanta.dll";
  display = init_ok(__LINE__);
  expect_frame_asked(410, 320, 1430, 755, __LINE__);
  move_window(frame_record_window(), 420, 330);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  player.module_name.clear();
  const std::string saved = read_text_file(system_file);
  DeleteFileA(system_file.c_str());
  EXPECT(saved.find("Screen_x=420") != std::string::npos && saved.find("Screen_y=330") != std::string::npos);
  EXPECT(read_text_file(settings_path()) == beside);
}

static void case_no_room_for_file_name() {
  // The DLL's full name fits the platform's 260 characters, but its folder leaves no
  // room for "plugin.ini" after it. The name cut to fit would be another file (here
  // one that exists): the file is done without, and the position stays in memory.
  const std::string folder = player.folder + "-room";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string deep = folder + "\\" + std::string(250 - folder.size() - 1, 'r');
  CreateDirectoryW(long_path(deep).c_str(), nullptr);
  const std::string cut_name = deep + "\\plugin.i";
  EXPECT_EQ(cut_name.size(), static_cast<size_t>(MAX_PATH - 1));
  const std::string decoy = "[" + module_text() + "]\r\nScreen_x=777\r\nScreen_y=666\r\n";
  EXPECT(write_long_file(cut_name, decoy));
  player.module_name = deep + "\\x.dll";
  display = init_ok(__LINE__);
  expect_frame_asked(420, 330, 1440, 765, __LINE__);
  move_window(frame_record_window(), 430, 340);
  resize_window(display, kPictureWidth, kPictureHeight);
  quit_and_pump();
  player.module_name.clear();
  EXPECT(read_long_file(cut_name) == decoy);
  EXPECT(GetFileAttributesW(long_path(deep + "\\plugin.ini").c_str()) == INVALID_FILE_ATTRIBUTES);
}

void group_settings() {
  run_case("Screen_x alone from the file; other sections untouched", case_screen_x_only);
  run_case("both keys from the file place frame and display window", case_both_keys);
  run_case("a negative position is saved with its sign", case_negative_position);
  run_case("a vanished file: the last position, a new file beside the DLL", case_file_gone);
  run_case("a DLL name without a backslash: plugin.ini without a folder", case_name_without_backslash);
  run_case("a DLL folder with no room left for plugin.ini", case_no_room_for_file_name);
  run_case("a DLL path too long for the settings file", case_long_dll_path);
}

