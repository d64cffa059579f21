#include <cmath>

#include "accessibility/accessibility.h"
#include "system/system_functions.h"
#include "ui/layout.h"

namespace kestrelume {
namespace {

AccessibleWindow* StateOf(const App& app) {
  return static_cast<AccessibleWindow*>(app.accessibility.Get());
}

int PercentOf(const std::vector<AccessibleElement>& elements) {
  for (const AccessibleElement& e : elements) {
    if (e.role == ElementRole::Progress) return e.percent;
  }
  return -1;
}

void Notify(const AccessibleView& view, DWORD event, int index) {
  NotifyWinEvent(event, view.window, OBJID_CLIENT, index < 0 ? CHILDID_SELF : index + 1);
}

void RaiseMsaaEvents(const AccessibleView& before, const AccessibleView& after, bool new_screen) {
  if (new_screen) {
    Notify(after, EVENT_OBJECT_REORDER, -1);
    Notify(after, EVENT_OBJECT_NAMECHANGE, 0);
    for (int i = 0; i < static_cast<int>(after.elements.size()); ++i) {
      if (after.elements[i].live) Notify(after, EVENT_OBJECT_LIVEREGIONCHANGED, i);
    }
  } else if (PercentOf(before.elements) != PercentOf(after.elements)) {
    for (int i = 0; i < static_cast<int>(after.elements.size()); ++i) {
      const AccessibleElement& e = after.elements[i];
      if (e.role == ElementRole::Progress) {
        Notify(after, EVENT_OBJECT_VALUECHANGE, i);
      } else if (e.name != before.elements[i].name) {
        Notify(after, EVENT_OBJECT_NAMECHANGE, i);
      }
    }
  }
  if (after.focus >= 0 && after.focus != before.focus) Notify(after, EVENT_OBJECT_FOCUS, after.focus);
}

}  // namespace

HRESULT AccessibleWindow::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = riid == __uuidof(IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

AccessibleView AccessibleWindow::View() const {
  std::lock_guard hold(lock_);
  return view_;
}

void AccessibleWindow::Store(const AccessibleView& view) {
  std::lock_guard hold(lock_);
  view_ = view;
}

Microsoft::WRL::ComPtr<IRawElementProviderSimple> AccessibleWindow::UiaRoot() {
  std::lock_guard hold(lock_);
  if (!uia_root_ && view_.window) uia_root_ = MakeUiaRoot(this);
  return uia_root_;
}

void AccessibleWindow::Disconnect() {
  Microsoft::WRL::ComPtr<IRawElementProviderSimple> root;  // released after the lock
  std::lock_guard hold(lock_);
  view_.window = nullptr;
  view_.elements.clear();
  root.Swap(uia_root_);  // the root holds this state: the cycle ends here
}

RECT AccessibleView::ScreenRect(const RectF& box) const {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  const float scale = static_cast<float>(dpi) / 96.0f;
  return {origin.x + static_cast<LONG>(std::lround(box.left * scale)),
          origin.y + static_cast<LONG>(std::lround(box.top * scale)),
          origin.x + static_cast<LONG>(std::lround(box.right * scale)),
          origin.y + static_cast<LONG>(std::lround(box.bottom * scale))};
}

int AccessibleView::ElementAt(POINT screen) const {
  // Clickable elements first: they lie in front of the texts.
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < static_cast<int>(elements.size()); ++i) {
      if (IsClickable(elements[i]) != (pass == 0)) continue;
      const RECT r = ScreenRect(elements[i].box);
      if (PtInRect(&r, screen)) return i;
    }
  }
  return -1;
}

void CreateAccessibility(App& app) {
  app.accessibility.Attach(new AccessibleWindow(app.window.load()));
  SyncAccessibility(app);
}

void SyncAccessibility(App& app) {
  AccessibleWindow* state = StateOf(app);
  if (!state) return;
  const AccessibleView before = state->View();
  if (!before.window) return;
  AccessibleView after = before;
  after.dpi = app.dpi;
  after.elements = AccessibleElementsFor(app.shown_progress, LayoutOf(app));
  const bool new_screen = !SameScreen(before.elements, after.elements);
  if (new_screen) {
    ++after.generation;
    app.focus = CarriedFocus(before.elements, app.focus, after.elements);
  }
  after.focus = app.focus;
  state->Store(after);
  RaiseMsaaEvents(before, after, new_screen);
  RaiseUiaEvents(state, before, after, new_screen);
}

bool AnswerGetObject(App& app, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  AccessibleWindow* state = StateOf(app);
  if (!state) return false;
  const LONG id = static_cast<LONG>(lparam);
  // Without the library there is simply no provider: the system's default
  // answer stands.
  if (id == uia::kRootObjectId && System().Has(SystemLibrary::UiaCore)) {
    Microsoft::WRL::ComPtr<IRawElementProviderSimple> root = state->UiaRoot();
    if (!root) return false;
    result = System().UiaReturnRawElementProvider(app.window.load(), wparam, lparam, root.Get());
    return true;
  }
  if (id == OBJID_CLIENT && System().Has(SystemLibrary::OleAcc)) {
    Microsoft::WRL::ComPtr<IAccessible> client = MakeMsaaClient(state);
    result = System().LresultFromObject(__uuidof(IAccessible), wparam, client.Get());
    return true;
  }
  return false;
}

bool IsShownGeneration(const App& app, uint32_t generation) {
  const AccessibleWindow* state = StateOf(app);
  return state && state->View().generation == generation;
}

void DisconnectAccessibility(App& app) {
  AccessibleWindow* state = StateOf(app);
  if (!state) return;
  // Tells UI Automation that the window's providers are gone.
  if (System().Has(SystemLibrary::UiaCore)) {
    System().UiaReturnRawElementProvider(app.window.load(), 0, 0, nullptr);
  }
  state->Disconnect();
}

}  // namespace kestrelume
