#pragma once
// Owner of a WinHTTP session, connection or request handle. Only the thread
// that uses a handle closes it (a cancel closes nothing; net/http_session.h).

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
