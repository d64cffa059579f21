#include "tools/windows_kit/user_proxy.h"

#include <wininet.h>

#include <mutex>

#include "base/slim_lock.h"
#include "base/unique_handle.h"

namespace kestrelume::kit {
namespace {

struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
using UniqueRegKey = UniqueHandle<HKEY, RegKeyTraits>;

constexpr wchar_t kSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// DefaultConnectionSettings: version, change counter, flags, then the proxy,
// bypass and auto-configuration texts, each after its length, then the
// detection state, left empty.
constexpr DWORD kSettingsVersion = 0x46;
constexpr DWORD kDirect = 1, kFixedProxy = 2;
constexpr size_t kDetectionState = 32;

// The one instance whose settings are changed, for the console handler.
SlimLock g_lock;
UserProxy* g_active = nullptr;

struct Value {
  bool exists = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

Value Read(const wchar_t* key_path, const wchar_t* name) {
  Value value;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
  value.data.resize(size);
  if (RegQueryValueExW(key.get(), name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS) return {};
  value.data.resize(size);
  value.exists = true;
  return value;
}

void Append32(std::vector<BYTE>& out, DWORD value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

void AppendText(std::vector<BYTE>& out, const std::wstring& text) {
  Append32(out, static_cast<DWORD>(text.size()));
  for (wchar_t c : text) out.push_back(static_cast<BYTE>(c));  // addresses are ASCII
}

std::vector<BYTE> ConnectionSettings(DWORD counter, const std::wstring& proxy, const std::wstring& bypass) {
  std::vector<BYTE> out;
  Append32(out, kSettingsVersion);
  Append32(out, counter);
  Append32(out, kDirect | kFixedProxy);
  AppendText(out, proxy);
  AppendText(out, bypass);
  AppendText(out, L"");
  out.resize(out.size() + kDetectionState, 0);
  return out;
}

// Programs that read the settings once and keep them (WinINet's users) are
// told to read them again.
void AnnounceChange() {
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

BOOL WINAPI OnConsoleClose(DWORD) {
  RestoreChangedUserProxy();
  return FALSE;  // and then end as the console asked
}

}  // namespace

void RestoreChangedUserProxy() {
  UserProxy* active = nullptr;
  {
    std::lock_guard<SlimLock> hold(g_lock);
    active = g_active;
  }
  if (active) active->Restore();
}

void UserProxy::Save(const wchar_t* key, const wchar_t* name) {
  const Value now = Read(key, name);
  saved_.push_back({key, name, now.exists, now.type, now.data});
}

bool UserProxy::Write(const wchar_t* key_path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  UniqueRegKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), &disposition) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (disposition == REG_CREATED_NEW_KEY && lstrcmpW(key_path, kConnections) == 0) made_connections_key_ = true;
  return RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool UserProxy::Set(const std::wstring& proxy, const std::wstring& bypass, std::string& error) {
  {
    std::lock_guard<SlimLock> hold(g_lock);
    if (g_active || !saved_.empty()) {
      error = "the proxy settings are already changed";
      return false;
    }
    g_active = this;
    SetConsoleCtrlHandler(OnConsoleClose, TRUE);
    Save(kSettings, L"ProxyEnable");
    Save(kSettings, L"ProxyServer");
    Save(kSettings, L"ProxyOverride");
    Save(kConnections, L"DefaultConnectionSettings");
  }
  // Windows counts changes in the value; a reader may keep an older copy
  // whose count is not lower.
  const Value old = Read(kConnections, L"DefaultConnectionSettings");
  DWORD counter = 1;
  if (old.exists && old.data.size() >= 8) {
    counter = (old.data[4] | old.data[5] << 8 | old.data[6] << 16 | static_cast<DWORD>(old.data[7]) << 24) + 1;
  }
  const std::vector<BYTE> blob = ConnectionSettings(counter, proxy, bypass);
  const DWORD enable = 1;
  const auto text_size = [](const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); };
  const bool written = Write(kSettings, L"ProxyEnable", REG_DWORD, &enable, sizeof(enable)) &&
                       Write(kSettings, L"ProxyServer", REG_SZ, proxy.c_str(), text_size(proxy)) &&
                       Write(kSettings, L"ProxyOverride", REG_SZ, bypass.c_str(), text_size(bypass)) &&
                       Write(kConnections, L"DefaultConnectionSettings", REG_BINARY, blob.data(),
                             static_cast<DWORD>(blob.size()));
  AnnounceChange();
  if (!written) {
    error = "the user's proxy settings could not be written (error " + std::to_string(GetLastError()) + ")";
    Restore();
    return false;
  }
  return true;
}

bool UserProxy::Restore() {
  std::lock_guard<SlimLock> hold(g_lock);
  if (saved_.empty()) return true;
  for (const Saved& s : saved_) {
    if (s.existed) {
      Write(s.key, s.name, s.type, s.data.data(), static_cast<DWORD>(s.data.size()));
    } else {
      UniqueRegKey key;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, s.key, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(key.get(), s.name);
      }
    }
  }
  // Now empty again: it was made for the scenario.
  if (made_connections_key_) RegDeleteKeyW(HKEY_CURRENT_USER, kConnections);
  made_connections_key_ = false;
  // Judged by reading back, apart from the writing: whatever went wrong.
  bool same = true;
  for (const Saved& s : saved_) {
    const Value now = Read(s.key, s.name);
    same = same && now.exists == s.existed && (!s.existed || (now.type == s.type && now.data == s.data));
  }
  saved_.clear();
  g_active = nullptr;
  SetConsoleCtrlHandler(OnConsoleClose, FALSE);
  AnnounceChange();
  return same;
}

}  // namespace kestrelume::kit
