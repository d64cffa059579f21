#include "workflow/cache.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "integrity/sha256.h"
#include "scratch_folder.h"

namespace kestrelume {
namespace {

using testing::IsFolder;
using testing::PathExists;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

std::string DigestOf(const std::string& bytes) {
  Sha256 digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.Finish();
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
  return bytes;
}

// The build folder as a Windows path on Wine's Z: drive.
std::wstring BinaryDirOnZ() {
  std::wstring path = L"Z:";
  for (const char c : std::string(KESTRELUME_BINARY_DIR)) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

std::wstring WithForwardSlashes(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return path;
}

using Chain = std::vector<std::wstring>;

TEST(FolderChain, TriesEachFolderOnceInOrderAndNeverARootPart) {
  EXPECT_EQ(FolderChain(L"C:\\a\\b\\c"), (Chain{L"C:\\a", L"C:\\a\\b", L"C:\\a\\b\\c"}));
  EXPECT_EQ(FolderChain(L"C:/a/b"), (Chain{L"C:/a", L"C:/a/b"}));
  EXPECT_EQ(FolderChain(L"C:\\a\\\\b\\"), (Chain{L"C:\\a", L"C:\\a\\", L"C:\\a\\\\b", L"C:\\a\\\\b\\"}));
  EXPECT_EQ(FolderChain(L""), Chain{});
  EXPECT_EQ(FolderChain(L"C:\\"), Chain{});
  EXPECT_EQ(FolderChain(L"abc"), Chain{});
  EXPECT_EQ(FolderChain(L"abcd"), Chain{L"abcd"});

  // Long-path prefix: neither "\\?" nor "\\?\C:" is a folder to make.
  EXPECT_EQ(FolderChain(L"\\\\?\\C:\\a\\b"), (Chain{L"\\\\?\\C:\\a", L"\\\\?\\C:\\a\\b"}));
  EXPECT_EQ(FolderChain(L"\\\\?\\C:\\"), Chain{});
  EXPECT_EQ(FolderChain(L"\\\\.\\C:\\a"), Chain{L"\\\\.\\C:\\a"});
  EXPECT_EQ(FolderChain(L"\\\\?\\Volume{0d1e}\\a"), Chain{L"\\\\?\\Volume{0d1e}\\a"});

  // UNC: the server and the share exist or not; they are never created.
  EXPECT_EQ(FolderChain(L"\\\\server\\share\\a\\b"),
            (Chain{L"\\\\server\\share\\a", L"\\\\server\\share\\a\\b"}));
  EXPECT_EQ(FolderChain(L"//server/share/a"), Chain{L"//server/share/a"});
  EXPECT_EQ(FolderChain(L"\\\\server\\share"), Chain{});
  EXPECT_EQ(FolderChain(L"\\\\server"), Chain{});
  EXPECT_EQ(FolderChain(L"\\\\?\\UNC\\server\\share\\a"), Chain{L"\\\\?\\UNC\\server\\share\\a"});
  EXPECT_EQ(FolderChain(L"\\\\?\\unc\\server\\share\\"), Chain{});
  EXPECT_EQ(FolderChain(L"\\\\server\\share\\\\"), Chain{});
  EXPECT_EQ(FolderChain(L"\\\\?\\UNCX\\a"), Chain{L"\\\\?\\UNCX\\a"});
}

TEST(EnsureDirectory, CreatesEveryMissingFolderWithEitherSeparator) {
  ScratchFolder scratch;
  const std::wstring back = scratch / L"a\\b\\c";
  EXPECT_TRUE(EnsureDirectory(back));
  EXPECT_TRUE(IsFolder(scratch / L"a\\b\\c"));

  const std::wstring forward = WithForwardSlashes(scratch / L"x/y/z");
  EXPECT_TRUE(EnsureDirectory(forward));
  EXPECT_TRUE(IsFolder(scratch / L"x\\y\\z"));

  // Doubled and trailing separators only repeat attempts on existing folders.
  EXPECT_TRUE(EnsureDirectory(scratch / L"d\\\\e\\"));
  EXPECT_TRUE(IsFolder(scratch / L"d\\e"));

  // Existing folders all the way down, and paths too short to create.
  EXPECT_TRUE(EnsureDirectory(back));
  EXPECT_TRUE(EnsureDirectory(L""));
  EXPECT_TRUE(EnsureDirectory(L"C:\\"));
}

TEST(EnsureDirectory, FailsWhereAFileStandsInThePath) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch / L"file", "x"));
  EXPECT_FALSE(EnsureDirectory(scratch / L"file\\below"));
  EXPECT_FALSE(PathExists(scratch / L"file\\below"));
  // A file under the very name asked for is not a folder either.
  EXPECT_FALSE(EnsureDirectory(scratch / L"file"));
  EXPECT_EQ(ReadBytes(scratch / L"file"), "x");
}

