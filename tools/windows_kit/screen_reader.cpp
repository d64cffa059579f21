#include "tools/windows_kit/screen_reader.h"

#include <oleacc.h>
#include <wrl/client.h>

#include "tools/windows_kit/assistive_client.h"

using Microsoft::WRL::ComPtr;

namespace kestrelume::kit {
namespace {

ComPtr<IAccessible> Client(HWND window) {
  ComPtr<IAccessible> client;
  AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                             reinterpret_cast<void**>(client.GetAddressOf()));
  return client;
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
    client->get_accName(MsaaChild(i), &name);
    client->get_accValue(MsaaChild(i), &value);
    client->get_accRole(MsaaChild(i), &role);
    client->get_accState(MsaaChild(i), &state);
    item.name = TakeText(name);
    item.value = TakeText(value);
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
    item.name = uia.Name(node);
    Variant type, invoke, range_value, value;
    uia.Property(node, kUiaControlTypeProperty, type);
    uia.Property(node, kUiaInvokeAvailableProperty, invoke);
    uia.Property(node, kUiaRangeValueAvailableProperty, range_value);
    uia.Property(node, kUiaRangeValueValueProperty, value);
    item.control_type = type.Long(0);
    item.invoke = invoke.Bool();
    item.range_value = range_value.Bool();
    item.value = value.Double(item.value);
    view.items.push_back(item);
    return true;
  });
  return view;
}

UiaInvokeResult UiaInvoke(HWND window, const std::wstring& name) {
  static const FlatUia uia;
  UiaInvokeResult outcome;
  if (!uia.can_invoke()) return outcome;
  uia.ForEachChild(window, [&](HUIANODE node) {
    if (uia.Name(node) != name) return true;
    outcome.result = uia.Invoke(node);
    // Wine's stub answers E_NOTIMPL: nothing to judge there.
    outcome.available = outcome.result != E_NOTIMPL;
    return false;
  });
  return outcome;
}

}  // namespace kestrelume::kit
