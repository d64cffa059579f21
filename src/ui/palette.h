#pragma once
// The installer's colours: red, green, blue and alpha from 0 to 1, each
// channel an 8-bit value divided by 255.

#include <d2d1.h>

#include <cstdint>

namespace kestrelume {

constexpr D2D1_COLOR_F Rgb(uint32_t rgb, float alpha = 1.0f) {
  return D2D1_COLOR_F{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                      static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                      static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

namespace palette {
inline constexpr uint32_t kBackground = 0x0B0A0A;
inline constexpr uint32_t kBackdropCentre = 0x1A1715;
inline constexpr uint32_t kTrack = 0x24201D;
inline constexpr uint32_t kTrackFailed = 0x3D332E;
inline constexpr uint32_t kTextPrimary = 0xF1ECE2;
inline constexpr uint32_t kTextSecondary = 0xB9B1A5;
inline constexpr uint32_t kTextTertiary = 0x7D766D;
inline constexpr uint32_t kHaloGold = 0xD9B574;

struct GoldStop {
  float position;
  uint32_t rgb;
};
inline constexpr GoldStop kGoldGradient[] = {
    {0.00f, 0xF6EAD2}, {0.28f, 0xE6CB95}, {0.52f, 0xC69A52}, {0.74f, 0xE9CF98}, {1.00f, 0xF8EEDB},
};
}  // namespace palette

// The system's colour pairs (0xRRGGBB), used for everything while a
// high-contrast theme is on.
struct SystemColours {
  uint32_t window = 0xFFFFFF;          // COLOR_WINDOW: backdrop
  uint32_t window_text = 0x000000;     // COLOR_WINDOWTEXT: texts, logo
  uint32_t highlight = 0x0078D7;       // COLOR_HIGHLIGHT: primary button, arc, focus ring
  uint32_t highlight_text = 0xFFFFFF;  // COLOR_HIGHLIGHTTEXT: labels on highlight
  uint32_t gray_text = 0x6D6D6D;       // COLOR_GRAYTEXT: the detail line
  uint32_t button_text = 0x000000;     // COLOR_BTNTEXT: outlines and the ring's track
};

}  // namespace kestrelume
