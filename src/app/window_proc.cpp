#include <windows.h>
#include <windowsx.h>

#include "accessibility/accessibility.h"
#include "app/outcome.h"
#include "app/single_instance.h"
#include "app/window.h"
#include "ui/animation.h"
#include "accessibility/accessible_elements.h"
#include "ui/failure_screen.h"

namespace kestrelume {
namespace {

// Mouse positions arrive in client pixels; the layout is in DIPs.
POINT ClientPoint(LPARAM lparam) { return {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)}; }

ButtonAction HitTestPixels(const App& app, POINT point) {
  const float scale = static_cast<float>(app.dpi) / 96.0f;
  return app.HitTest(static_cast<float>(point.x) / scale, static_cast<float>(point.y) / scale);
}

void Repaint(HWND window) { InvalidateRect(window, nullptr, FALSE); }

void OnProgress(App& app, HWND window) {
  // Windows refused the setup program: the run is over for the window. The
  // worker's record still says Opening, and messages still queued must
  // neither start setup again nor take the blocked screen away.
  if (app.shown_progress.failure == Failure::Blocked) return;
  const Phase before = app.shown_progress.phase;
  app.shown_progress = app.CopyProgress();
  if (!app.animations_enabled) app.fraction = TargetFraction(app.shown_progress);
  if (app.shown_progress.phase != before) {
    app.phase_tick = GetTickCount64();
    app.Layout();
    if (app.shown_progress.phase == Phase::Failed) {
      SetWindowTextW(window, FailureScreenFor(app.shown_progress.failure).title.c_str());
      ReportOutcome(app, OutcomeToken(app.shown_progress.failure));
    } else {
      SetWindowTextW(window, kWindowTitle);
    }
    if (app.shown_progress.phase == Phase::Opening) app.LaunchSetup();
  }
  if (AnimationKeepsRunning(app)) SetTimer(window, ANIMATION_TIMER, kAnimationPeriodMs, nullptr);
  Repaint(window);
}

void OnMouseMove(App& app, HWND window, POINT point) {
  const ButtonAction under = HitTestPixels(app, point);
  if (!app.mouse_tracked) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window;
    TrackMouseEvent(&track);
    app.mouse_tracked = true;
  }
  if (under != app.hover) {
    app.hover = under;
    Repaint(window);
  }
  SetCursor(LoadCursorW(nullptr, under != ButtonAction::None ? IDC_HAND : IDC_ARROW));
}

void OnButtonUp(App& app, HWND window, POINT point) {
  const ButtonAction was_pressed = app.pressed;
  app.pressed = ButtonAction::None;
  ReleaseCapture();
  Repaint(window);
  // A click counts only when released over the element it started on.
  if (was_pressed != ButtonAction::None && HitTestPixels(app, point) == was_pressed) {
    app.OnAction(was_pressed);
  }
}

// Runs an action that the current screen offers (a client's request may
// arrive after the screen has changed).
void RunOffered(App& app, ButtonAction action) {
  for (const AccessibleElement& e : AccessibleElementsFor(app.shown_progress, LayoutOf(app))) {
    if (e.action == action && action != ButtonAction::None) {
      app.OnAction(action);
      return;
    }
  }
}

void MoveFocus(App& app, HWND window, bool backwards) {
  app.focus = NextFocus(AccessibleElementsFor(app.shown_progress, LayoutOf(app)), app.focus, backwards);
  Repaint(window);
}

// Space and Enter on the focused element; false when nothing has focus.
bool ActivateFocus(App& app) {
  const std::vector<AccessibleElement> elements =
      AccessibleElementsFor(app.shown_progress, LayoutOf(app));
  if (app.focus < 0 || app.focus >= static_cast<int>(elements.size())) return false;
  app.OnAction(elements[app.focus].action);
  return true;
}

