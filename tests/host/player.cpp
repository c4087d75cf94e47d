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

// Points `dll`'s import `function` of `module` at `replacement`; the address it held
// goes to `was` when given.
static bool patch_dll_import(HMODULE dll, const char* module, const char* function, const void* replacement,
                             FARPROC* was = nullptr) {
  auto* base = reinterpret_cast<uint8_t*>(dll);
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
      // A second patch with the same replacement must not take it for the system's.
      if (was && slots[i].u1.Function != reinterpret_cast<DWORD>(replacement)) {
        *was = reinterpret_cast<FARPROC>(slots[i].u1.Function);
      }
      slots[i].u1.Function = reinterpret_cast<DWORD>(replacement);
      VirtualProtect(&slots[i], sizeof slots[i], protection, &protection);
      return true;
    }
  }
  return false;
}

// ---- The plug-in's calls, watched and bent --------------------------------------

static void log_call(const std::string& call) {
  if (player.logging_calls) player.calls.push_back(call);
}

template <typename Function>
static Function real(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

static FARPROC real_send_message, real_write_profile, real_read_profile, real_compatible_dc, real_compatible_bitmap,
    real_dib_section, real_select, real_fill, real_delete_dc, real_delete_object, real_show, real_foreground,
    real_destroy, real_register, real_unregister, real_default, real_window_rect, real_module_name;

static LRESULT WINAPI watched_send_message(HWND window, UINT message, WPARAM first, LPARAM second) {
  if (message == WM_USER) log_call("request " + std::to_string(second));
  return real<decltype(&SendMessageA)>(real_send_message)(window, message, first, second);
}
static BOOL WINAPI watched_write_profile(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  log_call(std::string("write ") + (key ? key : "(section)"));
  return real<decltype(&WritePrivateProfileStringA)>(real_write_profile)(section, key, value, file);
}
static UINT WINAPI watched_read_profile(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  log_call(std::string("read ") + key);
  return real<decltype(&GetPrivateProfileIntA)>(real_read_profile)(section, key, fallback, file);
}
static HDC WINAPI watched_compatible_dc(HDC dc) {
  log_call("context");
  return real<decltype(&CreateCompatibleDC)>(real_compatible_dc)(dc);
}
static HBITMAP WINAPI watched_compatible_bitmap(HDC dc, int width, int height) {
  log_call("bitmap");
  return real<decltype(&CreateCompatibleBitmap)>(real_compatible_bitmap)(dc, width, height);
}
static HBITMAP WINAPI watched_dib_section(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                         DWORD offset) {
  log_call("bitmap");
  HBITMAP made = real<decltype(&CreateDIBSection)>(real_dib_section)(dc, info, usage, bits, section, offset);
  player.dib_sections_made += made != nullptr;
  return made;
}
static HGDIOBJ WINAPI watched_select(HDC dc, HGDIOBJ object) {
  log_call("select");
  return real<decltype(&SelectObject)>(real_select)(dc, object);
}
static int WINAPI watched_fill(HDC dc, const RECT* rect, HBRUSH brush) {
  log_call(brush == GetStockObject(WHITE_BRUSH)   ? "fill white"
           : brush == GetStockObject(BLACK_BRUSH) ? "fill black"
                                                  : "fill");
  return real<decltype(&FillRect)>(real_fill)(dc, rect, brush);
}
static BOOL WINAPI watched_delete_dc(HDC dc) {
  log_call("delete context");
  return real<decltype(&DeleteDC)>(real_delete_dc)(dc);
}
static BOOL WINAPI watched_delete_object(HGDIOBJ object) {
  log_call("delete object");
  return real<decltype(&DeleteObject)>(real_delete_object)(object);
}
static BOOL WINAPI watched_show(HWND window, int how) {
  log_call("show " + std::to_string(how));
  return real<decltype(&ShowWindow)>(real_show)(window, how);
}
static BOOL WINAPI watched_foreground(HWND window) {
  log_call("foreground");
  return real<decltype(&SetForegroundWindow)>(real_foreground)(window);
}
static BOOL WINAPI watched_destroy(HWND window) {
  log_call("destroy");
  return real<decltype(&DestroyWindow)>(real_destroy)(window);
}
static ATOM WINAPI watched_register(const WNDCLASSA* window_class) {
  log_call("register");
  return real<decltype(&RegisterClassA)>(real_register)(window_class);
}
static BOOL WINAPI watched_unregister(LPCSTR name, HINSTANCE instance) {
  log_call("unregister");
  return real<decltype(&UnregisterClassA)>(real_unregister)(name, instance);
}
static LRESULT WINAPI watched_default(HWND window, UINT message, WPARAM first, LPARAM second) {
  player.default_messages.push_back(message);
  LRESULT result = real<decltype(&DefWindowProcA)>(real_default)(window, message, first, second);
  return message == WM_COMMAND ? kDefaultCommandResult : result;
}
static BOOL WINAPI bent_window_rect(HWND window, RECT* rect) {
  if (!player.window_rect_fails) return real<decltype(&GetWindowRect)>(real_window_rect)(window, rect);
  if (rect) *rect = {4321, 1234, 5321, 2234};
  return FALSE;
}
static DWORD WINAPI bent_module_name(HMODULE module, LPSTR name, DWORD size) {
  if (player.module_name.empty()) return real<decltype(&GetModuleFileNameA)>(real_module_name)(module, name, size);
  if (size == 0) return 0;
  const DWORD length = static_cast<DWORD>(std::min<size_t>(player.module_name.size(), size - 1));
  memcpy(name, player.module_name.data(), length);
  name[length] = '\0';
  return length < player.module_name.size() ? size : length;
}

static bool watch_dll_calls(HMODULE dll) {
  const struct {
    const char* module;
    const char* function;
    const void* replacement;
    FARPROC* real;
  } watched[] = {
      {"user32.dll", "SendMessageA", reinterpret_cast<const void*>(&watched_send_message), &real_send_message},
      {"kernel32.dll", "WritePrivateProfileStringA", reinterpret_cast<const void*>(&watched_write_profile),
       &real_write_profile},
      {"kernel32.dll", "GetPrivateProfileIntA", reinterpret_cast<const void*>(&watched_read_profile),
       &real_read_profile},
      {"gdi32.dll", "CreateCompatibleDC", reinterpret_cast<const void*>(&watched_compatible_dc), &real_compatible_dc},
      {"gdi32.dll", "CreateCompatibleBitmap", reinterpret_cast<const void*>(&watched_compatible_bitmap),
       &real_compatible_bitmap},
      {"gdi32.dll", "CreateDIBSection", reinterpret_cast<const void*>(&watched_dib_section), &real_dib_section},
      {"gdi32.dll", "SelectObject", reinterpret_cast<const void*>(&watched_select), &real_select},
      {"user32.dll", "FillRect", reinterpret_cast<const void*>(&watched_fill), &real_fill},
      {"gdi32.dll", "DeleteDC", reinterpret_cast<const void*>(&watched_delete_dc), &real_delete_dc},
      {"gdi32.dll", "DeleteObject", reinterpret_cast<const void*>(&watched_delete_object), &real_delete_object},
      {"user32.dll", "ShowWindow", reinterpret_cast<const void*>(&watched_show), &real_show},
      {"user32.dll", "SetForegroundWindow", reinterpret_cast<const void*>(&watched_foreground), &real_foreground},
      {"user32.dll", "DestroyWindow", reinterpret_cast<const void*>(&watched_destroy), &real_destroy},
      {"user32.dll", "RegisterClassA", reinterpret_cast<const void*>(&watched_register), &real_register},
      {"user32.dll", "UnregisterClassA", reinterpret_cast<const void*>(&watched_unregister), &real_unregister},
      {"user32.dll", "DefWindowProcA", reinterpret_cast<const void*>(&watched_default), &real_default},
      {"user32.dll", "GetWindowRect", reinterpret_cast<const void*>(&bent_window_rect), &real_window_rect},
      {"kernel32.dll", "GetModuleFileNameA", reinterpret_cast<const void*>(&bent_module_name), &real_module_name},
  };
  for (const auto& w : watched) {
    if (!patch_dll_import(dll, w.module, w.function, w.replacement, w.real)) {
      fprintf(stderr, "the plug-in does not import %s\n", w.function);
      return false;
    }
  }
  return true;
}

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
  return player.module != nullptr && watch_dll_calls(dll);
}