TEST(EnsureDirectory, CreatesBelowLongPathPrefixWithoutTouchingThePrefix) {
  ScratchFolder scratch;
  const std::wstring target = L"\\\\?\\" + (scratch / L"long\\path");
  EXPECT_TRUE(EnsureDirectory(target));
  EXPECT_TRUE(IsFolder(scratch / L"long\\path"));

  // On the Unix side of Wine: Z: is "/", and Z:\tmp always exists.
  const std::wstring on_z = L"\\\\?\\Z:\\tmp\\kestrelume-test-" +
                            std::to_wstring(GetCurrentProcessId()) + L"\\q\\r";
  EXPECT_TRUE(EnsureDirectory(on_z));
  EXPECT_TRUE(IsFolder(on_z));
  testing::RemoveTree(on_z.substr(0, on_z.size() - 4));

  // A drive that does not exist still fails, on its first real folder.
  EXPECT_FALSE(EnsureDirectory(L"\\\\?\\Q:\\kestrelume\\x"));
}

// Wine maps \\server\share to $WINEPREFIX/dosdevices/unc/server/share, so a
// folder there stands in for a network share.
TEST(EnsureDirectory, CreatesBelowUncShareWithoutTryingServerOrShare) {
  const std::wstring share_root = BinaryDirOnZ() + L"\\wineprefix\\dosdevices\\unc";
  ASSERT_TRUE(EnsureDirectory(share_root + L"\\127.0.0.1\\kestrelume-share"));
  const std::wstring sub = L"t" + std::to_wstring(GetCurrentProcessId());

  const std::wstring unc = L"\\\\127.0.0.1\\kestrelume-share\\" + sub + L"\\one\\two";
  EXPECT_TRUE(EnsureDirectory(unc));
  EXPECT_TRUE(IsFolder(unc));
  EXPECT_TRUE(IsFolder(share_root + L"\\127.0.0.1\\kestrelume-share\\" + sub + L"\\one\\two"));

  const std::wstring long_unc = L"\\\\?\\UNC\\127.0.0.1\\kestrelume-share\\" + sub + L"\\three";
  EXPECT_TRUE(EnsureDirectory(long_unc));
  EXPECT_TRUE(IsFolder(share_root + L"\\127.0.0.1\\kestrelume-share\\" + sub + L"\\three"));

  const std::wstring forward = WithForwardSlashes(L"\\\\127.0.0.1\\kestrelume-share\\" + sub + L"\\four");
  EXPECT_TRUE(EnsureDirectory(forward));
  EXPECT_TRUE(IsFolder(share_root + L"\\127.0.0.1\\kestrelume-share\\" + sub + L"\\four"));

  testing::RemoveTree(share_root + L"\\127.0.0.1");
}

