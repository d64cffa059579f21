#pragma once
// The window: start-up, message loop and window procedure. Main thread only.

#include <windows.h>

#include "app/app.h"

namespace kestrelume {

inline constexpr wchar_t kWindowTitle[] = L"Kestrelume Installer";
inline constexpr UINT_PTR CLOSE_TIMER = 2;
inline constexpr UINT kCloseAfterLaunchMs = 1600;

// Entered by the main routine once App is built: drawing resources, the
// window, the first run and the message loop. Returns 0 when the message
// loop ran and ended, 1 when the drawing resources or the window could not
// be created even after a few attempts (no window and no worker then; a
// message box has said which).
int RunWindow(App& app, HINSTANCE instance);

// Main thread, before the window is first shown: what its first frame,
// painted before the first run starts, shows (the layout, and the spinner's
// start at `now`, GetTickCount64 milliseconds).
void PrepareFirstFrame(App& app, uint64_t now);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kestrelume
