// The window as a UI Automation fragment root with one fragment per
// accessible element. The root's own properties (name, control type,
// bounds) come from the window's host provider.
//
// No ProviderOptions_UseComThreading: UI Automation then calls these objects
// from its own threads, which they allow (they read a locked copy and only
// post to the window). Wine 8's UiaNavigate also hangs on providers that ask
// for COM threading.

#include "accessibility/accessibility.h"
#include "accessibility/uia_patterns.h"
#include "base/decimal_text.h"
#include "system/system_functions.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;

HRESULT Fragment(AccessibleWindow* state, uint32_t generation, int index,
                 IRawElementProviderFragment** out) {
  ComPtr<IRawElementProviderSimple> simple = MakeUiaElement(state, generation, index);
  return simple.CopyTo(out);
}

int ControlTypeOf(ElementRole role) {
  switch (role) {
    case ElementRole::Text:
      return uia::kTextControl;
    case ElementRole::Progress:
      return uia::kProgressBarControl;
    case ElementRole::Button:
      return uia::kButtonControl;
    case ElementRole::Link:
      return uia::kHyperlinkControl;
  }
  return uia::kTextControl;
}

void SetInt(VARIANT* out, int value) {
  out->vt = VT_I4;
  out->lVal = value;
}

void SetBool(VARIANT* out, bool value) {
  out->vt = VT_BOOL;
  out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

HRESULT SetText(VARIANT* out, const std::wstring& text) {
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocString(text.c_str());
  return out->bstrVal ? S_OK : E_OUTOFMEMORY;
}

class UiaRootProvider final : public IRawElementProviderSimple,
                              public IRawElementProviderFragment,
                              public IRawElementProviderFragmentRoot,
                              public ComObject {
 public:
  explicit UiaRootProvider(AccessibleWindow* state) : state_(state) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IRawElementProviderSimple)) {
      *out = static_cast<IRawElementProviderSimple*>(this);
    } else if (riid == __uuidof(IRawElementProviderFragment)) {
      *out = static_cast<IRawElementProviderFragment*>(this);
    } else if (riid == __uuidof(IRawElementProviderFragmentRoot)) {
      *out = static_cast<IRawElementProviderFragmentRoot*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return Drop(this); }

  // IRawElementProviderSimple
  HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
    if (!out) return E_POINTER;
    *out = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);  // the host provider answers for the window
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.window) return uia::kElementNotAvailable;
    return System().UiaHostProviderFromHwnd(view.window, out);
  }

  // IRawElementProviderFragment
  HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                     IRawElementProviderFragment** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.window) return uia::kElementNotAvailable;
    const int count = static_cast<int>(view.elements.size());
    if (count == 0) return S_OK;
    if (direction == NavigateDirection_FirstChild) return Fragment(state_.Get(), view.generation, 0, out);
    if (direction == NavigateDirection_LastChild) {
      return Fragment(state_.Get(), view.generation, count - 1, out);
    }
    return S_OK;  // the host provider links the window to its parent and siblings
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;  // the host provider's
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
    if (!out) return E_POINTER;
    *out = UiaRect{};  // the host provider's
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFocus() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
    if (!out) return E_POINTER;
    *out = static_cast<IRawElementProviderFragmentRoot*>(this);
    AddRef();
    return S_OK;
  }

  // IRawElementProviderFragmentRoot
  HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y,
                                                     IRawElementProviderFragment** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.window) return uia::kElementNotAvailable;
    const int index = view.ElementAt({static_cast<LONG>(x), static_cast<LONG>(y)});
    return index < 0 ? S_OK : Fragment(state_.Get(), view.generation, index, out);
  }
  HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.Holds(view.generation, view.focus)) return S_OK;
    return Fragment(state_.Get(), view.generation, view.focus, out);
  }

 private:
  ComPtr<AccessibleWindow> state_;
};

