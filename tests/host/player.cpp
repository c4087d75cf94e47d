#include "player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

Player player = {};

static const char kMainClass[] = "CorvantaTestPlayer";
static const char kFrameClass[] = "CorvantaTestFrame";
static HHOOK cbt_hook;
static const char kSeenMark[] = "CorvantaTestSeen";

// The frame is larger than the rectangle asked for: the plug-in places its child
// at the remembered screen position inside the frame, and a readback can only see
// what lies within the frame and on the screen.
constexpr int kFrameWidth = 1400;
constexpr int kFrameHeight = 700;

static HWND make_frame(uint8_t* record) {
  RECT asked;
  memcpy(&asked, record + kFrameRecordRect, sizeof asked);
  player.frames_asked.push_back(asked);
  player.frame_record = record;
  player.frame_record_rest_zero = read_field<int32_t>(record, 4) == 0;
  for (size_t i = kFrameRecordRect + sizeof asked; i < kFrameRecordBytes; ++i) {
    if (record[i] != 0) player.frame_record_rest_zero = false;
  }
  HWND frame = CreateWindowExA(0, kFrameClass, "", WS_POPUP | WS_CLIPCHILDREN, asked.left, asked.top,
                               kFrameWidth, kFrameHeight, nullptr, nullptr, GetModuleHandleA(nullptr),
                               nullptr);
  write_field(record, kFrameRecordWindow, frame);
  player.frames_made.push_back(frame);
  return frame;
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
  switch (message) {
    case WM_USER:
      player.requests.push_back({second, first});
      if (second == 505) return player.offers_frame_maker ? reinterpret_cast<LRESULT>(&make_frame) : 0;
      if (second == 501) return player.video_state;
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      player.keys.push_back({message, first, second});
      return 0;
    default:
      return DefWindowProcA(window, message, first, second);
  }
}

static BOOL CALLBACK collect_box_control(HWND control, LPARAM context) {
  auto* box = reinterpret_cast<SeenBox*>(context);
  char class_name[32] = {};
  GetClassNameA(control, class_name, sizeof class_name);
  bool visible = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
  if (lstrcmpiA(class_name, "Button") == 0 && visible) {
    box->buttons.push_back(GetDlgCtrlID(control));
  } else if (lstrcmpiA(class_name, "Static") == 0) {
    char text[1024] = {};
    GetWindowTextA(control, text, sizeof text);
    if (text[0] != '\0') box->text = text;
  }
  return TRUE;
}

