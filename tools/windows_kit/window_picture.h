#pragma once
// Pictures of the installer's real window, as the screen shows it, saved as
// PNG through the Windows Imaging Component.
//
// On Windows the window is asked to draw itself into a bitmap with
// PrintWindow(PW_RENDERFULLCONTENT), which takes Direct2D content too and
// works while other windows cover it. Windows 7 and Wine leave Direct2D
// content out of PrintWindow; there the pixels are read off the screen
// instead (the installer's window is on top while the kit runs it). Runner
// main thread; COM must be set up on it.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelume::kit {

struct WindowPixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> bgra;  // top-down rows

  bool empty() const { return bgra.empty(); }
  // True when every pixel has one colour: nothing drawn yet.
  bool Uniform() const;
};

WindowPixels CaptureWindow(HWND window, bool from_screen);
bool SavePng(const WindowPixels& pixels, const std::wstring& path);

}  // namespace kestrelume::kit
