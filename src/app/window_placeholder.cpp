// Stand-in until the window exists: the program builds and starts up, then
// reports that no window could be created.
#include "app/window.h"

namespace kestrelume {

int RunWindow(App&, HINSTANCE) { return 1; }

}  // namespace kestrelume