// Message boxes are read and closed as they come up, so that nothing blocks; a
// refused display window stands for a system that cannot create it.
static LRESULT CALLBACK cbt_proc(int code, WPARAM first, LPARAM second) {
  if (code == HCBT_CREATEWND && player.refuse_display_window) {
    char class_name[32] = {};
    GetClassNameA(reinterpret_cast<HWND>(first), class_name, sizeof class_name);
    if (strcmp(class_name, "MURVI") == 0) return 1;
  }
  if (code == HCBT_ACTIVATE) {
    HWND window = reinterpret_cast<HWND>(first);
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    // A box may be activated more than once before it closes; it counts once.
    if (strcmp(class_name, "#32770") == 0 && !GetPropA(window, kSeenMark)) {
      SetPropA(window, kSeenMark, reinterpret_cast<HANDLE>(1));
      SeenBox box;
      box.owner = GetWindow(window, GW_OWNER);
      char caption[256] = {};
      GetWindowTextA(window, caption, sizeof caption);
      box.caption = caption;
      EnumChildWindows(window, collect_box_control, reinterpret_cast<LPARAM>(&box));
      player.boxes.push_back(box);
      PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(cbt_hook, code, first, second);
}

static bool empty_folder(const std::string& folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileA((folder + "\\" + found.cFileName).c_str());
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

bool player_start(const std::string& dll_source, const std::string& folder) {
  player.folder = folder;
  player.offers_frame_maker = true;
  HINSTANCE self = GetModuleHandleA(nullptr);
  WNDCLASSA main_class = {};
  main_class.lpfnWndProc = main_window_proc;
  main_class.hInstance = self;
  main_class.lpszClassName = kMainClass;
  WNDCLASSA frame_class = {};
  frame_class.lpfnWndProc = DefWindowProcA;
  frame_class.hInstance = self;
  frame_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  frame_class.lpszClassName = kFrameClass;
  if (!RegisterClassA(&main_class) || !RegisterClassA(&frame_class)) {
    fprintf(stderr, "cannot register the player's window classes\n");
    return false;
  }
  player.main_window = CreateWindowExA(0, kMainClass, "Corvanta test player", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                       1700, 1000, 200, 120, nullptr, nullptr, self, nullptr);
  cbt_hook = SetWindowsHookExA(WH_CBT, cbt_proc, nullptr, GetCurrentThreadId());
  if (!player.main_window || !cbt_hook) {
    fprintf(stderr, "cannot create the player's window or hook\n");
    return false;
  }
  if (!empty_folder(folder)) {
    fprintf(stderr, "cannot prepare the folder %s\n", folder.c_str());
    return false;
  }
  if (!CopyFileA(dll_source.c_str(), folder_file("vis_corvanta.dll").c_str(), FALSE)) {
    fprintf(stderr, "cannot copy %s into %s\n", dll_source.c_str(), folder.c_str());
    return false;
  }
  return player_load_dll();
}

bool player_load_dll() { return player_attach_dll(LoadLibraryA(folder_file("vis_corvanta.dll").c_str())); }

bool player_attach_dll(HMODULE dll) {
  player.dll = dll;
  if (!player.dll) {
    fprintf(stderr, "cannot load the plug-in (error %lu)\n", GetLastError());
    return false;
  }
  using GetHeader = uint8_t* (*)();
  auto get_header = reinterpret_cast<GetHeader>(
      reinterpret_cast<void (*)()>(GetProcAddress(player.dll, "winampVisGetHeader")));
  if (!get_header) {
    fprintf(stderr, "the plug-in has no winampVisGetHeader\n");
    return false;
  }
  player.header = get_header();
  using GetModule = uint8_t* (*)(int32_t);
  player.module = read_field<GetModule>(player.header, kHeaderGetModule)(0);
  return player.module != nullptr;
}

// Points the loaded DLL's import `function` of `module` at `replacement`.
static bool patch_dll_import(const char* module, const char* function, DWORD replacement) {
  auto* base = reinterpret_cast<uint8_t*>(player.dll);
  if (!base) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), module) != 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
    for (int i = 0; names[i].u1.AddressOfData != 0; ++i) {
      if (IMAGE_SNAP_BY_ORDINAL32(names[i].u1.Ordinal)) continue;
      const auto* named = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(named->Name), function) != 0) continue;
      DWORD protection;
      if (!VirtualProtect(&slots[i], sizeof slots[i], PAGE_READWRITE, &protection)) return false;
      slots[i].u1.Function = replacement;
      VirtualProtect(&slots[i], sizeof slots[i], protection, &protection);
      return true;
    }
  }
  return false;
}

static int set_dib_bits_calls;

// SetDIBits as documented: a bitmap still selected into the context is refused.
static int WINAPI strict_set_dib_bits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
                                      const BITMAPINFO* info, UINT usage) {
  ++set_dib_bits_calls;
  if (dc && GetCurrentObject(dc, OBJ_BITMAP) == bitmap) return 0;
  return SetDIBits(dc, bitmap, start, lines, bits, info, usage);
}

static HBITMAP WINAPI refused_dib_section(HDC, const BITMAPINFO*, UINT, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  return nullptr;
}

bool player_refuse_dib_sections() {
  set_dib_bits_calls = 0;
  return patch_dll_import("gdi32.dll", "CreateDIBSection", reinterpret_cast<DWORD>(&refused_dib_section)) &&
         patch_dll_import("gdi32.dll", "SetDIBits", reinterpret_cast<DWORD>(&strict_set_dib_bits));
}

int player_set_dib_bits_calls() { return set_dib_bits_calls; }

void player_unload_dll() {
  FreeLibrary(player.dll);
  player.dll = nullptr;
  player.header = nullptr;
  player.module = nullptr;
  player.frame_record = nullptr;
}

void player_clear_records() {
  player.requests.clear();
  player.boxes.clear();
  player.keys.clear();
  player.frames_asked.clear();
  player.frames_made.clear();
  player.quit_messages = 0;
}