TEST(RemoveStaleSetups, DeletesOlderSetupsAndPartFilesOnly) {
  ScratchFolder scratch;
  const std::wstring keep = scratch / L"KestrelumeSetup-1.4.2.exe";
  ASSERT_TRUE(WriteBytes(keep, "new"));
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.4.1.exe", "old"));
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.4.1.src-spring.exe", "old tagged"));
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.4.2.exe.part", "partial"));
  ASSERT_TRUE(WriteBytes(scratch / L"notes.txt", "unrelated"));
  ASSERT_TRUE(WriteBytes(scratch / L"OtherSetup-1.0.exe", "unrelated"));
  ASSERT_TRUE(EnsureDirectory(scratch / L"KestrelumeSetup-folder"));
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-folder\\KestrelumeSetup-0.9.exe", "inside"));

  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.4.1.exe.part", "older partial"));

  RemoveStaleSetups(scratch.path(), keep, 6);

  EXPECT_EQ(ReadBytes(keep), "new");
  EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.4.1.exe"));
  EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.4.1.src-spring.exe"));
  EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.4.2.exe.part"));  // 7 bytes: too long
  EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.4.1.exe.part"));
  EXPECT_TRUE(PathExists(scratch / L"notes.txt"));
  EXPECT_TRUE(PathExists(scratch / L"OtherSetup-1.0.exe"));
  EXPECT_TRUE(IsFolder(scratch / L"KestrelumeSetup-folder"));
  EXPECT_TRUE(PathExists(scratch / L"KestrelumeSetup-folder\\KestrelumeSetup-0.9.exe"));
}

TEST(RemoveStaleSetups, KeepsTheFileToKeepWhateverItsLetterCase) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-2.0.0.exe", "keep"));
  ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.0.0.exe", "old"));
  RemoveStaleSetups(scratch.path(), scratch / L"kestrelumesetup-2.0.0.EXE", 100);
  EXPECT_EQ(ReadBytes(scratch / L"KestrelumeSetup-2.0.0.exe"), "keep");
  EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.0.0.exe"));

  // A missing folder is no problem and creates nothing.
  RemoveStaleSetups(scratch / L"missing", scratch / L"missing\\KestrelumeSetup-1.exe", 100);
  EXPECT_FALSE(PathExists(scratch / L"missing"));
}

// A download resumes the ".part" of the current name, up to the whole file.
TEST(RemoveStaleSetups, KeepsThePartFileOfTheCurrentNameUpToTheExpectedSize) {
  ScratchFolder scratch;
  const std::wstring keep = scratch / L"KestrelumeSetup-2.0.0.exe";
  for (const uint64_t limit : {uint64_t{7}, uint64_t{8}, uint64_t{1} << 40}) {
    ASSERT_TRUE(WriteBytes(keep + L".part", "partial"));
    ASSERT_TRUE(WriteBytes(scratch / L"KestrelumeSetup-1.0.0.exe.part", "old"));
    RemoveStaleSetups(scratch.path(), scratch / L"KESTRELUMESETUP-2.0.0.exe", limit);
    EXPECT_EQ(ReadBytes(keep + L".part"), "partial") << limit;
    EXPECT_FALSE(PathExists(scratch / L"KestrelumeSetup-1.0.0.exe.part")) << limit;
  }
  RemoveStaleSetups(scratch.path(), keep, 6);
  EXPECT_FALSE(PathExists(keep + L".part"));
}

TEST(IsCachedSetupValid, AcceptsOnlyTheExactBytes) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(200000);  // several read chunks
  const std::string digest = DigestOf(bytes);
  const std::wstring path = scratch / L"KestrelumeSetup-1.0.0.exe";

  ASSERT_TRUE(WriteBytes(path, bytes));
  EXPECT_TRUE(IsCachedSetupValid(path, bytes.size(), digest));
  EXPECT_FALSE(IsCachedSetupValid(path, bytes.size() + 1, digest));
  EXPECT_FALSE(IsCachedSetupValid(path, bytes.size(), ""));

  std::string changed = bytes;
  changed[123456] ^= 0x01;
  ASSERT_TRUE(WriteBytes(path, changed));
  EXPECT_FALSE(IsCachedSetupValid(path, bytes.size(), digest));

  ASSERT_TRUE(WriteBytes(path, bytes.substr(0, bytes.size() - 1)));
  EXPECT_FALSE(IsCachedSetupValid(path, bytes.size(), digest));

  EXPECT_FALSE(IsCachedSetupValid(scratch / L"KestrelumeSetup-9.9.9.exe", bytes.size(), digest));

  // An empty file matches nothing the manifest can ask for.
  ASSERT_TRUE(WriteBytes(path, ""));
  EXPECT_FALSE(IsCachedSetupValid(path, 0, DigestOf("x")));
}

