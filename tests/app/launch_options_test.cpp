#include "app/launch_options.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "manifest/address.h"
#include "manifest/attribution.h"

namespace kestrelume {
namespace {

using Args = std::vector<std::wstring_view>;

const std::string kDefaultUrl = "https://" + std::string(kDownloadHost) + "/update/stable.json";

LaunchOptions Read(const Args& args) { return ApplyCommandLine(DefaultLaunchOptions(), args); }

std::wstring LocalAppData() {
  PWSTR known = nullptr;
  std::wstring folder;
  if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK) folder = known;
  CoTaskMemFree(known);
  return folder;
}

TEST(LaunchOptions, WithoutArgumentsUsesTheDefaultAddressAndThePerUserFolder) {
  const LaunchOptions options = Read({L"KestrelumeInstaller.exe"});
  EXPECT_EQ(options.manifest_url, kDefaultUrl);
  EXPECT_EQ(options.manifest_url.rfind("https://", 0), 0u);
  EXPECT_TRUE(options.work_dir.empty());
  EXPECT_TRUE(options.snapshot_dir.empty());
  EXPECT_TRUE(options.outcome_path.empty());
  EXPECT_FALSE(options.high_contrast);
  EXPECT_EQ(Read({}).manifest_url, kDefaultUrl);

  const std::wstring local = LocalAppData();
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(WorkDirOrDefault(options.work_dir), local + L"\\Kestrelume\\updates\\bootstrap");
  EXPECT_EQ(DefaultWorkDir(), local + L"\\Kestrelume\\updates\\bootstrap");
}

TEST(LaunchOptions, ManifestUrlIsTakenOnlyWhenTheAddressPolicyAllowsIt) {
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"http://127.0.0.1:8431/m.json"}).manifest_url,
            "http://127.0.0.1:8431/m.json");
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"https://mirror.example/x?y=1"}).manifest_url,
            "https://mirror.example/x?y=1");
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"http://example.com/m.json"}).manifest_url, kDefaultUrl);
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"http://127.0.0.2/m.json"}).manifest_url, kDefaultUrl);
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"ftp://127.0.0.1/m.json"}).manifest_url, kDefaultUrl);
  // A refused later value keeps the earlier accepted one; an allowed one wins.
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"https://a.example/1", L"--manifest-url",
                  L"http://b.example/2"})
                .manifest_url,
            "https://a.example/1");
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"https://a.example/1", L"--manifest-url",
                  L"https://b.example/2"})
                .manifest_url,
            "https://b.example/2");
  // Non-ASCII text reaches the policy as UTF-8.
  EXPECT_EQ(Read({L"p", L"--manifest-url", L"https://b\u00FCcher.example/m"}).manifest_url,
            "https://b\xC3\xBC" "cher.example/m");
}

TEST(LaunchOptions, WorkDirIsTakenExactlyAsTypedAndTheLastOneWins) {
  EXPECT_EQ(Read({L"p", L"--work-dir", L"D:\\cache/x\\"}).work_dir, L"D:\\cache/x\\");
  EXPECT_EQ(Read({L"p", L"--work-dir", L"D:\\one", L"--work-dir", L"E:\\two"}).work_dir, L"E:\\two");

  // An empty value leaves the folder empty, which then becomes the default.
  const LaunchOptions empty = Read({L"p", L"--work-dir", L""});
  EXPECT_TRUE(empty.work_dir.empty());
  EXPECT_EQ(WorkDirOrDefault(empty.work_dir), DefaultWorkDir());
  EXPECT_EQ(WorkDirOrDefault(L"D:\\given"), L"D:\\given");
}

TEST(LaunchOptions, TheArgumentAfterAnOptionIsAlwaysItsValue) {
  const LaunchOptions a = Read({L"p", L"--work-dir", L"--manifest-url", L"https://x.example/m"});
  EXPECT_EQ(a.work_dir, L"--manifest-url");
  EXPECT_EQ(a.manifest_url, kDefaultUrl);

  const LaunchOptions b = Read({L"p", L"--manifest-url", L"--work-dir", L"D:\\w"});
  EXPECT_EQ(b.manifest_url, kDefaultUrl);  // "--work-dir" is no allowed address
  EXPECT_TRUE(b.work_dir.empty());          // and "D:\w" alone is skipped
}

