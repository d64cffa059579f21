#pragma once
// The window start-up and its message loop, entered by the main routine once
// App is built. Returns 0 when the message loop ran and ended, 1 when the
// drawing resources or the window could not be created (no window, no
// worker then). Main thread.

#include <windows.h>

#include "app/app.h"

namespace kestrelume {

int RunWindow(App& app, HINSTANCE instance);

}  // namespace kestrelume
