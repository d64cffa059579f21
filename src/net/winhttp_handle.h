#pragma once
// Owner of a WinHTTP session or connection handle. Request handles are not
// owned this way: while one is registered with the session, the canceller may
// close it, so its release follows the session's locking rules instead.

#include <windows.h>
#include <winhttp.h>

#include "system/system_functions.h"
#include "base/unique_handle.h"

namespace kestrelume {

struct InternetHandleTraits {
  static HINTERNET Invalid() { return nullptr; }
  static void Close(HINTERNET h) { System().WinHttpCloseHandle(h); }
};

using UniqueInternet = UniqueHandle<HINTERNET, InternetHandleTraits>;

}  // namespace kestrelume