TEST(LaunchOptions, AnOptionWithoutAValueIsIgnored) {
  EXPECT_TRUE(Read({L"p", L"--work-dir"}).work_dir.empty());
  EXPECT_EQ(Read({L"p", L"--manifest-url"}).manifest_url, kDefaultUrl);
  const LaunchOptions last = Read({L"p", L"--work-dir", L"D:\\w", L"--manifest-url"});
  EXPECT_EQ(last.work_dir, L"D:\\w");
  EXPECT_EQ(last.manifest_url, kDefaultUrl);
  // The program's own name is never read as an option.
  EXPECT_TRUE(Read({L"--work-dir", L"D:\\w"}).work_dir.empty());
}

TEST(LaunchOptions, OptionsInOtherSpellingsAreSkippedOneArgumentAtATime) {
  const std::vector<std::wstring_view> spellings = {L"--Work-Dir", L"--WORK-DIR", L"-work-dir",
                                                    L"/work-dir", L"--work-dir=D:\\w", L" --work-dir"};
  for (size_t i = 0; i < spellings.size(); ++i) {
    SCOPED_TRACE(i);
    const std::wstring_view spelling = spellings[i];
    // The word after the unrecognised one is examined as an option itself.
    const LaunchOptions options = Read({L"p", spelling, L"--work-dir", L"D:\\real"});
    EXPECT_EQ(options.work_dir, L"D:\\real");
    EXPECT_TRUE(Read({L"p", spelling, L"D:\\w"}).work_dir.empty());
  }
  EXPECT_EQ(Read({L"p", L"-manifest-url", L"--manifest-url", L"https://x.example/m"}).manifest_url,
            "https://x.example/m");
  EXPECT_EQ(Read({L"p", L"/manifest-url", L"https://x.example/m"}).manifest_url, kDefaultUrl);
  EXPECT_EQ(Read({L"p", L"unrelated", L"words", L"--work-dir", L"D:\\w", L"tail"}).work_dir, L"D:\\w");
}

TEST(LaunchOptions, AttributionComesFromTheFileNameOnly) {
  EXPECT_EQ(FileNameOfPath(L"C:\\Users\\me\\Downloads\\Setup.exe"), L"Setup.exe");
  EXPECT_EQ(FileNameOfPath(L"C:/Users/me\\dl/Setup.exe"), L"Setup.exe");
  EXPECT_EQ(FileNameOfPath(L"Setup.exe"), L"Setup.exe");
  EXPECT_EQ(FileNameOfPath(L"C:\\dir\\"), L"");

  // Folder names that look like tags never contribute.
  const Attribution from_folder =
      ParseAttribution(FileNameOfPath(L"C:\\KestrelumeSetup.src-folder.t-x.exe\\KestrelumeInstaller.exe"));
  EXPECT_TRUE(from_folder.src.empty());
  EXPECT_TRUE(from_folder.t.empty());
  const Attribution tagged =
      ParseAttribution(FileNameOfPath(L"C:/src-no/KestrelumeSetup.src-spring-news.t-7f3a.exe"));
  EXPECT_EQ(tagged.src, "spring-news");
  EXPECT_EQ(tagged.t, "7f3a");

  // The running test program's own path is whole and ends in its name.
  const std::wstring own = ModulePath();
  ASSERT_FALSE(own.empty());
  EXPECT_EQ(FileNameOfPath(own), L"app_launch_options_tests.exe");
}

#if KESTRELUME_DEV_BUILD
TEST(LaunchOptions, DevelopmentBuildsActAsInHighContrastOnlyWhenToldOn) {
  EXPECT_TRUE(Read({L"p", L"--high-contrast", L"on"}).high_contrast);
  EXPECT_FALSE(Read({L"p", L"--high-contrast", L"off"}).high_contrast);
  EXPECT_FALSE(Read({L"p", L"--high-contrast"}).high_contrast);  // no value: ignored
}
#endif

}  // namespace
}  // namespace kestrelume
