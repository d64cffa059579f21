// An assistive-technology stand-in for the end-to-end tests: finds the
// installer's window and answers one command per line from stdin with one
// line on stdout, while printing the window's WinEvents as they arrive.
//
//   tree            "tree" then, per MSAA child: " | role name = value [state]"
//   focus           "focus N" (MSAA child id with focus; -1 none, 0 the client)
//   do NAME         accDoDefaultAction on the child named NAME: "do HRESULT"
//   uia             "uia" then, per UI Automation child: " | name : control type : live setting"
//   quit
// Events: "event 0xEVENT CHILD".

#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>

#include "tools/windows_kit/assistive_client.h"

using namespace kestrelume::kit;

namespace {

constexpr UINT kCommand = WM_APP + 1;
HWND target = nullptr;

std::wstring Utf16(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(),
                               static_cast<int>(w.size())));
  return w;
}

void Print(const std::wstring& line) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, out.data(), n, nullptr, nullptr);
  std::printf("%s\n", out.c_str());
  std::fflush(stdout);
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (window != target || object != OBJID_CLIENT) return;
  wchar_t line[64];
  swprintf(line, 64, L"event 0x%04lX %ld", event, child);
  Print(line);
}

IAccessible* Client() {
  IAccessible* client = nullptr;
  AccessibleObjectFromWindow(target, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&client));
  return client;
}

// One reading of the children, taken again when their number changed while
// it was read: a screen that changes between the count and the last child
// (checking to downloading adds the progress bar) would tear it.
void Tree() {
  std::wstring line = L"tree";
  if (IAccessible* client = Client()) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      line = L"tree";
      LONG count = 0;
      client->get_accChildCount(&count);
      for (LONG i = 1; i <= count; ++i) {
        BSTR name = nullptr, value = nullptr;
        VARIANT role{}, state{};
        client->get_accName(MsaaChild(i), &name);
        client->get_accValue(MsaaChild(i), &value);
        client->get_accRole(MsaaChild(i), &role);
        client->get_accState(MsaaChild(i), &state);
        line += L" | " + std::to_wstring(role.lVal) + L" " + TakeText(name);
        if (value) line += L" = " + TakeText(value);
        line += L" [" + std::to_wstring(state.lVal) + L"]";
      }
      LONG after = 0;
      client->get_accChildCount(&after);
      if (after == count) break;
    }
    client->Release();
  }
  Print(line);
}

void Focus() {
  LONG child = -1;
  if (IAccessible* client = Client()) {
    VARIANT focus{};
    if (client->get_accFocus(&focus) == S_OK && focus.vt == VT_I4) child = focus.lVal;
    client->Release();
  }
  Print(L"focus " + std::to_wstring(child));
}

void Do(const std::wstring& wanted) {
  HRESULT result = E_FAIL;
  if (IAccessible* client = Client()) {
    LONG count = 0;
    client->get_accChildCount(&count);
    for (LONG i = 1; i <= count; ++i) {
      BSTR name = nullptr;
      client->get_accName(MsaaChild(i), &name);
      if (TakeText(name) == wanted) {
        result = client->accDoDefaultAction(MsaaChild(i));
        break;
      }
    }
    client->Release();
  }
  wchar_t line[32];
  swprintf(line, 32, L"do 0x%08lX", static_cast<unsigned long>(result));
  Print(line);
}

void Uia() {
  static const FlatUia uia;
  std::wstring line = L"uia";
  uia.ForEachChild(target, [&](HUIANODE node) {
    Variant type, live;
    uia.Property(node, kUiaControlTypeProperty, type);
    uia.Property(node, kUiaLiveSettingProperty, live);
    line += L" | " + uia.Name(node) + L" : " + std::to_wstring(type.Long(-1)) + L" : " +
            std::to_wstring(live.Long(-1));
    return true;
  });
  Print(line);
}

DWORD WINAPI ReadCommands(void* main_thread) {
  char buffer[512];
  while (std::fgets(buffer, sizeof(buffer), stdin)) {
    std::string* line = new std::string(buffer);
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(main_thread)), kCommand, 0,
                       reinterpret_cast<LPARAM>(line));
  }
  PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(main_thread)), WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (int i = 0; i < 200 && !target; ++i) {
    target = FindWindowW(L"KestrelumeInstallerWindow", nullptr);
    if (!target) Sleep(50);
  }
  if (!target) return 1;
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, OnEvent, 0, 0,
                  WINEVENT_OUTOFCONTEXT);
  Print(L"ready");
  CloseHandle(CreateThread(nullptr, 0, ReadCommands,
                           reinterpret_cast<void*>(static_cast<UINT_PTR>(GetCurrentThreadId())), 0, nullptr));
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message != kCommand) {
      DispatchMessageW(&message);
      continue;
    }
    std::string* line = reinterpret_cast<std::string*>(message.lParam);
    const std::wstring command = Utf16(*line);
    delete line;
    if (command == L"tree") Tree();
    else if (command == L"focus") Focus();
    else if (command.rfind(L"do ", 0) == 0) Do(command.substr(3));
    else if (command == L"uia") Uia();
    else if (command == L"quit") break;
  }
  CoUninitialize();
  return 0;
}
