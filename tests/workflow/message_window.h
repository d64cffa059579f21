#pragma once
// A hidden message-only window (HWND_MESSAGE) on the creating thread, the
// target of the worker's WM_APP_PROGRESS posts in tests.

#include <windows.h>

#include "workflow/progress.h"

namespace kestrelume::testing {

class MessageWindow {
 public:
  MessageWindow() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"KestrelumeTestMessageWindow";
    RegisterClassExW(&window_class);  // a second registration fails harmlessly
    handle_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, window_class.hInstance, nullptr);
  }
  ~MessageWindow() {
    if (handle_) DestroyWindow(handle_);
  }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return handle_; }

  // Takes one waiting message for this window. True for WM_APP_PROGRESS
  // with both parameters 0; *other counts any other application message.
  bool TakeProgressPost(bool& taken, int* other = nullptr) {
    MSG message{};
    taken = PeekMessageW(&message, handle_, 0, 0, PM_REMOVE) != 0;
    if (!taken) return false;
    if (message.message == WM_APP_PROGRESS && message.wParam == 0 && message.lParam == 0) return true;
    if (other && message.message >= WM_APP) ++*other;
    return false;
  }

  // Takes every waiting message for this window; returns the progress posts.
  int DrainProgressPosts(int* other = nullptr) {
    int count = 0;
    bool taken = true;
    while (taken) {
      if (TakeProgressPost(taken, other)) ++count;
    }
    return count;
  }

 private:
  HWND handle_ = nullptr;
};

}  // namespace kestrelume::testing
