#pragma once
// Every system function the program calls outside the KnownDLLs, and every
// function newer than Windows 7 SP1, in one table: library, name, type. The
// load-time import table holds KnownDLLs and Windows 7 functions only, so no
// planted DLL loads before the program runs and old Windows reaches the
// "Windows too old" screen instead of a loader message.
//
// Call sites read `System().WinHttpOpen(...)`. A missing library leaves all
// of its functions null and `Has` false; callers take their ordinary failure
// path then (no session handle, an empty digest, exit code 1, no DWM frame).

#include <windows.h>

#include <bcrypt.h>
#include <d2d1.h>
#include <dwmapi.h>
#include <dwrite.h>
#include <oleacc.h>
#include <winhttp.h>

#include "system/uia_core_api.h"

namespace kestrelume {

enum class SystemLibrary { WinHttp, Bcrypt, D2D1, DWrite, DwmApi, OleAcc, UiaCore, User32, Count };

// d2d1.h adds C++ overloads of D2D1CreateFactory; this is the exported one.
using D2D1CreateFactoryFunction = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*,
                                                   void**);

// clang-format off
#define KESTRELUME_SYSTEM_FUNCTIONS(X)                                                              \
  X(WinHttp, WinHttpOpen,                    decltype(&::WinHttpOpen))                              \
  X(WinHttp, WinHttpSetTimeouts,             decltype(&::WinHttpSetTimeouts))                       \
  X(WinHttp, WinHttpSetOption,               decltype(&::WinHttpSetOption))                         \
  X(WinHttp, WinHttpCrackUrl,                decltype(&::WinHttpCrackUrl))                          \
  X(WinHttp, WinHttpConnect,                 decltype(&::WinHttpConnect))                           \
  X(WinHttp, WinHttpOpenRequest,             decltype(&::WinHttpOpenRequest))                       \
  X(WinHttp, WinHttpSendRequest,             decltype(&::WinHttpSendRequest))                       \
  X(WinHttp, WinHttpReceiveResponse,         decltype(&::WinHttpReceiveResponse))                   \
  X(WinHttp, WinHttpQueryHeaders,            decltype(&::WinHttpQueryHeaders))                      \
  X(WinHttp, WinHttpReadData,                decltype(&::WinHttpReadData))                          \
  X(WinHttp, WinHttpQueryDataAvailable,      decltype(&::WinHttpQueryDataAvailable))                \
  X(WinHttp, WinHttpSetStatusCallback,       decltype(&::WinHttpSetStatusCallback))                 \
  X(WinHttp, WinHttpCloseHandle,             decltype(&::WinHttpCloseHandle))                       \
  X(WinHttp, WinHttpGetIEProxyConfigForCurrentUser, decltype(&::WinHttpGetIEProxyConfigForCurrentUser)) \
  X(WinHttp, WinHttpGetProxyForUrl,          decltype(&::WinHttpGetProxyForUrl))                    \
  X(WinHttp, WinHttpGetDefaultProxyConfiguration, decltype(&::WinHttpGetDefaultProxyConfiguration)) \
  X(WinHttp, WinHttpQueryAuthSchemes,        decltype(&::WinHttpQueryAuthSchemes))                  \
  X(WinHttp, WinHttpSetCredentials,          decltype(&::WinHttpSetCredentials))                    \
  X(Bcrypt,  BCryptOpenAlgorithmProvider,    decltype(&::BCryptOpenAlgorithmProvider))              \
  X(Bcrypt,  BCryptCloseAlgorithmProvider,   decltype(&::BCryptCloseAlgorithmProvider))             \
  X(Bcrypt,  BCryptCreateHash,               decltype(&::BCryptCreateHash))                         \
  X(Bcrypt,  BCryptHashData,                 decltype(&::BCryptHashData))                           \
  X(Bcrypt,  BCryptFinishHash,               decltype(&::BCryptFinishHash))                         \
  X(Bcrypt,  BCryptDestroyHash,              decltype(&::BCryptDestroyHash))                        \
  X(Bcrypt,  BCryptImportKeyPair,            decltype(&::BCryptImportKeyPair))                      \
  X(Bcrypt,  BCryptVerifySignature,          decltype(&::BCryptVerifySignature))                    \
  X(Bcrypt,  BCryptDestroyKey,               decltype(&::BCryptDestroyKey))                         \
  X(D2D1,    D2D1CreateFactory,              D2D1CreateFactoryFunction)                             \
  X(DWrite,  DWriteCreateFactory,            decltype(&::DWriteCreateFactory))                      \
  X(DwmApi,  DwmSetWindowAttribute,          decltype(&::DwmSetWindowAttribute))                    \
  X(DwmApi,  DwmExtendFrameIntoClientArea,   decltype(&::DwmExtendFrameIntoClientArea))             \
  X(OleAcc,  LresultFromObject,              decltype(&::LresultFromObject))                        \
  X(OleAcc,  AccessibleObjectFromWindow,     decltype(&::AccessibleObjectFromWindow))               \
  X(UiaCore, UiaReturnRawElementProvider,    uia::ReturnRawElementProvider)                         \
  X(UiaCore, UiaHostProviderFromHwnd,        uia::HostProviderFromHwnd)                             \
  X(UiaCore, UiaRaiseAutomationEvent,        uia::RaiseAutomationEvent)                             \
  X(UiaCore, UiaRaiseAutomationPropertyChangedEvent, uia::RaiseAutomationPropertyChangedEvent)      \
  X(UiaCore, UiaRaiseStructureChangedEvent,  uia::RaiseStructureChangedEvent)                       \
  X(UiaCore, UiaClientsAreListening,         uia::ClientsAreListening)                              \
  /* Windows 10 1703 and 1607: each may be missing on its own. */                                   \
  X(User32,  SetProcessDpiAwarenessContext,  decltype(&::SetProcessDpiAwarenessContext))            \
  X(User32,  GetDpiForWindow,                decltype(&::GetDpiForWindow))
// clang-format on

struct SystemFunctions {
#define KESTRELUME_DECLARE_SYSTEM_FUNCTION(library, name, type) type name = nullptr;
  KESTRELUME_SYSTEM_FUNCTIONS(KESTRELUME_DECLARE_SYSTEM_FUNCTION)
#undef KESTRELUME_DECLARE_SYSTEM_FUNCTION

  // True when the library and every function listed for it were found.
  bool Has(SystemLibrary library) const { return complete[static_cast<int>(library)]; }

  bool complete[static_cast<int>(SystemLibrary::Count)] = {};
};

// The library file name, e.g. L"winhttp.dll".
const wchar_t* SystemLibraryName(SystemLibrary library);

// Loads each library with `load` and resolves the table; a library with a
// function missing counts as missing whole, except User32's optional ones.
SystemFunctions ResolveSystemFunctions(HMODULE (*load)(const wchar_t* name));

// The process's table, resolved from System32 on first use (thread-safe).
const SystemFunctions& System();

// Tests only: makes System() return `functions` (null restores the real
// table). Not for use while other threads run.
void ReplaceSystemFunctionsForTesting(const SystemFunctions* functions);

}  // namespace kestrelume