class UiaElementProvider final : public IRawElementProviderSimple,
                                 public IRawElementProviderFragment,
                                 public IInvokeProvider,
                                 public IRangeValueProvider,
                                 public ComObject {
 public:
  UiaElementProvider(AccessibleWindow* state, uint32_t generation, int index)
      : state_(state), generation_(generation), index_(index) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IRawElementProviderSimple)) {
      *out = static_cast<IRawElementProviderSimple*>(this);
    } else if (riid == __uuidof(IRawElementProviderFragment)) {
      *out = static_cast<IRawElementProviderFragment*>(this);
    } else if (riid == __uuidof(IInvokeProvider) && Offers(uia::kInvokePattern)) {
      *out = static_cast<IInvokeProvider*>(this);
    } else if (riid == __uuidof(IRangeValueProvider) && Offers(uia::kRangeValuePattern)) {
      *out = static_cast<IRangeValueProvider*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return Drop(this); }

  // IRawElementProviderSimple
  HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
    if (!out) return E_POINTER;
    *out = ProviderOptions_ServerSideProvider;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Offers(pattern)) return S_OK;
    if (pattern == uia::kInvokePattern) {
      *out = static_cast<IInvokeProvider*>(this);
    } else {
      *out = static_cast<IRangeValueProvider*>(this);
    }
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    const AccessibleElement& e = view.elements[index_];
    switch (property) {
      case uia::kNameProperty:
        return SetText(out, e.name);
      case uia::kControlTypeProperty:
        SetInt(out, ControlTypeOf(e.role));
        break;
      case uia::kAutomationIdProperty:
        return SetText(out, L"element-" + DecimalText(static_cast<uint64_t>(index_)));
      case uia::kIsKeyboardFocusableProperty:
        SetBool(out, IsClickable(e));
        break;
      case uia::kHasKeyboardFocusProperty:
        SetBool(out, view.focus == index_ && GetForegroundWindow() == view.window);
        break;
      case uia::kIsEnabledProperty:
        SetBool(out, true);
        break;
      case uia::kLiveSettingProperty:
        if (e.live) SetInt(out, uia::kAssertive);
        break;
      case uia::kRangeValueValueProperty:
        if (e.role == ElementRole::Progress) {
          out->vt = VT_R8;
          out->dblVal = e.percent;
        }
        break;
      default:
        break;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
  }

  // IRawElementProviderFragment
  HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                     IRawElementProviderFragment** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    int to = -1;
    switch (direction) {
      case NavigateDirection_Parent: {
        ComPtr<IRawElementProviderSimple> root = state_->UiaRoot();
        return root ? root->QueryInterface(__uuidof(IRawElementProviderFragment),
                                           reinterpret_cast<void**>(out))
                    : S_OK;
      }
      case NavigateDirection_NextSibling:
        to = index_ + 1;
        break;
      case NavigateDirection_PreviousSibling:
        to = index_ - 1;
        break;
      default:
        return S_OK;  // elements have no children
    }
    return view.Holds(generation_, to) ? Fragment(state_.Get(), generation_, to, out) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
    if (!out) return E_POINTER;
    // Unique within the window: a new screen makes new elements.
    const int parts[] = {uia::kAppendRuntimeId, static_cast<int>(generation_ * 64 + index_)};
    *out = SafeArrayCreateVector(VT_I4, 0, 2);
    if (!*out) return E_OUTOFMEMORY;
    for (LONG i = 0; i < 2; ++i) SafeArrayPutElement(*out, &i, const_cast<int*>(&parts[i]));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
    if (!out) return E_POINTER;
    *out = UiaRect{};
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    const RECT r = view.ScreenRect(view.elements[index_].box);
    *out = UiaRect{static_cast<double>(r.left), static_cast<double>(r.top),
                   static_cast<double>(r.right - r.left), static_cast<double>(r.bottom - r.top)};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFocus() override {
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    if (!IsClickable(view.elements[index_])) return uia::kInvalidOperation;
    PostMessageW(view.window, WM_APP_FOCUS, static_cast<WPARAM>(index_), generation_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IRawElementProviderSimple> root = state_->UiaRoot();
    return root ? root->QueryInterface(__uuidof(IRawElementProviderFragmentRoot),
                                       reinterpret_cast<void**>(out))
                : uia::kElementNotAvailable;
  }

  // IInvokeProvider: posts the action; the window runs it after this returns.
  HRESULT STDMETHODCALLTYPE Invoke() override {
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    PostMessageW(view.window, WM_APP_INVOKE, static_cast<WPARAM>(view.elements[index_].action), 0);
    return S_OK;
  }

  // IRangeValueProvider: read-only, 0 to 100.
  HRESULT STDMETHODCALLTYPE SetValue(double) override { return uia::kInvalidOperation; }
  HRESULT STDMETHODCALLTYPE get_Value(double* out) override {
    if (!out) return E_POINTER;
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return uia::kElementNotAvailable;
    *out = view.elements[index_].percent;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* out) override { return Put(out, TRUE); }
  HRESULT STDMETHODCALLTYPE get_Maximum(double* out) override { return Put(out, 100.0); }
  HRESULT STDMETHODCALLTYPE get_Minimum(double* out) override { return Put(out, 0.0); }
  HRESULT STDMETHODCALLTYPE get_LargeChange(double* out) override { return Put(out, 0.0); }
  HRESULT STDMETHODCALLTYPE get_SmallChange(double* out) override { return Put(out, 0.0); }

 private:
  template <typename T>
  static HRESULT Put(T* out, T value) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  bool Offers(PATTERNID pattern) const {
    const AccessibleView view = state_->View();
    if (!view.Holds(generation_, index_)) return false;
    const AccessibleElement& e = view.elements[index_];
    if (pattern == uia::kInvokePattern) return IsClickable(e);
    return pattern == uia::kRangeValuePattern && e.role == ElementRole::Progress;
  }

  ComPtr<AccessibleWindow> state_;
  const uint32_t generation_;
  const int index_;
};