TEST(IsCachedSetupValid, RejectsAFileHeldOpenForWriting) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(1000);
  const std::wstring path = scratch / L"KestrelumeSetup-1.0.0.exe";
  ASSERT_TRUE(WriteBytes(path, bytes));

  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(IsCachedSetupValid(path, bytes.size(), DigestOf(bytes)));
  CloseHandle(writer);
  EXPECT_TRUE(IsCachedSetupValid(path, bytes.size(), DigestOf(bytes)));
}

TEST(OpenVerifiedSetup, HoldsTheCheckedFileAgainstDeletingOverwritingAndReplacing) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(100000);
  const std::wstring path = scratch / L"KestrelumeSetup-1.0.0.exe";
  const std::wstring other = scratch / L"other.exe";
  ASSERT_TRUE(WriteBytes(path, bytes));
  ASSERT_TRUE(WriteBytes(other, "not the setup program"));

  EXPECT_FALSE(OpenVerifiedSetup(path, bytes.size(), DigestOf("x")));
  {
    UniqueFile held = OpenVerifiedSetup(path, bytes.size(), DigestOf(bytes));
    ASSERT_TRUE(held);
    // What another installer's tidying, or anything else that can write the
    // folder, would try between the check and the start.
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(MoveFileExW(path.c_str(), (scratch / L"moved.exe").c_str(), 0));
    // Readers, the program loader among them, are still let in.
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_TRUE(IsCachedSetupValid(path, bytes.size(), DigestOf(bytes)));
  }
  // Released: the file is an ordinary file again.
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// What another program (a scanner, a backup agent) may do to a fresh
// download for a moment, and what the re-open after the download then says.
TEST(ReopenVerifiedSetup, WaitsBrieflyForAHeldFileAndTellsUnopenableFromChanged) {
  ScratchFolder scratch;
  const std::string bytes = Pattern(100000);
  const std::string digest = DigestOf(bytes);
  constexpr DWORD kPatienceMs = 1000;
  struct Case {
    const char* name;
    std::string content;  // empty: no file at all
    DWORD held_ms;        // held open without sharing that long; INFINITE: throughout
    SetupCheck expected;
  };
  const Case cases[] = {
      {"free", bytes, 0, SetupCheck::Verified},
      {"held a moment", bytes, 300, SetupCheck::Verified},
      {"held throughout", bytes, INFINITE, SetupCheck::CannotOpen},
      {"gone", "", 0, SetupCheck::CannotOpen},
      {"changed", bytes.substr(1) + "x", 0, SetupCheck::Mismatch},
      {"changed and held a moment", bytes.substr(1) + "x", 300, SetupCheck::Mismatch},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::wstring path = scratch / (L"KestrelumeSetup-" + std::to_wstring(++n) + L".exe");
    if (!c.content.empty()) {
      ASSERT_TRUE(WriteBytes(path, c.content)) << c.name;
    }
    UniqueFile holder;
    if (c.held_ms != 0) {
      holder.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(holder) << c.name;
    }
    std::thread release;
    if (c.held_ms != 0 && c.held_ms != INFINITE) {
      release = std::thread([&holder, &c] {
        Sleep(c.held_ms);
        holder.reset();
      });
    }
    const ULONGLONG started = GetTickCount64();
    UniqueFile verified;
    EXPECT_EQ(ReopenVerifiedSetup(path, bytes.size(), digest, kPatienceMs, verified), c.expected)
        << c.name;
    const ULONGLONG waited = GetTickCount64() - started;
    if (release.joinable()) release.join();
    EXPECT_EQ(static_cast<bool>(verified), c.expected == SetupCheck::Verified) << c.name;
    // Only an unopenable file waits out the patience, and not much longer.
    if (c.expected == SetupCheck::CannotOpen) {
      EXPECT_GE(waited, kPatienceMs - 50) << c.name;
    } else if (c.held_ms == 0) {
      EXPECT_LT(waited, kPatienceMs / 2) << c.name;
    }
    EXPECT_LT(waited, kPatienceMs + 500) << c.name;
    if (verified) {
      // Held as OpenVerifiedSetup holds it: readers only.
      EXPECT_FALSE(DeleteFileW(path.c_str())) << c.name;
      EXPECT_EQ(ReadBytes(path), bytes) << c.name;
    }
  }
}

}  // namespace
}  // namespace kestrelume
