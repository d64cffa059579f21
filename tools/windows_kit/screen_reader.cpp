#include "tools/windows_kit/screen_reader.h"

#include <oleacc.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace kestrelume::kit {
namespace {

VARIANT Child(long id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::wstring Take(BSTR text) {
  std::wstring s = text ? text : L"";
  SysFreeString(text);
  return s;
}

ComPtr<IAccessible> Client(HWND window) {
  ComPtr<IAccessible> client;
  AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                             reinterpret_cast<void**>(client.GetAddressOf()));
  return client;
}

// The flat UI Automation client calls; declared here because the platform
// headers of some toolchains cannot be compiled as C++.
DECLARE_HANDLE(HUIANODE);
DECLARE_HANDLE(HUIAPATTERNOBJECT);
struct UiaCondition {
  int type;  // ConditionType_True
};
struct UiaCacheRequest {
  UiaCondition* view;
  int scope;
  int* properties;
  int property_count;
  int* patterns;
  int pattern_count;
  int mode;
};

constexpr int kNameProperty = 30005, kControlTypeProperty = 30003, kInvokeAvailableProperty = 30031,
              kRangeValueAvailableProperty = 30033, kRangeValueValueProperty = 30047;
constexpr int kInvokePattern = 10000;

struct FlatUia {
  using NodeFromHandle = HRESULT(WINAPI*)(HWND, HUIANODE*);
  using GetPropertyValue = HRESULT(WINAPI*)(HUIANODE, int, VARIANT*);
  using Navigate = HRESULT(WINAPI*)(HUIANODE, int, UiaCondition*, UiaCacheRequest*, SAFEARRAY**, BSTR*);
  using NodeFromVariant = HRESULT(WINAPI*)(VARIANT*, HUIANODE*);
  using NodeRelease = BOOL(WINAPI*)(HUIANODE);
  using GetPatternProvider = HRESULT(WINAPI*)(HUIANODE, int, HUIAPATTERNOBJECT*);
  using Invoke = HRESULT(WINAPI*)(HUIAPATTERNOBJECT);
  using PatternRelease = BOOL(WINAPI*)(HUIAPATTERNOBJECT);

  FlatUia() {
    HMODULE core = LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!core) return;
    from_handle = reinterpret_cast<NodeFromHandle>(reinterpret_cast<void*>(GetProcAddress(core, "UiaNodeFromHandle")));
    property = reinterpret_cast<GetPropertyValue>(reinterpret_cast<void*>(GetProcAddress(core, "UiaGetPropertyValue")));
    navigate = reinterpret_cast<Navigate>(reinterpret_cast<void*>(GetProcAddress(core, "UiaNavigate")));
    from_variant = reinterpret_cast<NodeFromVariant>(reinterpret_cast<void*>(GetProcAddress(core, "UiaHUiaNodeFromVariant")));
    release = reinterpret_cast<NodeRelease>(reinterpret_cast<void*>(GetProcAddress(core, "UiaNodeRelease")));
    pattern = reinterpret_cast<GetPatternProvider>(reinterpret_cast<void*>(GetProcAddress(core, "UiaGetPatternProvider")));
    invoke = reinterpret_cast<Invoke>(reinterpret_cast<void*>(GetProcAddress(core, "UiaInvokePattern_Invoke")));
    pattern_release = reinterpret_cast<PatternRelease>(reinterpret_cast<void*>(GetProcAddress(core, "UiaPatternRelease")));
  }
  bool usable() const { return from_handle && property && navigate && from_variant && release; }

