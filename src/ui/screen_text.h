#pragma once
// The title and the second text of a screen, from the window's copy of
// Progress. Value in, value out.

#include <cstdint>
#include <string>

#include "workflow/progress.h"

namespace kestrelume {

// Whole per cent of done / total, truncated; 0 when total is 0.
int DownloadPercent(uint64_t done, uint64_t total);
// A byte count in megabytes of 1,048,576 bytes with one decimal ("2.1").
std::wstring Megabytes(uint64_t bytes);

struct ScreenTexts {
  std::wstring title;
  std::wstring second;  // the detail line, or on a failure screen the explanation
};

ScreenTexts TextsFor(const Progress& progress);

}  // namespace kestrelume
