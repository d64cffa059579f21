#pragma once
// What a screen reader in another process needs to read a window: small
// MSAA helpers, and a walk over the UI Automation elements below the window
// through the flat client functions of uiautomationcore.dll (what Windows 7
// to 11 and Wine 8 all offer; Wine has no COM client object). Used by the
// acceptance kit's screen reader and by the accessibility tests' client. Any
// thread inside a COM apartment.
//
// The platform headers of some toolchains cannot be compiled as C++, so the
// few declarations needed are made here.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "base/function_ref.h"

namespace kestrelume::kit {

DECLARE_HANDLE(HUIANODE);
DECLARE_HANDLE(HUIAPATTERNOBJECT);

inline constexpr int kUiaNameProperty = 30005;
inline constexpr int kUiaControlTypeProperty = 30003;
inline constexpr int kUiaInvokeAvailableProperty = 30031;
inline constexpr int kUiaRangeValueAvailableProperty = 30033;
inline constexpr int kUiaRangeValueValueProperty = 30047;
inline constexpr int kUiaLiveSettingProperty = 30135;
inline constexpr int kUiaInvokePattern = 10000;

// The VARIANT that names an MSAA child by its id.
inline VARIANT MsaaChild(long id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

// The text of a BSTR that an accessible object handed over, freed.
inline std::wstring TakeText(BSTR text) {
  std::wstring s = text ? text : L"";
  SysFreeString(text);
  return s;
}

// A VARIANT that clears itself.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* out() { return &value_; }
  const VARIANT& get() const { return value_; }

  std::wstring Text(const wchar_t* otherwise = L"") const {
    return value_.vt == VT_BSTR && value_.bstrVal ? value_.bstrVal : otherwise;
  }
  long Long(long otherwise) const { return value_.vt == VT_I4 ? value_.lVal : otherwise; }
  bool Bool() const { return value_.vt == VT_BOOL && value_.boolVal != VARIANT_FALSE; }
  double Double(double otherwise) const { return value_.vt == VT_R8 ? value_.dblVal : otherwise; }

 private:
  VARIANT value_;
};

class FlatUia {
 public:
  FlatUia() {
    HMODULE core = LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!core) return;
    Load(core, "UiaNodeFromHandle", from_handle_);
    Load(core, "UiaGetPropertyValue", property_);
    Load(core, "UiaNavigate", navigate_);
    Load(core, "UiaHUiaNodeFromVariant", from_variant_);
    Load(core, "UiaNodeRelease", release_);
    Load(core, "UiaGetPatternProvider", pattern_);
    Load(core, "UiaInvokePattern_Invoke", invoke_);
    Load(core, "UiaPatternRelease", pattern_release_);
  }
  FlatUia(const FlatUia&) = delete;
  FlatUia& operator=(const FlatUia&) = delete;

  bool usable() const { return from_handle_ && property_ && navigate_ && from_variant_ && release_; }
  bool can_invoke() const { return pattern_ && invoke_ && pattern_release_; }

  // Calls `visit` for each child of the window's element, in order, until it
  // returns false. False when the window's element could not be had.
  bool ForEachChild(HWND window, FunctionRef<bool(HUIANODE)> visit) const {
    Node node(*this);
    if (!usable() || FAILED(from_handle_(window, node.out())) || !node) return false;
    int direction = 3;  // first child, then next sibling
    for (int guard = 0; guard < 20; ++guard) {
      node = Next(node.get(), direction);
      direction = 1;
      if (!node || !visit(node.get())) break;
    }
    return true;
  }

  void Property(HUIANODE node, int id, Variant& value) const { property_(node, id, value.out()); }
  std::wstring Name(HUIANODE node) const {
    Variant name;
    Property(node, kUiaNameProperty, name);
    return name.Text();
  }

  // Invokes the node's Invoke pattern: E_NOTIMPL where the platform has no
  // pattern providers (Wine).
  HRESULT Invoke(HUIANODE node) const {
    HUIAPATTERNOBJECT pattern = nullptr;
    HRESULT result = pattern_(node, kUiaInvokePattern, &pattern);
    if (SUCCEEDED(result) && pattern) {
      result = invoke_(pattern);
      pattern_release_(pattern);
    }
    return result;
  }

 private:
  // Owns one node handle.
  class Node {
   public:
    explicit Node(const FlatUia& uia, HUIANODE node = nullptr) : uia_(uia), node_(node) {}
    ~Node() { Reset(); }
    Node(Node&& other) : uia_(other.uia_), node_(std::exchange(other.node_, nullptr)) {}
    Node& operator=(Node&& other) {
      if (this != &other) {
        Reset();
        node_ = std::exchange(other.node_, nullptr);
      }
      return *this;
    }
    HUIANODE get() const { return node_; }
    HUIANODE* out() { return &node_; }
    explicit operator bool() const { return node_ != nullptr; }

   private:
    void Reset() {
      if (node_) uia_.release_(std::exchange(node_, nullptr));
    }
    const FlatUia& uia_;
    HUIANODE node_;
  };

  struct Condition {
    int type;  // ConditionType_True
  };
  struct CacheRequest {
    Condition* view;
    int scope;  // TreeScope_Element
    int* properties;
    int property_count;
    int* patterns;
    int pattern_count;
    int mode;  // AutomationElementMode_Full
  };

  // The node one step from `node` in `direction`; empty at the end.
  Node Next(HUIANODE node, int direction) const {
    Condition all{0};
    CacheRequest request{&all, 1, nullptr, 0, nullptr, 0, 1};
    SAFEARRAY* data = nullptr;
    BSTR structure = nullptr;
    Node next(*this);
    if (SUCCEEDED(navigate_(node, direction, &all, &request, &data, &structure)) && data) {
      LONG at[2] = {0, 0};
      Variant element;
      if (SUCCEEDED(SafeArrayGetElement(data, at, element.out()))) {
        from_variant_(const_cast<VARIANT*>(&element.get()), next.out());
      }
      SafeArrayDestroy(data);
    }
    SysFreeString(structure);
    return next;
  }

  template <typename F>
  static void Load(HMODULE module, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }

  HRESULT(WINAPI* from_handle_)(HWND, HUIANODE*) = nullptr;
  HRESULT(WINAPI* property_)(HUIANODE, int, VARIANT*) = nullptr;
  HRESULT(WINAPI* navigate_)(HUIANODE, int, Condition*, CacheRequest*, SAFEARRAY**, BSTR*) = nullptr;
  HRESULT(WINAPI* from_variant_)(VARIANT*, HUIANODE*) = nullptr;
  BOOL(WINAPI* release_)(HUIANODE) = nullptr;
  HRESULT(WINAPI* pattern_)(HUIANODE, int, HUIAPATTERNOBJECT*) = nullptr;
  HRESULT(WINAPI* invoke_)(HUIAPATTERNOBJECT) = nullptr;
  BOOL(WINAPI* pattern_release_)(HUIAPATTERNOBJECT) = nullptr;
};

}  // namespace kestrelume::kit
