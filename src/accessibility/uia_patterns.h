#pragma once
// UI Automation identifiers and the two pattern interfaces the window's
// elements offer (values from the Windows SDK's UIAutomationClient.h and
// UIAutomationCore.idl). mingw-w64 declares the interfaces from version 12 on;
// older headers leave them out, and the guards the headers define say which.

#include <windows.h>
#include <ole2.h>
#include <uiautomationcore.h>

namespace kestrelume::uia {

inline constexpr PATTERNID kInvokePattern = 10000;
inline constexpr PATTERNID kRangeValuePattern = 10003;
inline constexpr EVENTID kFocusChangedEvent = 20005;
inline constexpr EVENTID kLiveRegionChangedEvent = 20024;
inline constexpr PROPERTYID kControlTypeProperty = 30003;
inline constexpr PROPERTYID kNameProperty = 30005;
inline constexpr PROPERTYID kHasKeyboardFocusProperty = 30008;
inline constexpr PROPERTYID kIsKeyboardFocusableProperty = 30009;
inline constexpr PROPERTYID kIsEnabledProperty = 30010;
inline constexpr PROPERTYID kAutomationIdProperty = 30011;
inline constexpr PROPERTYID kRangeValueValueProperty = 30047;
inline constexpr PROPERTYID kLiveSettingProperty = 30135;
inline constexpr int kButtonControl = 50000;
inline constexpr int kHyperlinkControl = 50005;
inline constexpr int kProgressBarControl = 50012;
inline constexpr int kTextControl = 50020;
inline constexpr int kAssertive = 2;  // LiveSetting
inline constexpr HRESULT kElementNotAvailable = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT kInvalidOperation = static_cast<HRESULT>(0x80131509);

}  // namespace kestrelume::uia

#ifndef __IInvokeProvider_INTERFACE_DEFINED__
MIDL_INTERFACE("54fcb24b-e18e-47a2-b4d3-eccbe77599a2")
IInvokeProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
__CRT_UUID_DECL(IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2)
#endif

#ifndef __IRangeValueProvider_INTERFACE_DEFINED__
MIDL_INTERFACE("36dc7aef-33e6-4691-afe1-2be7274b3d33")
IRangeValueProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetValue(double value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Value(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* read_only) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Maximum(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Minimum(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) = 0;
};
__CRT_UUID_DECL(IRangeValueProvider, 0x36dc7aef, 0x33e6, 0x4691, 0xaf, 0xe1, 0x2b, 0xe7, 0x27, 0x4b, 0x3d, 0x33)
#endif
