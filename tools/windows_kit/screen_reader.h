#pragma once
// What a screen reader gets from the installer's window, read from this
// (another) process: the MSAA children of its client area and the UI
// Automation elements below its window, through the flat UI Automation client
// functions of uiautomationcore.dll (present on Windows 7 to 11; Wine 8 has
// the navigation but no pattern providers, which these calls report as
// `available` false). Runner main thread, inside a COM apartment.

#include <windows.h>

#include <string>
#include <vector>

namespace kestrelume::kit {

struct MsaaItem {
  long role = 0;
  std::wstring name;
  std::wstring value;
  long state = 0;
};

std::vector<MsaaItem> MsaaChildren(HWND window);
// The MSAA child id that has the keyboard focus (0: the client area, -1 none).
long MsaaFocus(HWND window);

struct UiaItem {
  std::wstring name;
  long control_type = 0;
  bool invoke = false;       // IsInvokePatternAvailable
  bool range_value = false;  // IsRangeValuePatternAvailable
  double value = -1;         // RangeValue.Value, when it has one
};

struct UiaView {
  bool reached = false;  // the window's UI Automation element was had
  std::vector<UiaItem> items;
};

UiaView UiaChildren(HWND window);

struct UiaInvokeResult {
  bool available = false;  // the Invoke pattern provider could be asked for
  HRESULT result = E_FAIL;
};
// Invokes the element named `name` through its Invoke pattern.
UiaInvokeResult UiaInvoke(HWND window, const std::wstring& name);

}  // namespace kestrelume::kit
