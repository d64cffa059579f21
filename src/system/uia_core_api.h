#pragma once
// The few UI Automation core functions the window's provider calls. The SDK
// declares them in uiautomationcoreapi.h, which mingw-w64 ships in a form
// that does not compile as C++ (a parameter named `new`) and without an
// import library; they are declared here and resolved at run time.

#include <windows.h>
#include <ole2.h>
#include <uiautomationcore.h>

namespace kestrelume::uia {

inline constexpr LONG kRootObjectId = -25;  // UiaRootObjectId
inline constexpr int kAppendRuntimeId = 3;  // UiaAppendRuntimeId

using ReturnRawElementProvider = LRESULT(WINAPI*)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*);
using HostProviderFromHwnd = HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**);
using RaiseAutomationEvent = HRESULT(WINAPI*)(IRawElementProviderSimple*, EVENTID);
using RaiseAutomationPropertyChangedEvent = HRESULT(WINAPI*)(IRawElementProviderSimple*, PROPERTYID,
                                                             VARIANT, VARIANT);
inline constexpr int kChildrenInvalidated = 2;  // StructureChangeType_ChildrenInvalidated
using RaiseStructureChangedEvent = HRESULT(WINAPI*)(IRawElementProviderSimple*, int, int*, int);
using ClientsAreListening = BOOL(WINAPI*)();

}  // namespace kestrelume::uia