  // Calls `visit(node)` for each child of the window's element, in order;
  // stops when it returns false.
  template <typename Visit>
  bool ForEachChild(HWND window, Visit visit) const {
    HUIANODE node = nullptr;
    if (!usable() || FAILED(from_handle(window, &node)) || !node) return false;
    UiaCondition all{0};
    UiaCacheRequest request{&all, 1, nullptr, 0, nullptr, 0, 1};
    int direction = 3;  // first child, then next sibling
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
      if (node && !visit(node)) break;
    }
    if (node) release(node);
    return true;
  }

  VARIANT Property(HUIANODE node, int id) const {
    VARIANT v;
    VariantInit(&v);
    property(node, id, &v);
    return v;
  }

  NodeFromHandle from_handle = nullptr;
  GetPropertyValue property = nullptr;
  Navigate navigate = nullptr;
  NodeFromVariant from_variant = nullptr;
  NodeRelease release = nullptr;
  GetPatternProvider pattern = nullptr;
  Invoke invoke = nullptr;
  PatternRelease pattern_release = nullptr;
};

std::wstring NameOf(const FlatUia& uia, HUIANODE node) {
  VARIANT name = uia.Property(node, kNameProperty);
  std::wstring text = name.vt == VT_BSTR && name.bstrVal ? name.bstrVal : L"";
  VariantClear(&name);
  return text;
}

bool BoolOf(const FlatUia& uia, HUIANODE node, int id) {
  VARIANT v = uia.Property(node, id);
  const bool yes = v.vt == VT_BOOL && v.boolVal != VARIANT_FALSE;
  VariantClear(&v);
  return yes;
}

}  // namespace

std::vector<MsaaItem> MsaaChildren(HWND window) {
  std::vector<MsaaItem> items;
  ComPtr<IAccessible> client = Client(window);
  if (!client) return items;
  long count = 0;
  client->get_accChildCount(&count);
  for (long i = 1; i <= count && i < 32; ++i) {
    MsaaItem item;
    BSTR name = nullptr, value = nullptr;
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    client->get_accName(Child(i), &name);
    client->get_accValue(Child(i), &value);
    client->get_accRole(Child(i), &role);
    client->get_accState(Child(i), &state);
    item.name = Take(name);
    item.value = Take(value);
    item.role = role.vt == VT_I4 ? role.lVal : 0;
    item.state = state.vt == VT_I4 ? state.lVal : 0;
    items.push_back(item);
  }
  return items;
}

long MsaaFocus(HWND window) {
  ComPtr<IAccessible> client = Client(window);
  if (!client) return -1;
  VARIANT focus;
  VariantInit(&focus);
  if (client->get_accFocus(&focus) == S_OK && focus.vt == VT_I4) return focus.lVal;
  VariantClear(&focus);
  return -1;
}

UiaView UiaChildren(HWND window) {
  static const FlatUia uia;
  UiaView view;
  view.reached = uia.ForEachChild(window, [&](HUIANODE node) {
    UiaItem item;
    item.name = NameOf(uia, node);
    VARIANT type = uia.Property(node, kControlTypeProperty);
    item.control_type = type.vt == VT_I4 ? type.lVal : 0;
    item.invoke = BoolOf(uia, node, kInvokeAvailableProperty);
    item.range_value = BoolOf(uia, node, kRangeValueAvailableProperty);
    VARIANT value = uia.Property(node, kRangeValueValueProperty);
    if (value.vt == VT_R8) item.value = value.dblVal;
    VariantClear(&value);
    view.items.push_back(item);
    return true;
  });
  return view;
}

UiaInvokeResult UiaInvoke(HWND window, const std::wstring& name) {
  static const FlatUia uia;
  UiaInvokeResult outcome;
  if (!uia.pattern || !uia.invoke || !uia.pattern_release) return outcome;
  uia.ForEachChild(window, [&](HUIANODE node) {
    if (NameOf(uia, node) != name) return true;
    HUIAPATTERNOBJECT pattern = nullptr;
    const HRESULT asked = uia.pattern(node, kInvokePattern, &pattern);
    // Wine's stub answers E_NOTIMPL: nothing to judge there.
    outcome.available = asked != E_NOTIMPL;
    outcome.result = asked;
    if (SUCCEEDED(asked) && pattern) {
      outcome.result = uia.invoke(pattern);
      uia.pattern_release(pattern);
    }
    return false;
  });
  return outcome;
}

}  // namespace kestrelume::kit
