#pragma once
// The plug-in's child window inside the player's frame: repaints the picture,
// remembers where the frame is, passes keys to the player, answers two commands.
#include <windows.h>

// Commands the player sends in WM_COMMAND.
constexpr WORD kCommandToggle = 40384;
constexpr WORD kCommandFullscreen = 40389;

LRESULT CALLBACK display_window_proc(HWND window, UINT message, WPARAM first, LPARAM second);
