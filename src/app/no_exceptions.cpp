// The installer is built without exceptions: nothing in it throws or
// catches. Two kinds of call could still raise one: the global operator new
// when memory runs out, and the std::__throw_* functions that the standard
// library's headers call when a string or container is asked for an
// impossible length or position. libstdc++'s own versions throw, and linking
// them brings in the whole exception runtime (unwinder, type information,
// the default terminate handler with its demangler, printf): more than
// 100 KB. Here each of them ends the process, as an exception that nobody
// catches did before.
//
// Should a new call need one more of these, the linker takes libstdc++'s
// object that holds all of them and stops on the duplicate definitions, so
// the gap cannot go unnoticed.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "base/fail_fast.h"

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  kestrelume::FailFast();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace std {
void __throw_bad_alloc() { kestrelume::FailFast(); }
void __throw_bad_array_new_length() { kestrelume::FailFast(); }
void __throw_bad_function_call() { kestrelume::FailFast(); }
void __throw_length_error(const char*) { kestrelume::FailFast(); }
void __throw_logic_error(const char*) { kestrelume::FailFast(); }
void __throw_out_of_range(const char*) { kestrelume::FailFast(); }
void __throw_out_of_range_fmt(const char*, ...) { kestrelume::FailFast(); }
}  // namespace std

// g++ 13 and later leave one member of std::string and std::wstring out of
// line even in C++20 (an extern template): the slow path of replace, assign
// and insert. libstdc++ defines it in the object that holds every string
// member, built with exceptions, so linking that object brings back the whole
// exception runtime (about 130 KB with g++ 14). Instantiated here, in code
// built without exceptions, the linker never needs that object.
#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 13
template void std::string::_M_replace_cold(char*, size_type, const char*, size_type, size_type);
template void std::wstring::_M_replace_cold(wchar_t*, size_type, const wchar_t*, size_type, size_type);
#endif