static int set_dib_bits_calls;
static int set_dib_bits_refusals;

// SetDIBits as documented: a bitmap still selected into the context is refused.
static int WINAPI strict_set_dib_bits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void* bits,
                                      const BITMAPINFO* info, UINT usage) {
  ++set_dib_bits_calls;
  if (dc && GetCurrentObject(dc, OBJ_BITMAP) == bitmap) {
    ++set_dib_bits_refusals;
    return 0;
  }
  return SetDIBits(dc, bitmap, start, lines, bits, info, usage);
}

static HBITMAP WINAPI refused_dib_section(HDC, const BITMAPINFO*, UINT, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  return nullptr;
}

bool player_refuse_dib_sections(HMODULE dll) {
  return patch_dll_import(dll, "gdi32.dll", "CreateDIBSection", reinterpret_cast<const void*>(&refused_dib_section)) &&
         patch_dll_import(dll, "gdi32.dll", "SetDIBits", reinterpret_cast<const void*>(&strict_set_dib_bits));
}

int player_set_dib_bits_calls() { return set_dib_bits_calls; }
int player_set_dib_bits_refusals() { return set_dib_bits_refusals; }

void player_unload_dll() {
  FreeLibrary(player.dll);
  player.dll = nullptr;
  player.header = nullptr;
  player.module = nullptr;
  player.frame_record = nullptr;
}

