#pragma once
// The acceptance scenarios: each runs the real installer (once, or a few
// times where the scenario is about a repeat) against the kit's server and
// judges what a user would see: the outcome it reports, the files it leaves,
// what it asked the server for, what the stand-in setup program recorded,
// what a screen reader reads, and pictures of the window. Runner main thread.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/windows_kit/kit_server.h"
#include "tools/windows_kit/report.h"

namespace kestrelume::kit {

struct Kit {
  std::wstring folder;      // the kit folder: installer, setup program, releases
  std::wstring runs;        // a fresh folder for the scenarios' work folders
  std::wstring report_dir;  // where the reports and pictures go
  uint16_t port = 0;
  bool wine = false;
  KitServer server;
  int pictures = 0;
  unsigned long long first_frame_ms = 0;  // of the whole install; 0 when not seen

  std::wstring installer() const { return folder + L"\\KestrelumeInstaller.exe"; }
  std::wstring marker_dll() const { return folder + L"\\marker.dll"; }
  std::wstring Address(const std::wstring& path) const;
};

struct Scenario {
  const char* name;
  const char* purpose;
  void (*run)(Kit& kit, ScenarioResult& result);
};

const std::vector<Scenario>& AllScenarios();

}  // namespace kestrelume::kit
