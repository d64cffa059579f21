#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "message_window.h"
#include "workflow/progress.h"

namespace kestrelume {
namespace {

using testing::MessageWindow;

// Anything posted to the thread's queue at all, for any window.
int DrainThreadQueue() {
  int count = 0;
  MSG message{};
  while (PeekMessageW(&message, nullptr, WM_APP, 0xBFFF, PM_REMOVE)) ++count;
  return count;
}

TEST(Progress, ChangesWithoutAWindowAreAppliedAndPostNothing) {
  MessageWindow unrelated;  // gives the thread a queue to look at
  DrainThreadQueue();
  App app;
  app.UpdateProgress([](Progress& p) {
    p.phase = Phase::Downloading;
    p.version = "1.4.2";
    p.bytes_total = 6440070;
  });
  app.UpdateProgress([](Progress& p) { p.bytes_done = 4096; });

  const Progress copy = app.CopyProgress();
  EXPECT_EQ(copy.phase, Phase::Downloading);
  EXPECT_EQ(copy.version, "1.4.2");
  EXPECT_EQ(copy.bytes_total, 6440070u);
  EXPECT_EQ(copy.bytes_done, 4096u);
  EXPECT_EQ(DrainThreadQueue(), 0);
  // The window's copy is only ever written by the window.
  EXPECT_EQ(app.shown_progress.phase, Phase::Checking);
}

TEST(Progress, EveryChangeFromTheWorkerPostsOneMessageAfterApplyingIt) {
  MessageWindow window;
  ASSERT_NE(window.handle(), nullptr);
  App app;
  app.window.store(window.handle());

  constexpr int kChanges = 50;
  std::thread worker([&app] {
    app.UpdateProgress([](Progress& p) {
      p.phase = Phase::Downloading;
      p.version = "2.0.0";
      p.bytes_total = kChanges;
    });
    for (int i = 1; i <= kChanges; ++i) {
      app.UpdateProgress([i](Progress& p) { p.bytes_done = static_cast<uint64_t>(i); });
    }
    app.UpdateProgress([](Progress& p) {
      p.setup_path = L"C:\\cache\\KestrelumeSetup-2.0.0.exe";
      p.phase = Phase::Opening;
    });
  });
  worker.join();

  int other = 0;
  EXPECT_EQ(window.DrainProgressPosts(&other), kChanges + 2);
  EXPECT_EQ(other, 0);
  const Progress copy = app.CopyProgress();
  EXPECT_EQ(copy.phase, Phase::Opening);
  EXPECT_EQ(copy.bytes_done, static_cast<uint64_t>(kChanges));
  EXPECT_EQ(copy.setup_path, L"C:\\cache\\KestrelumeSetup-2.0.0.exe");

  // After the handle is cleared, changes still apply but nothing arrives.
  app.window.store(nullptr);
  app.UpdateProgress([](Progress& p) { p.bytes_done = 1; });
  EXPECT_EQ(window.DrainProgressPosts(), 0);
  EXPECT_EQ(app.CopyProgress().bytes_done, 1u);
}

TEST(Progress, CopiesTakenDuringChangesAreNeverTorn) {
  App app;
  std::thread worker([&app] {
    for (uint64_t i = 1; i <= 20000; ++i) {
      app.UpdateProgress([i](Progress& p) {
        p.version = std::to_string(i) + ".0.0";
        p.bytes_done = i;
        p.bytes_total = i * 2;
      });
    }
  });
  int torn = 0;
  uint64_t last = 0;
  for (int k = 0; k < 20000 && last < 20000; ++k) {
    const Progress copy = app.CopyProgress();
    if (copy.bytes_done == 0) continue;
    if (copy.version != std::to_string(copy.bytes_done) + ".0.0" ||
        copy.bytes_total != copy.bytes_done * 2 || copy.bytes_done < last) {
      ++torn;
    }
    last = copy.bytes_done;
  }
  worker.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(app.CopyProgress().bytes_done, 20000u);
}

TEST(Progress, ResetReturnsBothCopiesToCheckingWithoutPosting) {
  MessageWindow window;
  App app;
  app.window.store(window.handle());
  app.UpdateProgress([](Progress& p) {
    p.phase = Phase::Failed;
    p.failure = Failure::Offline;
    p.version = "1.0.0";
    p.bytes_total = 10;
    p.bytes_done = 5;
    p.setup_path = L"x";
  });
  app.shown_progress = app.CopyProgress();
  app.shown_progress.failure = Failure::Blocked;
  window.DrainProgressPosts();

  app.ResetProgress();
  for (const Progress& p : {app.CopyProgress(), app.shown_progress}) {
    EXPECT_EQ(p.phase, Phase::Checking);
    EXPECT_EQ(p.failure, Failure::None);
    EXPECT_TRUE(p.version.empty());
    EXPECT_EQ(p.bytes_total, 0u);
    EXPECT_EQ(p.bytes_done, 0u);
    EXPECT_TRUE(p.setup_path.empty());
  }
  EXPECT_EQ(window.DrainProgressPosts(), 0);
}

}  // namespace
}  // namespace kestrelume