LRESULT OnKeyDown(App& app, HWND window, WPARAM wparam, LPARAM lparam) {
  switch (wparam) {
    case VK_TAB:
      MoveFocus(app, window, GetKeyState(VK_SHIFT) < 0);
      return 0;
    case VK_SPACE:
      if (ActivateFocus(app)) return 0;
      break;
    case VK_RETURN:
      // Without keyboard focus Enter keeps its meaning: the primary button.
      if (ActivateFocus(app)) return 0;
      if (app.primary_action == ButtonAction::None) break;
      app.OnAction(app.primary_action);
      return 0;
    case VK_ESCAPE:
      app.OnAction(app.shown_progress.phase == Phase::Failed ? ButtonAction::Close
                                                              : ButtonAction::Cancel);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, WM_KEYDOWN, wparam, lparam);
}

// Over an element the client area behaves as such; everywhere else it is a
// caption, so the borderless window can be dragged by any empty spot.
LRESULT OnNcHitTest(const App& app, HWND window, LPARAM lparam) {
  POINT point = ClientPoint(lparam);
  ScreenToClient(window, &point);
  return HitTestPixels(app, point) != ButtonAction::None ? HTCLIENT : HTCAPTION;
}

}  // namespace

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* app = static_cast<App*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    app->window.store(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* app = reinterpret_cast<App*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!app) return DefWindowProcW(window, message, wparam, lparam);

  switch (message) {
    case WM_NCCALCSIZE:
      // The client area covers the whole window: no standard frame or caption.
      if (wparam) return 0;
      break;
    case WM_NCHITTEST:
      return OnNcHitTest(*app, window, lparam);
    case WM_SETCURSOR:
      if (LOWORD(lparam) == HTCLIENT) return TRUE;  // WM_MOUSEMOVE sets it
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      app->renderer.PaintWindow(*app);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_SIZE:
      app->renderer.ResizeRenderTarget(window, app->dpi);
      return 0;
    case WM_DPICHANGED: {
      app->dpi = HIWORD(wparam);
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      app->renderer.ResizeRenderTarget(window, app->dpi);
      // A window that shrinks gets no paint of its own.
      Repaint(window);
      SyncAccessibility(*app);
      return 0;
    }
    case WM_MOUSEMOVE:
      OnMouseMove(*app, window, ClientPoint(lparam));
      return 0;
    case WM_MOUSELEAVE:
      app->mouse_tracked = false;
      app->hover = ButtonAction::None;
      Repaint(window);
      return 0;
    case WM_LBUTTONDOWN:
      app->pressed = HitTestPixels(*app, ClientPoint(lparam));
      SetCapture(window);
      Repaint(window);
      return 0;
    case WM_LBUTTONUP:
      OnButtonUp(*app, window, ClientPoint(lparam));
      SyncAccessibility(*app);
      return 0;
    case WM_KEYDOWN: {
      const LRESULT result = OnKeyDown(*app, window, wparam, lparam);
      SyncAccessibility(*app);
      return result;
    }
    case WM_GETOBJECT: {
      LRESULT result = 0;
      if (AnswerGetObject(*app, wparam, lparam, result)) return result;
      break;
    }
    case WM_APP_INVOKE:
      RunOffered(*app, static_cast<ButtonAction>(wparam));
      SyncAccessibility(*app);
      return 0;
    case WM_APP_FOCUS:
      if (IsShownGeneration(*app, static_cast<uint32_t>(lparam))) {
        app->focus = static_cast<int>(wparam);
        Repaint(window);
        SyncAccessibility(*app);
      }
      return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      app->renderer.ReadContrast();
      Repaint(window);
      break;
    case WM_TIMER:
      if (wparam == ANIMATION_TIMER) {
        app->AnimationTick();
      } else if (wparam == CLOSE_TIMER) {
        KillTimer(window, CLOSE_TIMER);
        DestroyWindow(window);
      } else if (wparam == DEVICE_TIMER) {
        app->renderer.RetryDevice(window);
      }
      return 0;
    case WM_APP_PROGRESS:
      OnProgress(*app, window);
      SyncAccessibility(*app);
      return 0;
    case WM_DESTROY:
      UnmarkWorkFolderWindow(window);
      DisconnectAccessibility(*app);
      KillTimer(window, ANIMATION_TIMER);
      // The worker's transfer returns at once; the main routine joins it.
      app->http.Cancel();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace kestrelume
