#pragma once
// Data resources (RT_RCDATA) of the running executable.

#include <cstdint>
#include <span>

namespace kestrelume {

inline constexpr int kLogoResource = 101;          // 500 x 500 RGBA PNG, white on transparent
inline constexpr int kTitleFontResource = 102;     // "Unbounded" 600
inline constexpr int kDetailFontResource = 103;    // "JetBrains Mono" 400

// The bytes of resource `id` in the executable's own module; empty when it is
// missing. The memory stays valid for the life of the process.
std::span<const uint8_t> ResourceBytes(int id);

}  // namespace kestrelume
