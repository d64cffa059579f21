#pragma once
// Sets the current user's proxy the way Internet Options does, for one
// scenario, and puts back exactly what was there: every value that is
// changed is read first (its type and bytes, or its absence) and rewritten
// or deleted on Restore, which the destructor calls, so a failed check or an
// early return cannot leave the tester's machine pointing at a dead proxy.
// Ctrl+C and closing the console restore too. Runner main thread.
//
// Written: under HKCU\Software\Microsoft\Windows\CurrentVersion\Internet
// Settings, ProxyEnable, ProxyServer and ProxyOverride (what the dialog
// shows), and Connections\DefaultConnectionSettings (the binary value that
// WinHttpGetIEProxyConfigForCurrentUser reads, on Windows and under Wine).

#include <windows.h>

#include <string>
#include <vector>

namespace kestrelume::kit {

class UserProxy {
 public:
  UserProxy() = default;
  UserProxy(const UserProxy&) = delete;
  UserProxy& operator=(const UserProxy&) = delete;
  ~UserProxy() { Restore(); }

  // A fixed proxy ("127.0.0.1:PORT") and its bypass list; false (with
  // `error` filled) when the settings could not be written, in which case
  // whatever was written is already put back.
  bool Set(const std::wstring& proxy, const std::wstring& bypass, std::string& error);
  // Puts back what Set found; true when every value reads as it was.
  // Nothing to do (true) when Set was not called or already undone.
  bool Restore();

 private:
  struct Saved {
    const wchar_t* key;
    const wchar_t* name;
    bool existed = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  void Save(const wchar_t* key, const wchar_t* name);
  bool Write(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size);

  std::vector<Saved> saved_;
  bool made_connections_key_ = false;
};

// Restores the settings of the UserProxy that has them changed, if any; for
// a runner that must end while its main thread is stuck. Any thread.
void RestoreChangedUserProxy();

}  // namespace kestrelume::kit