VARIANT TextVariant(const std::wstring& text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text.c_str());
  return v;
}

VARIANT NumberVariant(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

}  // namespace

ComPtr<IRawElementProviderSimple> MakeUiaRoot(AccessibleWindow* state) {
  ComPtr<IRawElementProviderSimple> root;
  root.Attach(static_cast<IRawElementProviderSimple*>(new UiaRootProvider(state)));
  return root;
}

ComPtr<IRawElementProviderSimple> MakeUiaElement(AccessibleWindow* state, uint32_t generation,
                                                 int index) {
  ComPtr<IRawElementProviderSimple> element;
  element.Attach(static_cast<IRawElementProviderSimple*>(new UiaElementProvider(state, generation, index)));
  return element;
}

void RaiseUiaEvents(AccessibleWindow* state, const AccessibleView& before, const AccessibleView& after,
                    bool new_screen) {
  const SystemFunctions& system = System();
  if (!system.Has(SystemLibrary::UiaCore) || !system.UiaClientsAreListening()) return;
  ComPtr<IRawElementProviderSimple> root = state->UiaRoot();
  if (!root) return;
  const auto element = [&](int index) { return MakeUiaElement(state, after.generation, index); };
  if (new_screen) {
    int runtime_id[] = {uia::kAppendRuntimeId, 0};
    system.UiaRaiseStructureChangedEvent(root.Get(), uia::kChildrenInvalidated, runtime_id, 2);
    for (int i = 0; i < static_cast<int>(after.elements.size()); ++i) {
      if (after.elements[i].live) system.UiaRaiseAutomationEvent(element(i).Get(), uia::kLiveRegionChangedEvent);
    }
  } else {
    for (int i = 0; i < static_cast<int>(after.elements.size()); ++i) {
      const AccessibleElement& now = after.elements[i];
      const AccessibleElement& was = before.elements[i];
      if (now.role == ElementRole::Progress && now.percent != was.percent) {
        system.UiaRaiseAutomationPropertyChangedEvent(element(i).Get(), uia::kRangeValueValueProperty,
                                                      NumberVariant(was.percent), NumberVariant(now.percent));
        // The title carries the same percentage; the detail line is left
        // quiet, or every chunk would speak.
        VARIANT old_name = TextVariant(before.elements[0].name);
        VARIANT new_name = TextVariant(after.elements[0].name);
        system.UiaRaiseAutomationPropertyChangedEvent(element(0).Get(), uia::kNameProperty, old_name,
                                                      new_name);
        VariantClear(&old_name);
        VariantClear(&new_name);
      }
    }
  }
  if (after.focus >= 0 && after.focus != before.focus) {
    system.UiaRaiseAutomationEvent(element(after.focus).Get(), uia::kFocusChangedEvent);
  }
}

}  // namespace kestrelume
