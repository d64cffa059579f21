#pragma once
// The window to assistive technology: one UI Automation fragment tree and an
// MSAA object for the client area, both read from the screen's accessible
// elements (accessibility/accessible_elements.h), and the events that tell
// clients what changed.
//
// Threads: the window keeps the elements current on the main thread; the
// providers read a copy under a lock, because UI Automation calls a provider
// without ProviderOptions_UseComThreading from threads of its own. No client
// call ever runs a button's action: Invoke, accDoDefaultAction and focus
// requests post a message that the window handles later.

#include <windows.h>
#include <oleacc.h>
#include <uiautomationcore.h>
#include <wrl/client.h>

#include <atomic>
#include <vector>

#include "app/app.h"
#include "base/slim_lock.h"
#include "accessibility/accessible_elements.h"

namespace kestrelume {

// WPARAM: the ButtonAction to run, if the screen still offers it.
inline constexpr UINT WM_APP_INVOKE = 0x8000 + 2;
// WPARAM: element index, LPARAM: screen generation; moves the keyboard focus.
inline constexpr UINT WM_APP_FOCUS = 0x8000 + 3;

struct AccessibleView {
  HWND window = nullptr;  // null once the window is gone
  uint32_t dpi = 96;
  uint32_t generation = 0;  // a new value for every new screen
  int focus = -1;
  std::vector<AccessibleElement> elements;

  bool Holds(uint32_t gen, int index) const {
    return window && gen == generation && index >= 0 && index < static_cast<int>(elements.size());
  }
  // Screen pixels of a box in DIPs of the client area.
  RECT ScreenRect(const RectF& box) const;
  // The element under a point in screen pixels, or -1.
  int ElementAt(POINT screen) const;
};

// Reference counting shared by the provider objects.
class ComObject {
 protected:
  ULONG Add() { return ++references_; }
  template <typename Self>
  static ULONG Drop(Self* self) {
    const ULONG left = --self->references_;
    if (left == 0) delete self;
    return left;
  }
  std::atomic<ULONG> references_{1};
};

class AccessibleWindow final : public IUnknown, public ComObject {
 public:
  explicit AccessibleWindow(HWND window) { view_.window = window; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return Drop(this); }

  AccessibleView View() const;
  void Store(const AccessibleView& view);
  // The UI Automation root, made on first use; null once disconnected.
  Microsoft::WRL::ComPtr<IRawElementProviderSimple> UiaRoot();
  // The window is being destroyed: clients' calls fail from now on.
  void Disconnect();

 private:
  mutable SlimLock lock_;
  AccessibleView view_;
  Microsoft::WRL::ComPtr<IRawElementProviderSimple> uia_root_;
};

Microsoft::WRL::ComPtr<IAccessible> MakeMsaaClient(AccessibleWindow* state);
Microsoft::WRL::ComPtr<IRawElementProviderSimple> MakeUiaRoot(AccessibleWindow* state);
Microsoft::WRL::ComPtr<IRawElementProviderSimple> MakeUiaElement(AccessibleWindow* state,
                                                                 uint32_t generation, int index);
// Raises the UI Automation events of a change (main thread; only while
// clients listen).
void RaiseUiaEvents(AccessibleWindow* state, const AccessibleView& before,
                    const AccessibleView& after, bool new_screen);

// Window side, main thread.
void CreateAccessibility(App& app);
// After anything that may have changed the screen, its texts or the focus:
// carries or drops the focus on a new screen, updates the providers' copy
// and raises name, value, live-region and focus events. Events for texts
// fire only when what a person hears changes: a new screen, or a new whole
// percentage, not every chunk of the download.
void SyncAccessibility(App& app);
// WM_GETOBJECT: true with `result` set when the request was answered.
bool AnswerGetObject(App& app, WPARAM wparam, LPARAM lparam, LRESULT& result);
// WM_APP_FOCUS: true while the screen a client's request was made on is
// still the one shown.
bool IsShownGeneration(const App& app, uint32_t generation);
void DisconnectAccessibility(App& app);

}  // namespace kestrelume
