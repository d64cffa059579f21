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
#include <uiautomationcore.h>

#include <cstdio>
#include <string>

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

VARIANT Child(LONG id) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::wstring Take(BSTR text) {
  std::wstring s = text ? text : L"";
  SysFreeString(text);
  return s;
}

void Tree() {
  std::wstring line = L"tree";
  if (IAccessible* client = Client()) {
    LONG count = 0;
    client->get_accChildCount(&count);
    for (LONG i = 1; i <= count; ++i) {
      BSTR name = nullptr, value = nullptr;
      VARIANT role{}, state{};
      client->get_accName(Child(i), &name);
      client->get_accValue(Child(i), &value);
      client->get_accRole(Child(i), &role);
      client->get_accState(Child(i), &state);
      line += L" | " + std::to_wstring(role.lVal) + L" " + Take(name);
      if (value) line += L" = " + Take(value);
      line += L" [" + std::to_wstring(state.lVal) + L"]";
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
      client->get_accName(Child(i), &name);
      if (Take(name) == wanted) {
        result = client->accDoDefaultAction(Child(i));
        break;
      }
    }
    client->Release();
  }
  wchar_t line[32];
  swprintf(line, 32, L"do 0x%08lX", static_cast<unsigned long>(result));
  Print(line);
}

// The flat UI Automation client calls, which are what Wine 8 offers.
DECLARE_HANDLE(HUIANODE);
struct UiaCondition { int type; };  // 0: ConditionType_True
struct UiaCacheRequest {
  UiaCondition* view;
  int scope;  // TreeScope_Element
  PROPERTYID* properties;
  int property_count;
  PATTERNID* patterns;
  int pattern_count;
  int mode;  // AutomationElementMode_Full
};
using NodeFromHandle = HRESULT(WINAPI*)(HWND, HUIANODE*);
using GetPropertyValue = HRESULT(WINAPI*)(HUIANODE, PROPERTYID, VARIANT*);
using Navigate = HRESULT(WINAPI*)(HUIANODE, int, UiaCondition*, UiaCacheRequest*, SAFEARRAY**, BSTR*);
using NodeFromVariant = HRESULT(WINAPI*)(VARIANT*, HUIANODE*);
using NodeRelease = BOOL(WINAPI*)(HUIANODE);

void Uia() {
  HMODULE core = LoadLibraryW(L"uiautomationcore.dll");
  auto from_handle = reinterpret_cast<NodeFromHandle>(GetProcAddress(core, "UiaNodeFromHandle"));
  auto property = reinterpret_cast<GetPropertyValue>(GetProcAddress(core, "UiaGetPropertyValue"));
  auto navigate = reinterpret_cast<Navigate>(GetProcAddress(core, "UiaNavigate"));
  auto from_variant = reinterpret_cast<NodeFromVariant>(GetProcAddress(core, "UiaHUiaNodeFromVariant"));
  auto release = reinterpret_cast<NodeRelease>(GetProcAddress(core, "UiaNodeRelease"));
  std::wstring line = L"uia";
  HUIANODE node = nullptr;
  if (from_handle && property && navigate && from_variant && release &&
      SUCCEEDED(from_handle(target, &node))) {
    UiaCondition all{0};
    UiaCacheRequest request{&all, 1, nullptr, 0, nullptr, 0, 1};
    int direction = 3;  // NavigateDirection_FirstChild, then NextSibling
    for (int guard = 0; guard < 20 && node; ++guard) {
      SAFEARRAY* data = nullptr;
      BSTR structure = nullptr;
      HUIANODE next = nullptr;
      if (SUCCEEDED(navigate(node, direction, &all, &request, &data, &structure)) && data) {
        LONG at[2] = {0, 0};
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(SafeArrayGetElement(data, at, &v))) from_variant(&v, &next);
        VariantClear(&v);
        SafeArrayDestroy(data);
      }
      SysFreeString(structure);
      release(node);
      node = next;
      direction = 1;
      if (!node) break;
      VARIANT name, type, live;
      VariantInit(&name);
      VariantInit(&type);
      VariantInit(&live);
      property(node, 30005, &name);
      property(node, 30003, &type);
      property(node, 30135, &live);
      line += L" | " + std::wstring(name.vt == VT_BSTR ? name.bstrVal : L"?") + L" : " +
              std::to_wstring(type.vt == VT_I4 ? type.lVal : -1) + L" : " +
              std::to_wstring(live.vt == VT_I4 ? live.lVal : -1);
      VariantClear(&name);
    }
    if (node) release(node);
  }
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
