#include "system/system_functions.h"

#include <atomic>

#include "system/system_library.h"

namespace kestrelume {

namespace {

constexpr const wchar_t* kLibraryNames[] = {L"winhttp.dll", L"bcrypt.dll", L"d2d1.dll",
                                            L"dwrite.dll",  L"dwmapi.dll", L"oleacc.dll",
                                            L"uiautomationcore.dll", L"user32.dll"};
static_assert(sizeof(kLibraryNames) / sizeof(kLibraryNames[0]) == static_cast<size_t>(SystemLibrary::Count));

// Functions that newer Windows added to a library that older Windows has:
// missing them leaves the rest usable.
constexpr bool IsOptional(SystemLibrary library) { return library == SystemLibrary::User32; }

template <typename Pointer>
void Resolve(HMODULE module, const char* name, Pointer& out, bool& complete) {
  out = module ? reinterpret_cast<Pointer>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
  if (!out) complete = false;
}

void ClearIncomplete(SystemFunctions& functions) {
#define KESTRELUME_CLEAR_SYSTEM_FUNCTION(library, name, type)                  \
  if (!IsOptional(SystemLibrary::library) && !functions.Has(SystemLibrary::library)) \
    functions.name = nullptr;
  KESTRELUME_SYSTEM_FUNCTIONS(KESTRELUME_CLEAR_SYSTEM_FUNCTION)
#undef KESTRELUME_CLEAR_SYSTEM_FUNCTION
}

std::atomic<const SystemFunctions*> replacement{nullptr};

}  // namespace

const wchar_t* SystemLibraryName(SystemLibrary library) { return kLibraryNames[static_cast<int>(library)]; }

SystemFunctions ResolveSystemFunctions(HMODULE (*load)(const wchar_t* name)) {
  SystemFunctions functions;
  HMODULE modules[static_cast<int>(SystemLibrary::Count)];
  for (int i = 0; i < static_cast<int>(SystemLibrary::Count); ++i) {
    modules[i] = load(kLibraryNames[i]);
    functions.complete[i] = modules[i] != nullptr;
  }
#define KESTRELUME_RESOLVE_SYSTEM_FUNCTION(library, name, type)              \
  Resolve(modules[static_cast<int>(SystemLibrary::library)], #name, functions.name, \
          functions.complete[static_cast<int>(SystemLibrary::library)]);
  KESTRELUME_SYSTEM_FUNCTIONS(KESTRELUME_RESOLVE_SYSTEM_FUNCTION)
#undef KESTRELUME_RESOLVE_SYSTEM_FUNCTION
  ClearIncomplete(functions);
  return functions;
}

const SystemFunctions& System() {
  if (const SystemFunctions* functions = replacement.load(std::memory_order_acquire)) return *functions;
  // The platform's one-time initialisation rather than a function-local
  // static: the compiler's guard for those comes from the C++ runtime with
  // its exception and threading support, some 100 KB in this program.
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static SystemFunctions resolved;  // all null until the first call
  InitOnceExecuteOnce(
      &once,
      [](INIT_ONCE*, void*, void**) -> BOOL {
        resolved = ResolveSystemFunctions(LoadSystemLibrary);
        return TRUE;
      },
      nullptr, nullptr);
  return resolved;
}

void ReplaceSystemFunctionsForTesting(const SystemFunctions* functions) {
  replacement.store(functions, std::memory_order_release);
}

}  // namespace kestrelume