void pump_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ++player.quit_messages;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

using EntryVoid = void (*)(uint8_t*);
using EntryInt = int32_t (*)(uint8_t*);

void fill_module_host_fields() {
  write_field(player.module, kModuleParentWindow, player.main_window);
  write_field(player.module, kModuleInstance, static_cast<HINSTANCE>(player.dll));
}

void call_config() { read_field<EntryVoid>(player.module, kModuleConfig)(player.module); }
int32_t call_init() { return read_field<EntryInt>(player.module, kModuleInit)(player.module); }
int32_t call_render() { return read_field<EntryInt>(player.module, kModuleRender)(player.module); }
void call_quit() { read_field<EntryVoid>(player.module, kModuleQuit)(player.module); }

std::string module_text() { return read_field<const char*>(player.module, kModuleDescription); }

HWND frame_record_window() {
  return player.frame_record ? read_field<HWND>(player.frame_record, kFrameRecordWindow) : nullptr;
}

HWND display_window_of(HWND frame) { return FindWindowExA(frame, nullptr, "MURVI", nullptr); }

bool display_class_registered() {
  WNDCLASSA found;
  return GetClassInfoA(player.dll, "MURVI", &found) != 0;
}

static BOOL CALLBACK count_window(HWND, LPARAM context) {
  ++*reinterpret_cast<int*>(context);
  return TRUE;
}

int count_thread_windows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&count));
  return count;
}

// The section the window is copied into, kept from one reading to the next: a run
// that reads the window after every frame would otherwise map, fault in and free
// several megabytes between two calls of the plug-in, and time those in its calls.
struct ReadSection {
  int width = 0;
  int height = 0;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ kept = nullptr;
  const uint32_t* bits = nullptr;
};
static ReadSection read_section;

static bool prepare_read_section(int width, int height) {
  ReadSection& r = read_section;
  if (r.bits && r.width == width && r.height == height) return true;
  if (r.dc) {
    SelectObject(r.dc, r.kept);
    DeleteDC(r.dc);
  }
  if (r.bitmap) DeleteObject(r.bitmap);
  r = ReadSection{};
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  r.dc = CreateCompatibleDC(nullptr);
  r.bitmap = CreateDIBSection(r.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!r.dc || !r.bitmap || !bits) return false;
  r.kept = SelectObject(r.dc, r.bitmap);
  r.width = width;
  r.height = height;
  r.bits = static_cast<const uint32_t*>(bits);
  return true;
}

void read_window_into(HWND window, Picture& picture) {
  const size_t count = static_cast<size_t>(picture.width) * picture.height;
  picture.rgb.resize(count);
  if (!prepare_read_section(picture.width, picture.height)) {
    std::fill(picture.rgb.begin(), picture.rgb.end(), 0xFFFFFFFFu);  // no 0x00RRGGBB pixel
    return;
  }
  HDC window_dc = GetDC(window);
  BitBlt(read_section.dc, 0, 0, picture.width, picture.height, window_dc, 0, 0, SRCCOPY);
  GdiFlush();
  for (size_t i = 0; i < count; ++i) picture.rgb[i] = read_section.bits[i] & 0xFFFFFF;
  ReleaseDC(window, window_dc);
}

Picture read_window(HWND window, int width, int height) {
  Picture picture = {width, height, {}};
  read_window_into(window, picture);
  return picture;
}

uint64_t picture_digest(const Picture& picture) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t pixel : picture.rgb) {
    const uint8_t channels[3] = {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8),
                                 static_cast<uint8_t>(pixel)};
    for (uint8_t c : channels) {
      hash ^= c;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

std::string hex64(uint64_t value) {
  char text[17];
  for (int i = 15; i >= 0; --i) {
    text[i] = "0123456789abcdef"[value & 15];
    value >>= 4;
  }
  text[16] = '\0';
  return text;
}

std::string folder_file(const std::string& name) { return player.folder + "\\" + name; }

std::string read_text_file(const std::string& path) {
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return text;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  fclose(file);
  return text;
}

bool write_text_file(const std::string& path, const std::string& text) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && ok;
}

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
