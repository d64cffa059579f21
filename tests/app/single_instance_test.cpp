// The claim on a work folder. A first installer is played by another thread
// of this process: the object it holds under the folder's name (a mutex this
// process may open fully, one it may only wait on, or something else
// entirely) and, where a case says so, a window marked for the folder.

#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <thread>

#include "../workflow/scratch_folder.h"

namespace kestrelume {
namespace {

using testing::ScratchFolder;

TEST(WorkFolderKey, EverySpellingOfOneFolderGivesOneKey) {
  ScratchFolder scratch;
  const std::wstring parent = scratch.path();
  const std::wstring folder = parent + L"\\Work";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t previous[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(parent.c_str()));

  std::wstring slashed = folder;
  for (wchar_t& c : slashed) {
    if (c == L'\\') c = L'/';
  }
  std::wstring lower = folder;
  CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
  const uint64_t key = WorkFolderKey(folder);
  for (const std::wstring& same : {
           folder + L"\\", folder + L"\\\\", slashed, slashed + L"/", lower,
           parent + L"\\\\Work", folder + L"\\.", folder + L"\\sub\\..", folder + L"\\.\\",
           L"\\\\?\\" + folder, L"\\\\?\\" + folder + L"\\",
           std::wstring(L"Work"), std::wstring(L".\\work\\"), std::wstring(L"Work\\..\\Work"),
       }) {
    EXPECT_EQ(WorkFolderKey(same), key) << same;
  }
  // A drive letter alone is that drive's current folder, never its root.
  const std::wstring drive = parent.substr(0, 2);
  ASSERT_EQ(drive[1], L':');
  EXPECT_EQ(WorkFolderKey(drive), WorkFolderKey(parent));
  for (const std::wstring& other : {
           parent, folder + L"2", folder + L"\\sub", drive + L"\\", std::wstring(L"Work2"),
       }) {
    EXPECT_NE(WorkFolderKey(other), key) << other;
  }
  EXPECT_NE(WorkFolderKey(drive + L"\\"), WorkFolderKey(drive));
  EXPECT_NE(WorkFolderKey(L""), 0u);
  SetCurrentDirectoryW(previous);
}

enum class Holding {
  Mutex,            // an installer with the same rights
  WaitOnlyMutex,    // one whose mutex this process may only wait on
  SomethingElse,    // not a mutex at all: nothing to wait on
};

constexpr DWORD kHungMs = 3000;

// The first installer on another thread. It holds its object from
// construction; `release_after_ms` > 0 lets go of it (and its window) after
// that long, like an installer that is closing. A hung window is minimized
// and its thread then takes no messages for kHungMs.
class FirstInstaller {
 public:
  FirstInstaller(const std::wstring& work_dir, Holding holding, bool window, bool hung,
                 DWORD release_after_ms)
      : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([=, this] { Run(work_dir, holding, window, hung, release_after_ms); });
    WaitForSingleObject(ready_, 5000);
  }
  ~FirstInstaller() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(ready_);
    CloseHandle(done_);
  }
  bool holds() const { return object_ != nullptr; }

 private:
  void Run(const std::wstring& work_dir, Holding holding, bool window, bool hung,
           DWORD release_after_ms) {
    const std::wstring name = WorkFolderMutexName(WorkFolderKey(work_dir));
    if (holding == Holding::SomethingElse) {
      object_ = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    } else {
      // Everyone may wait on it and nothing more: what a second start
      // without administrator rights meets when the first one had them.
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      if (holding == Holding::WaitOnlyMutex) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)",
                                                             SDDL_REVISION_1, &descriptor, nullptr);
      }
      SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
      object_ = CreateMutexW(descriptor ? &attributes : nullptr, TRUE, name.c_str());
      LocalFree(descriptor);
    }
    HWND shown = nullptr;
    if (window) {
      shown = CreateWindowExW(0, L"STATIC", L"first installer", WS_POPUP, 0, 0, 50, 50, nullptr,
                              nullptr, nullptr, nullptr);
      MarkWorkFolderWindow(shown, work_dir);
      if (hung) ShowWindow(shown, SW_MINIMIZE);
    }
    SetEvent(ready_);
    auto let_go = [&] {
      if (shown) {
        UnmarkWorkFolderWindow(shown);
        DestroyWindow(shown);
        shown = nullptr;
      }
      if (object_ && holding != Holding::SomethingElse) ReleaseMutex(object_);
    };
    // Bounded, so that a second start that does wait for it still ends.
    if (hung) WaitForSingleObject(done_, kHungMs);
    {
      const ULONGLONG release_at = GetTickCount64() + release_after_ms;
      for (;;) {
        const DWORD left = release_after_ms == 0 ? INFINITE
                           : GetTickCount64() >= release_at
                               ? 0
                               : static_cast<DWORD>(release_at - GetTickCount64());
        if (release_after_ms != 0 && left == 0) {
          let_go();
          release_after_ms = 0;
          continue;
        }
        if (MsgWaitForMultipleObjects(1, &done_, FALSE, left, QS_ALLINPUT) == WAIT_OBJECT_0) break;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      }
    }
    let_go();
    CloseHandle(object_);
  }

  HANDLE ready_;
  HANDLE done_;
  HANDLE object_ = nullptr;
  std::thread thread_;
};

TEST(WorkFolderClaim, ASecondStartNeverRunsBesideTheFirstWhateverItMayOpen) {
  ScratchFolder scratch;
  struct Case {
    const char* name;
    Holding holding;
    bool window;
    bool hung;
    DWORD release_after_ms;
    bool claimed;
    DWORD at_least_ms;
    DWORD within_ms;
  };
  const Case cases[] = {
      {"same rights, window", Holding::Mutex, true, false, 0, false, 0, 1000},
      {"same rights, closing", Holding::Mutex, false, false, 400, true, 300, 2000},
      {"wait-only mutex, window", Holding::WaitOnlyMutex, true, false, 0, false, 0, 1000},
      {"wait-only mutex, closing", Holding::WaitOnlyMutex, false, false, 400, true, 300, 2000},
      {"no mutex to wait on, window", Holding::SomethingElse, true, false, 0, false, 0, 1000},
      {"no mutex to wait on, no window", Holding::SomethingElse, false, false, 0, true, 0, 1000},
      // Bringing a hung window forward must not hang the second start.
      {"same rights, hung minimized window", Holding::Mutex, true, true, 0, false, 0, 1000},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::wstring work_dir = scratch.path() + L"\\work-" + std::to_wstring(++n);
    FirstInstaller first(work_dir, c.holding, c.window, c.hung, c.release_after_ms);
    ASSERT_TRUE(first.holds()) << c.name;
    WorkFolderClaim claim;
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(claim.Claim(work_dir), c.claimed) << c.name;
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_GE(took, c.at_least_ms) << c.name;
    EXPECT_LT(took, c.within_ms) << c.name;
  }
}

}  // namespace
}  // namespace kestrelume
