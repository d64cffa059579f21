// The window procedure in a real window under Wine, around an App that has
// no worker: the tests play the worker's part through the shared record.

#include <gtest/gtest.h>
#include <windows.h>
#include <d2d1.h>

#include <string>
#include <vector>

#include "../workflow/scratch_folder.h"
#include "app/app.h"
#include "app/window.h"
#include "ui/animation.h"
#include "ui/renderer.h"

namespace kestrelume {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

constexpr wchar_t kClass[] = L"KestrelumeWindowProcTest";

// A shown window of the program's window procedure around `app`, at the
// display's left edge, clear of an installer window that another test may
// centre on the same display at the same time.
class ProgramWindow {
 public:
  ProgramWindow(App& app, int width, int height) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClass;
    RegisterClassExW(&window_class);  // fails harmlessly for the second window
    handle_ = CreateWindowExW(0, kClass, kWindowTitle, WS_POPUP, 0, 40, width, height, nullptr,
                              nullptr, window_class.hInstance, &app);
    if (handle_) {
      ShowWindow(handle_, SW_SHOWNOACTIVATE);
      UpdateWindow(handle_);
    }
  }
  ~ProgramWindow() {
    if (!handle_) return;
    DestroyWindow(handle_);
    // WM_DESTROY asks the loop to end; this thread has no such loop.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  ProgramWindow(const ProgramWindow&) = delete;
  ProgramWindow& operator=(const ProgramWindow&) = delete;

  HWND handle() const { return handle_; }

  // Whether the whole client area waits for a paint.
  bool WholeClientAreaInvalid() const {
    RECT update{};
    RECT client{};
    GetClientRect(handle_, &client);
    return GetUpdateRect(handle_, &update, FALSE) && EqualRect(&update, &client);
  }
  // Paints whatever waits, so that nothing does.
  void Paint() const {
    UpdateWindow(handle_);
    ValidateRect(handle_, nullptr);
  }

 private:
  HWND handle_ = nullptr;
};

// Each start attempt of setup, refused or not, writes the outcome file.
TEST(WindowProc, ARefusedSetupIsStartedOnceWhateverProgressMessagesAreStillQueued) {
  ScratchFolder folder;
  const std::wstring setup = folder / L"KestrelumeSetup-1.4.2.exe";
  const std::wstring outcome = folder / L"outcome";
  ASSERT_TRUE(WriteBytes(setup, "This is text, not a Windows program.\n"));
  App app;
  app.outcome_path = outcome;
  ProgramWindow window(app, 320, 340);
  ASSERT_NE(window.handle(), nullptr);

  // The worker's changes, each posting a message, all applied before the
  // window handles the first.
  constexpr int kChanges = 6;
  app.UpdateProgress([](Progress& p) {
    p.phase = Phase::Downloading;
    p.bytes_total = 4;
  });
  for (int i = 1; i <= kChanges - 2; ++i) {
    app.UpdateProgress([i](Progress& p) { p.bytes_done = static_cast<uint64_t>(i); });
  }
  app.UpdateProgress([&setup](Progress& p) {
    p.phase = Phase::Opening;
    p.setup_path = setup;
  });

  int messages = 0;
  int starts = 0;
  MSG message;
  while (PeekMessageW(&message, window.handle(), WM_APP_PROGRESS, WM_APP_PROGRESS, PM_REMOVE)) {
    DispatchMessageW(&message);
    ++messages;
    if (DeleteFileW(outcome.c_str())) ++starts;
    // The blocked screen from the first message on, and it stays.
    EXPECT_EQ(app.shown_progress.phase, Phase::Failed) << "message " << messages;
    EXPECT_EQ(app.shown_progress.failure, Failure::Blocked) << "message " << messages;
  }
  EXPECT_EQ(messages, kChanges);
  EXPECT_EQ(starts, 1);
}

// The outcome path as a named pipe with a few instances waiting: every
// report of the window opens it afresh and so lands in an instance of its
// own, where a file would keep only the last word.
TEST(WindowProc, ARefusedStartNamesTheBlockedScreenInItsCaptionAndReportsItOnce) {
  ScratchFolder folder;
  const std::wstring setup = folder / L"KestrelumeSetup-1.4.2.exe";
  ASSERT_TRUE(WriteBytes(setup, "This is text, not a Windows program.\n"));
  const std::wstring pipe_name =
      L"\\\\.\\pipe\\kestrelume-outcome-" + std::to_wstring(GetCurrentProcessId());
  constexpr int kInstances = 3;
  HANDLE instances[kInstances];
  for (HANDLE& instance : instances) {
    // Not waiting: an instance nobody opened reads as nothing at once.
    instance = CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                                kInstances, 0, 4096, 0, nullptr);
    ASSERT_NE(instance, INVALID_HANDLE_VALUE);
  }
  App app;
  app.outcome_path = pipe_name;
  ProgramWindow window(app, 320, 340);
  ASSERT_NE(window.handle(), nullptr);
  app.UpdateProgress([&setup](Progress& p) {
    p.phase = Phase::Opening;
    p.setup_path = setup;
  });
  MSG message;
  while (PeekMessageW(&message, window.handle(), WM_APP_PROGRESS, WM_APP_PROGRESS, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
  EXPECT_EQ(app.shown_progress.failure, Failure::Blocked);
  wchar_t caption[64] = {};
  GetWindowTextW(window.handle(), caption, 64);
  EXPECT_STREQ(caption, L"Setup blocked");
  std::vector<std::string> words;
  for (HANDLE instance : instances) {
    char word[64];
    DWORD got = 0;
    if (ReadFile(instance, word, sizeof word, &got, nullptr) && got > 0) words.emplace_back(word, got);
    CloseHandle(instance);
  }
  EXPECT_EQ(words, std::vector<std::string>{"blocked"});
}

TEST(WindowProc, ADpiChangeRepaintsTheWholeWindowWhetherItShrinksGrowsOrOnlyMoves) {
  App app;
  app.dpi = 120;
  ProgramWindow window(app, 400, 425);
  ASSERT_NE(window.handle(), nullptr);
  struct Change {
    uint32_t dpi;
    RECT suggested;
  };
  const Change changes[] = {
      {96, {0, 50, 320, 390}},    // to a lower DPI: the window shrinks
      {96, {40, 70, 360, 410}},   // same size, another place
      {120, {0, 50, 400, 475}},   // and back up
  };
  for (const Change& change : changes) {
    window.Paint();
    ASSERT_FALSE(window.WholeClientAreaInvalid());
    SendMessageW(window.handle(), WM_DPICHANGED, MAKEWPARAM(change.dpi, change.dpi),
                 reinterpret_cast<LPARAM>(&change.suggested));
    EXPECT_EQ(app.dpi, change.dpi);
    RECT placed{};
    GetWindowRect(window.handle(), &placed);
    EXPECT_TRUE(EqualRect(&placed, &change.suggested)) << change.suggested.right;
    EXPECT_TRUE(window.WholeClientAreaInvalid()) << "to " << change.dpi << " DPI, "
                                                 << change.suggested.right << " wide";
  }
}

// What the window's paints need, made as the program makes them.
bool MakeDrawingResources(App& app) {
  bool animations = true;
  return app.renderer.CreateDrawingResources(animations) && app.renderer.CreateTextResources();
}

TEST(WindowProc, ALostDeviceDropsTheTargetAndAsksForTheNextPaint) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    App app;
    ASSERT_TRUE(MakeDrawingResources(app));
    ProgramWindow window(app, 320, 340);
    ASSERT_NE(window.handle(), nullptr);
    ASSERT_TRUE(app.renderer.EnsureRenderTarget(window.handle(), app.dpi));

    // Any other result keeps the target and asks for nothing.
    for (const HRESULT drawn : {S_OK, E_FAIL}) {
      window.Paint();
      app.renderer.EndFrame(window.handle(), drawn);
      EXPECT_TRUE(app.renderer.render_target) << drawn;
      EXPECT_FALSE(window.WholeClientAreaInvalid()) << drawn;
    }
    window.Paint();
    app.renderer.EndFrame(window.handle(), D2DERR_RECREATE_TARGET);
    EXPECT_FALSE(app.renderer.render_target);
    EXPECT_FALSE(app.renderer.logo_bitmap);
    EXPECT_TRUE(window.WholeClientAreaInvalid());
    // That paint makes a new target.
    window.Paint();
    EXPECT_TRUE(app.renderer.render_target);
  }
  CoUninitialize();
}

