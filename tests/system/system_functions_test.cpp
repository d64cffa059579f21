#include "system/system_functions.h"

#include <gtest/gtest.h>

#include <string>

#include "integrity/sha256.h"
#include "integrity/signature.h"
#include "net/http_session.h"
#include "system/system_library.h"
#include "ui/renderer.h"

namespace kestrelume {
namespace {

std::wstring ModuleFolder(HMODULE module) {
  wchar_t path[MAX_PATH];
  std::wstring text(path, GetModuleFileNameW(module, path, MAX_PATH));
  return text.substr(0, text.find_last_of(L"\\/") + 1);
}

std::wstring SystemFolder() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetSystemDirectoryW(path, MAX_PATH)) + L"\\";
}

TEST(SystemLibrary, ComesFromSystem32AndNeverFromTheProgramsFolder) {
  HMODULE winhttp = LoadSystemLibrary(L"winhttp.dll");
  ASSERT_NE(winhttp, nullptr);
  EXPECT_EQ(_wcsicmp(ModuleFolder(winhttp).c_str(), SystemFolder().c_str()), 0);

  // A library that exists only beside the program: the ordinary search finds
  // it, the System32-only one does not.
  const std::wstring planted = ModuleFolder(nullptr) + L"kestrelume-planted-test.dll";
  ASSERT_TRUE(CopyFileW(ModuleFolder(winhttp).append(L"winhttp.dll").c_str(), planted.c_str(), FALSE));
  EXPECT_EQ(LoadSystemLibrary(L"kestrelume-planted-test.dll"), nullptr);
  HMODULE ordinary = LoadLibraryW(L"kestrelume-planted-test.dll");
  EXPECT_NE(ordinary, nullptr);
  if (ordinary) FreeLibrary(ordinary);
  DeleteFileW(planted.c_str());
}

HMODULE RefuseBcrypt(const wchar_t* name) {
  return _wcsicmp(name, L"bcrypt.dll") == 0 ? nullptr : LoadSystemLibrary(name);
}

// A module that is there but holds none of the functions asked for.
HMODULE Kernel32ForWinHttpAndUser32(const wchar_t* name) {
  if (_wcsicmp(name, L"winhttp.dll") == 0 || _wcsicmp(name, L"user32.dll") == 0) {
    return GetModuleHandleW(L"kernel32.dll");
  }
  return LoadSystemLibrary(name);
}

TEST(SystemFunctions, AMissingLibraryOrFunctionLeavesItsFunctionsNull) {
  const SystemFunctions all = ResolveSystemFunctions(LoadSystemLibrary);
  for (auto library : {SystemLibrary::WinHttp, SystemLibrary::Bcrypt, SystemLibrary::D2D1, SystemLibrary::DWrite,
                       SystemLibrary::DwmApi, SystemLibrary::OleAcc, SystemLibrary::UiaCore,
                       SystemLibrary::User32}) {
    EXPECT_TRUE(all.Has(library)) << static_cast<int>(library);
  }
  EXPECT_NE(all.GetDpiForWindow, nullptr);

  const SystemFunctions no_bcrypt = ResolveSystemFunctions(RefuseBcrypt);
  EXPECT_FALSE(no_bcrypt.Has(SystemLibrary::Bcrypt));
  EXPECT_EQ(no_bcrypt.BCryptOpenAlgorithmProvider, nullptr);
  EXPECT_EQ(no_bcrypt.BCryptDestroyKey, nullptr);
  EXPECT_TRUE(no_bcrypt.Has(SystemLibrary::WinHttp));
  EXPECT_NE(no_bcrypt.WinHttpOpen, nullptr);

  // kernel32 has WinHttpCloseHandle no more than GetDpiForWindow: the library
  // counts as missing whole, while user32's newer functions are each optional.
  const SystemFunctions hollow = ResolveSystemFunctions(Kernel32ForWinHttpAndUser32);
  EXPECT_FALSE(hollow.Has(SystemLibrary::WinHttp));
  EXPECT_EQ(hollow.WinHttpCloseHandle, nullptr);
  EXPECT_EQ(hollow.GetDpiForWindow, nullptr);
  EXPECT_EQ(hollow.SetProcessDpiAwarenessContext, nullptr);
  EXPECT_TRUE(hollow.Has(SystemLibrary::D2D1));
}

TEST(SystemFunctions, WithNoLibrariesEveryPathFailsCleanly) {
  const SystemFunctions none{};
  ReplaceSystemFunctionsForTesting(&none);

  Sha256 hash;
  hash.Update("abc", 3);
  EXPECT_EQ(hash.Finish(), "");
  EXPECT_FALSE(VerifySignature("{}", "AAAA", BuiltInTrustedKeys()));

  HttpSession session;
  session.Open();
  std::string body = "left over";
  EXPECT_EQ(session.Fetch("http://127.0.0.1:9/update/stable.json", 65536, body), TransferResult::NetworkError);
  session.Cancel();
  session.Close();

  Renderer renderer;
  bool animations = true;
  EXPECT_FALSE(renderer.CreateResources(animations));

  ReplaceSystemFunctionsForTesting(nullptr);
  EXPECT_TRUE(System().Has(SystemLibrary::Bcrypt));
}

}  // namespace
}  // namespace kestrelume
