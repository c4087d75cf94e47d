#include "host/settings.h"

#include <cstdio>
#include <cstring>

int32_t screen_x = 50;
int32_t screen_y = 50;

static const char kSettingsFileName[] = "plugin.ini";

bool settings_file_path(HINSTANCE instance, char (&path)[kSettingsPathChars]) {
  DWORD length = GetModuleFileNameA(instance, path, kSettingsPathChars);
  // A full buffer means the name may have been cut, and the cut name's directory
  // would be wrong. No name at all (an instance that is no module) has no
  // directory either: "plugin.ini" alone would land in the system's folder.
  if (length == 0 || length >= kSettingsPathChars) return false;
  path[length] = '\0';
  // Character by character, not byte by byte: in a double-byte code page the
  // second byte of a character can be 0x5C, and a file named with it is no folder.
  char* last_backslash = nullptr;
  for (char* p = path; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') last_backslash = p;
  }
  size_t directory_length = last_backslash ? static_cast<size_t>(last_backslash - path) + 1 : 0;
  if (directory_length + sizeof(kSettingsFileName) > kSettingsPathChars) return false;
  std::memcpy(path + directory_length, kSettingsFileName, sizeof(kSettingsFileName));
  return true;
}

void load_position(HINSTANCE instance, const char* section) {
  char path[kSettingsPathChars];
  if (!settings_file_path(instance, path)) return;
  screen_x = static_cast<int32_t>(GetPrivateProfileIntA(section, "Screen_x", screen_x, path));
  screen_y = static_cast<int32_t>(GetPrivateProfileIntA(section, "Screen_y", screen_y, path));
}

void save_position(HINSTANCE instance, const char* section) {
  char path[kSettingsPathChars];
  if (!settings_file_path(instance, path)) return;
  char value[16];
  std::snprintf(value, sizeof value, "%d", static_cast<int>(screen_x));
  WritePrivateProfileStringA(section, "Screen_x", value, path);
  std::snprintf(value, sizeof value, "%d", static_cast<int>(screen_y));
  WritePrivateProfileStringA(section, "Screen_y", value, path);
}
