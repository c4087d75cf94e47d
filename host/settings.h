#pragma once
// The frame window's remembered screen position, kept in "plugin.ini" beside the DLL.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Left and top edge of the frame window in screen coordinates. What was last read
// or seen stays in memory and is the default for the next read.
extern int32_t screen_x;
extern int32_t screen_y;

constexpr size_t kSettingsPathChars = MAX_PATH;

// The settings file beside the module's own file. False when the module's name came
// back cut or the directory leaves no room for the file name: a shortened path would
// name some other file, so the caller then does without the file.
bool settings_file_path(HINSTANCE instance, char (&path)[kSettingsPathChars]);

// Both leave screen_x/screen_y as they are when the file or a key is missing or the
// path is unusable; errors are not reported.
void load_position(HINSTANCE instance, const char* section);
void save_position(HINSTANCE instance, const char* section);
