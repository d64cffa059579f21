#pragma once
// Pictures of the ten sample screens instead of a window: each drawn at
// scale 2 (640 x 680 pixels, 192 DPI) into "<folder>\<name>.png". Main
// thread with COM initialised; no window, worker or network request.

#include <string>
#include <string_view>

#include "app/app.h"
#include "workflow/progress.h"

namespace kestrelume {

struct SnapshotSample {
  std::wstring_view name;
  Phase phase;
  Failure failure;
  uint64_t bytes_done;
  ButtonAction hover;
};

inline constexpr uint64_t kSnapshotBytesTotal = 6'440'070;
inline constexpr SnapshotSample kSnapshotSamples[] = {
    {L"01-checking", Phase::Checking, Failure::None, 0, ButtonAction::None},
    {L"02-downloading", Phase::Downloading, Failure::None, 2'200'000, ButtonAction::None},
    {L"03-downloading-hover-cancel", Phase::Downloading, Failure::None, 5'100'000,
     ButtonAction::Cancel},
    {L"04-opening", Phase::Opening, Failure::None, 6'440'070, ButtonAction::None},
    {L"05-offline", Phase::Failed, Failure::Offline, 0, ButtonAction::TryAgain},
    {L"06-verify", Phase::Failed, Failure::Verify, 0, ButtonAction::None},
    {L"07-disk", Phase::Failed, Failure::Disk, 0, ButtonAction::None},
    {L"08-windows-too-old", Phase::Failed, Failure::WindowsTooOld, 0, ButtonAction::None},
    {L"09-retired", Phase::Failed, Failure::Retired, 0, ButtonAction::None},
    {L"10-blocked", Phase::Failed, Failure::Blocked, 0, ButtonAction::None},
};

// The drawn fraction of a sample: its byte counts in single precision, 1 on
// the opening screen, 0 elsewhere.
float SnapshotFraction(const SnapshotSample& sample);

// Makes the drawing resources, the folder and the ten pictures. 1 when the
// resources, a bitmap or its render target cannot be made; otherwise 0,
// even when a file could not be written.
int RenderSnapshots(App& app, const std::wstring& folder);

}  // namespace kestrelume