// A device that cannot be made again must not turn painting into a busy
// loop: a few losses in a row, then one try per DEVICE_TIMER, while the
// window still takes its keys.
TEST(WindowProc, ADeviceLostFrameAfterFrameIsTriedAgainOnATimerNotAtOnce) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    App app;
    ASSERT_TRUE(MakeDrawingResources(app));
    ProgramWindow window(app, 320, 340);
    ASSERT_NE(window.handle(), nullptr);

    // Runs the window's messages for `ms`; true when a paint came due in
    // that time (the paint itself is left waiting).
    auto paint_due_within = [&](DWORD ms) {
      const ULONGLONG until = GetTickCount64() + ms;
      while (GetTickCount64() < until) {
        if (window.WholeClientAreaInvalid()) return true;
        MSG message;
        while (PeekMessageW(&message, window.handle(), WM_TIMER, WM_TIMER, PM_REMOVE)) {
          if (message.wParam == DEVICE_TIMER) DispatchMessageW(&message);
        }
        Sleep(10);
      }
      return window.WholeClientAreaInvalid();
    };
    const HRESULT lost = static_cast<HRESULT>(D2DERR_RECREATE_TARGET);
    struct Step {
      HRESULT drawn;
      bool paint_at_once;  // the window asks for the next paint straight away
    };
    const Step steps[] = {
        // Losses in a row: the first ones are retried at once...
        {lost, true},
        {lost, true},
        // ...then only on the timer, and each further loss waits again.
        {lost, false},
        {lost, false},
        // A frame that reaches the screen ends the run of losses.
        {S_OK, false},
        {lost, true},
    };
    static_assert(kLostFramesBeforePause == 3, "the steps above count three losses");
    int n = 0;
    for (const Step& step : steps) {
      ++n;
      // A paint whose frame is lost: the target is made, then the device goes.
      ValidateRect(window.handle(), nullptr);
      ASSERT_TRUE(app.renderer.EnsureRenderTarget(window.handle(), app.dpi)) << n;
      app.renderer.EndFrame(window.handle(), step.drawn);
      EXPECT_EQ(window.WholeClientAreaInvalid(), step.paint_at_once) << "step " << n;
      if (step.drawn == S_OK || step.paint_at_once) continue;
      // Nothing until the timer; then one paint, which tries again.
      EXPECT_FALSE(paint_due_within(kDeviceRetryMs / 2)) << "step " << n;
      EXPECT_TRUE(paint_due_within(kDeviceRetryMs + 1000)) << "step " << n;
    }
    // Paused or not, Escape still cancels and closes the window.
    ValidateRect(window.handle(), nullptr);
    app.renderer.EndFrame(window.handle(), lost);
    app.renderer.EndFrame(window.handle(), lost);
    app.renderer.EndFrame(window.handle(), lost);
    SendMessageW(window.handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(IsWindow(window.handle()));
  }
  CoUninitialize();
}

// The first frame is painted before the first run starts; the run's own
// frames then continue from twelve o'clock.
TEST(WindowProc, TheFirstFrameDrawsTheSpinnerAtTwelveOClock) {
  for (const uint64_t uptime : {uint64_t{9'000'000'500}, uint64_t{123'456}, uint64_t{1'000}}) {
    App app;
    PrepareFirstFrame(app, uptime);
    EXPECT_FLOAT_EQ(SpinnerStartAngle(ElapsedSeconds(uptime, app.spin_start_tick), true), -90.0f)
        << uptime;
    EXPECT_FLOAT_EQ(SpinnerStartAngle(ElapsedSeconds(uptime + 350, app.spin_start_tick), true), 0.0f)
        << uptime;
  }
}

}  // namespace
}  // namespace kestrelume
