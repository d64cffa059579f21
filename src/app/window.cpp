#include "app/window.h"

#include "accessibility/accessibility.h"
#include "app/dpi.h"
#include "app/single_instance.h"
#include "system/system_functions.h"
#include "base/fail_fast.h"
#include "base/thread.h"
#include "ui/animation.h"

namespace kestrelume {
namespace {

constexpr wchar_t kClassName[] = L"KestrelumeInstallerWindow";
constexpr DWORD kWindowStyle = 0x80CA0000;  // popup with caption, system menu, minimize
constexpr int kClientWidth = 320;
constexpr int kClientHeight = 340;

void RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kClassName;
  RegisterClassExW(&window_class);  // a failure shows as CreateWindowExW failing
}

// Centred in the work area of the monitor under the mouse, at the window's
// own DPI.
void PlaceWindow(HWND window, POINT mouse, uint32_t dpi) {
  const int width = MulDiv(kClientWidth, static_cast<int>(dpi), 96);
  const int height = MulDiv(kClientHeight, static_cast<int>(dpi), 96);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromPoint(mouse, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& area = monitor.rcWork;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window, nullptr, x, y, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// Dark, rounded and with a quiet border where Windows offers it; older
// versions ignore attributes they do not know.
void StyleFrame(HWND window) {
  if (!System().Has(SystemLibrary::DwmApi)) return;
  const DWORD dark = 1;
  const DWORD round_corners = 2;  // DWMWCP_ROUND
  const DWORD border = 0x0022262A;
  System().DwmSetWindowAttribute(window, 20, &dark, sizeof(dark));
  System().DwmSetWindowAttribute(window, 33, &round_corners, sizeof(round_corners));
  System().DwmSetWindowAttribute(window, 34, &border, sizeof(border));
  const MARGINS margins{0, 0, 1, 0};
  System().DwmExtendFrameIntoClientArea(window, &margins);
}

// Loading the fonts and making the text formats is the longest step before
// the window after the device's creation, so it runs beside the window and
// device creation instead of before them.
struct TextResourcesJob {
  Renderer& renderer;
  const StartupFault& fault;
  bool made = false;
  void Run() {
    made = RetryStartupStep(StartupStep::Text, fault, [this] { return renderer.CreateTextResources(); });
  }
};

// Never a silent end: the user learns what could not be set up.
int StartupFailed(App& app, StartupStep step) {
  app.window.store(nullptr);
  // A window destroyed on the way posted WM_QUIT, which would end the
  // message box's own loop at once.
  MSG quit;
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  ReportStartupFailure(step);
  return 1;
}

}  // namespace

int RunWindow(App& app, HINSTANCE instance) {
  TextResourcesJob text{app.renderer, app.startup_fault};
  Thread text_thread;  // declared after the job: it joins before the job goes
  if (!text_thread.Start<&TextResourcesJob::Run>(text)) text.Run();
  if (!RetryStartupStep(StartupStep::Drawing, app.startup_fault,
                        [&] { return app.renderer.CreateDrawingResources(app.animations_enabled); })) {
    return StartupFailed(app, StartupStep::Drawing);
  }
  RegisterWindowClass(instance);
  POINT mouse{0, 0};
  GetCursorPos(&mouse);
  HWND window = nullptr;
  if (!RetryStartupStep(StartupStep::Window, app.startup_fault, [&] {
        window = CreateWindowExW(0, kClassName, kWindowTitle, kWindowStyle, mouse.x, mouse.y, 100,
                                 100, nullptr, nullptr, instance, &app);
        return window != nullptr;
      })) {
    return StartupFailed(app, StartupStep::Window);
  }
  // Findable by a second start for the same folder from now on, even while
  // still hidden: it then comes to the front instead of running again.
  MarkWorkFolderWindow(window, app.work_dir);
  app.dpi = WindowDpi(window, System().GetDpiForWindow);
  PlaceWindow(window, mouse, app.dpi);
  StyleFrame(window);
  // The device now, while the window is still hidden; if it fails, the
  // first paint tries again.
  app.renderer.EnsureRenderTarget(window, app.dpi);
  text_thread.Join();
  if (!text.made) {
    // Never shown: the same end as when nothing could be made at all.
    DestroyWindow(window);
    return StartupFailed(app, StartupStep::Text);
  }
  PrepareFirstFrame(app, GetTickCount64());
  CreateAccessibility(app);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  app.StartRun();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

void PrepareFirstFrame(App& app, uint64_t now) {
  app.Layout();
  // The spinner starts at twelve o'clock in this frame; StartRun restarts
  // it a moment later, so the run's frames continue from there.
  app.spin_start_tick = app.phase_tick = now;
}

void App::StartRun() {
  // Never two workers: stop the old run, wait for it, and only then clear
  // the cancel flag for the new one.
  http.Cancel();
  worker.Join();
  http.Rearm();
  ResetProgress();
  fraction = 0;
  spin_start_tick = phase_tick = GetTickCount64();
  // Without a worker the window would wait forever; that is as fatal as
  // running out of memory.
  if (!worker.Start<&App::Work>(*this)) FailFast();
  if (HWND handle = window.load()) SetTimer(handle, ANIMATION_TIMER, kAnimationPeriodMs, nullptr);
}

}  // namespace kestrelume