void player_clear_records() {
  player.calls.clear();
  player.default_messages.clear();
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

int count_pixels_not(const Picture& picture, uint32_t colour) {
  int count = 0;
  for (uint32_t pixel : picture.rgb) count += pixel != colour;
  return count;
}

void scribble(HWND window, int width, int height, COLORREF colour) {
  HDC dc = GetDC(window);
  HBRUSH brush = CreateSolidBrush(colour);
  RECT all = {0, 0, width, height};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  ReleaseDC(window, dc);
}

void repaint_now(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
}

void move_window(HWND window, int x, int y) {
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void resize_window(HWND window, int width, int height) {
  SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT position_in_parent(HWND window) {
  RECT outer;
  GetWindowRect(window, &outer);
  POINT corner = {outer.left, outer.top};
  ScreenToClient(GetParent(window), &corner);
  return corner;
}

POINT frame_corner() {
  RECT r = {};
  GetWindowRect(frame_record_window(), &r);
  return {r.left, r.top};
}

bool inside_dll(const void* address) {
  auto* base = reinterpret_cast<const uint8_t*>(player.dll);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  auto* at = static_cast<const uint8_t*>(address);
  return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
}

std::string settings_path() { return folder_file("plugin.ini"); }

int settings_value(const char* section, const char* key) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, -99999, settings_path().c_str()));
}

static std::string zeros_to_lines(const char* buffer, DWORD length) {
  std::string lines;
  for (DWORD i = 0; i < length; ++i) lines += buffer[i] == '\0' ? '\n' : buffer[i];
  return lines;
}

std::string settings_section(const char* section) {
  char buffer[4096] = {};
  return zeros_to_lines(buffer, GetPrivateProfileSectionA(section, buffer, sizeof buffer, settings_path().c_str()));
}

std::string section_names() {
  char buffer[4096] = {};
  return zeros_to_lines(buffer, GetPrivateProfileSectionNamesA(buffer, sizeof buffer, settings_path().c_str()));
}

void write_settings(const std::string& lines) {
  write_text_file(settings_path(), "[" + module_text() + "]\r\n" + lines);
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
