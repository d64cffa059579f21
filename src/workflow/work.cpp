// One run of the worker: manifest and signature, validation, cache or
// download with one mirror attempt, then hand-over or exactly one Failure.
// A cancelled run ends without touching Progress.

#include <optional>
#include <string>
#include <utility>

#include "app/app.h"
#include "integrity/signature.h"
#include "manifest/address.h"
#include "manifest/json_reader.h"
#include "manifest/manifest.h"
#include "workflow/cache.h"
#include "workflow/windows_version.h"

namespace kestrelume {
namespace {

constexpr uint64_t kManifestLimit = 65536;
constexpr uint64_t kSignatureLimit = 4096;
// How long a fresh download may be held by someone else (a scanner) before
// it counts as unopenable. Closing the window waits for it at most this long.
constexpr DWORD kReopenPatienceMs = 1500;

// What a finished transfer means for the run: go on, end silently
// (cancelled), or fail with `failure`.
struct Outcome {
  bool proceed = false;
  bool silent = false;
  Failure failure = Failure::None;
};

Outcome FromFetch(TransferResult result) {
  switch (result) {
    case TransferResult::Ok: return {true, false, Failure::None};
    // A login the installer cannot give is the network's doing, not the
    // release's: the offline installer is the way on.
    case TransferResult::NetworkError:
    case TransferResult::LoginRequired: return {false, false, Failure::Offline};
    case TransferResult::Cancelled: return {false, true, Failure::None};
    default: return {false, false, Failure::Verify};
  }
}

Outcome FromDownload(TransferResult result) {
  switch (result) {
    case TransferResult::Ok: return {true, false, Failure::None};
    case TransferResult::NetworkError:
    case TransferResult::LoginRequired: return {false, false, Failure::Offline};
    case TransferResult::FileError: return {false, false, Failure::Disk};
    case TransferResult::Cancelled: return {false, true, Failure::None};
    default: return {false, false, Failure::Verify};  // HttpError, TooLarge, DigestMismatch
  }
}

std::optional<Failure> FromCheck(ManifestCheck check) {
  switch (check) {
    case ManifestCheck::Ok: return std::nullopt;
    case ManifestCheck::WindowsTooOld: return Failure::WindowsTooOld;
    case ManifestCheck::Retired: return Failure::Retired;
    default: return Failure::Verify;  // Invalid, VersionTooLow
  }
}

}  // namespace

void App::Work() {
  auto fail = [this](Failure failure) {
    UpdateProgress([failure](Progress& p) {
      p.phase = Phase::Failed;
      p.failure = failure;
    });
  };
  auto finish = [&](const Outcome& outcome) {
    if (!outcome.silent) fail(outcome.failure);
  };

  std::string manifest_text;
  std::string signature_text;
  TransferResult fetched = http.Fetch(manifest_url, kManifestLimit, manifest_text);
  // The signature lives at the whole manifest address plus ".sig", after
  // any query text.
  if (fetched == TransferResult::Ok) {
    fetched = http.Fetch(manifest_url + ".sig", kSignatureLimit, signature_text);
  }
  if (const Outcome o = FromFetch(fetched); !o.proceed) return finish(o);

  const TrustedKeys keys = BuiltInTrustedKeys();
  if (!VerifySignature(manifest_text, signature_text, keys)) return fail(Failure::Verify);

  Manifest manifest;
  if (!ParseManifest(manifest_text, manifest)) return fail(Failure::Verify);
  if (const auto failure = FromCheck(ValidateManifest(manifest, WindowsVersionText()))) {
    return fail(*failure);
  }

  UpdateProgress([&manifest](Progress& p) {
    p.phase = Phase::Downloading;
    p.version = manifest.version;
    p.bytes_total = manifest.size;
  });

  if (work_dir.empty() || !EnsureDirectory(work_dir)) return fail(Failure::Disk);
  const std::wstring setup_path = work_dir + L"\\" + LocalFileName(manifest.version, attribution);
  RemoveStaleSetups(work_dir, setup_path, manifest.size);

  // The file goes to the window still open from its check, so that nothing
  // can change or remove it before setup starts.
  auto hand_over = [&](UniqueFile verified) {
    UpdateProgress([&](Progress& p) {
      verified_setup = std::move(verified);
      p.bytes_done = manifest.size;
      p.setup_path = setup_path;
      p.phase = Phase::Opening;
    });
  };
  if (UniqueFile cached = OpenVerifiedSetup(setup_path, manifest.size, manifest.sha256)) {
    return hand_over(std::move(cached));
  }

  const auto on_bytes = [this](uint64_t count) {
    UpdateProgress([count](Progress& p) { p.bytes_done = count; });
  };
  TransferResult downloaded = http.Download(DownloadAddress(manifest.url), setup_path,
                                            manifest.size, manifest.sha256, on_bytes);
  if ((downloaded == TransferResult::NetworkError || downloaded == TransferResult::HttpError ||
       downloaded == TransferResult::LoginRequired) &&
      !manifest.mirror.empty()) {
    // The mirror is fetched exactly as the manifest names it: no marker. It
    // resumes what the first address left (the same digest names the same
    // bytes), so the count goes on from there.
    downloaded = http.Download(manifest.mirror, setup_path, manifest.size, manifest.sha256, on_bytes);
  }
  if (const Outcome o = FromDownload(downloaded); !o.proceed) return finish(o);
  // Checked once more through the handle that is kept: the file may have
  // been changed between its move into place and this open. A file that
  // cannot be opened at all is a file problem, not a failed check.
  UniqueFile verified;
  switch (ReopenVerifiedSetup(setup_path, manifest.size, manifest.sha256, kReopenPatienceMs,
                              verified)) {
    case SetupCheck::Verified: return hand_over(std::move(verified));
    case SetupCheck::CannotOpen:
      // A window closed during the wait ends the run without a change.
      if (!http.IsCancelled()) fail(Failure::Disk);
      return;
    default: return fail(Failure::Verify);
  }
}

}  // namespace kestrelume
