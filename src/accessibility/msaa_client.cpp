// The client area as an MSAA object with one simple child per accessible
// element (child id = index + 1), for the assistive tools that predate UI
// Automation.

#include "accessibility/accessibility.h"
#include "system/system_functions.h"

namespace kestrelume {
namespace {

using Microsoft::WRL::ComPtr;

HRESULT Text(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocString(text.c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Nothing(BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return S_FALSE;
}

void SetChild(VARIANT* out, LONG child) {
  out->vt = VT_I4;
  out->lVal = child;
}

LONG RoleOf(ElementRole role) {
  switch (role) {
    case ElementRole::Text:
      return ROLE_SYSTEM_STATICTEXT;
    case ElementRole::Progress:
      return ROLE_SYSTEM_PROGRESSBAR;
    case ElementRole::Button:
      return ROLE_SYSTEM_PUSHBUTTON;
    case ElementRole::Link:
      return ROLE_SYSTEM_LINK;
  }
  return ROLE_SYSTEM_STATICTEXT;
}

class MsaaClient final : public IAccessible, public ComObject {
 public:
  explicit MsaaClient(AccessibleWindow* state) : state_(state) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return Drop(this); }

  // No type library: clients call the IAccessible methods directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return count ? S_OK : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const AccessibleView view = state_->View();
    if (!view.window) return CO_E_OBJNOTCONNECTED;
    return System().AccessibleObjectFromWindow(view.window, static_cast<DWORD>(OBJID_WINDOW),
                                               __uuidof(IDispatch), reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* out) override {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(state_->View().elements.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    int index;
    const HRESULT found = Find(child, index);
    return FAILED(found) ? found : S_FALSE;  // children are simple elements
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    if (index >= 0) return Text(view.elements[index].name, out);
    wchar_t title[128];
    GetWindowTextW(view.window, title, 128);
    return Text(title, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    if (index < 0 || view.elements[index].role != ElementRole::Progress) return Nothing(out);
    return Text(PercentText(view.elements[index].percent), out);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* out) override { return Nothing(out); }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
    if (!out) return E_POINTER;
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    SetChild(out, index < 0 ? ROLE_SYSTEM_CLIENT : RoleOf(view.elements[index].role));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
    if (!out) return E_POINTER;
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    const bool window_focused = GetFocus() == view.window;
    LONG state = 0;
    if (index < 0) {
      state = STATE_SYSTEM_FOCUSABLE | (window_focused && view.focus < 0 ? STATE_SYSTEM_FOCUSED : 0);
    } else if (IsClickable(view.elements[index])) {
      state = STATE_SYSTEM_FOCUSABLE | (window_focused && view.focus == index ? STATE_SYSTEM_FOCUSED : 0);
      if (view.elements[index].role == ElementRole::Link) state |= STATE_SYSTEM_LINKED;
    } else {
      state = STATE_SYSTEM_READONLY;
    }
    SetChild(out, state);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return Nothing(out); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
    if (topic) *topic = 0;
    return Nothing(file);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override { return Nothing(out); }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
    if (!out) return E_POINTER;
    const AccessibleView view = state_->View();
    VariantInit(out);
    if (view.window && GetFocus() == view.window) SetChild(out, view.focus < 0 ? CHILDID_SELF : view.focus + 1);
    return out->vt == VT_EMPTY ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    if (index < 0 || !IsClickable(view.elements[index])) return Nothing(out);
    return Text(view.elements[index].role == ElementRole::Link ? L"Jump" : L"Press", out);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    if (!(flags & SELFLAG_TAKEFOCUS) || index < 0 || !IsClickable(view.elements[index])) {
      return DISP_E_MEMBERNOTFOUND;
    }
    PostMessageW(view.window, WM_APP_FOCUS, static_cast<WPARAM>(index), view.generation);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    const RECT r = view.ScreenRect(index < 0 ? RectF{0, 0, 320, 340} : view.elements[index].box);
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, start, index); FAILED(found)) return found;
    const int count = static_cast<int>(view.elements.size());
    int to = -1;
    if (index < 0 && direction == NAVDIR_FIRSTCHILD) to = 0;
    if (index < 0 && direction == NAVDIR_LASTCHILD) to = count - 1;
    if (index >= 0 && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN)) to = index + 1;
    if (index >= 0 && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP)) to = index - 1;
    if (to < 0 || to >= count) return S_FALSE;
    SetChild(out, to + 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    const AccessibleView view = state_->View();
    if (!view.window) return CO_E_OBJNOTCONNECTED;
    const int index = view.ElementAt({x, y});
    const RECT client = view.ScreenRect({0, 0, 320, 340});
    if (index >= 0) {
      SetChild(out, index + 1);
    } else if (PtInRect(&client, {x, y})) {
      SetChild(out, CHILDID_SELF);
    }
    return out->vt == VT_EMPTY ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    const AccessibleView view = state_->View();
    int index;
    if (HRESULT found = Find(view, child, index); FAILED(found)) return found;
    if (index < 0 || !IsClickable(view.elements[index])) return DISP_E_MEMBERNOTFOUND;
    PostMessageW(view.window, WM_APP_INVOKE, static_cast<WPARAM>(view.elements[index].action), 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  // index -1 is the client area itself.
  static HRESULT Find(const AccessibleView& view, const VARIANT& child, int& index) {
    if (!view.window) return CO_E_OBJNOTCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    index = child.lVal == CHILDID_SELF ? -1 : child.lVal - 1;
    return index >= -1 && index < static_cast<int>(view.elements.size()) ? S_OK : E_INVALIDARG;
  }
  HRESULT Find(const VARIANT& child, int& index) const { return Find(state_->View(), child, index); }

  ComPtr<AccessibleWindow> state_;
};

}  // namespace

ComPtr<IAccessible> MakeMsaaClient(AccessibleWindow* state) {
  ComPtr<IAccessible> client;
  client.Attach(new MsaaClient(state));
  return client;
}

}  // namespace kestrelume
