#pragma once
// Where a release is read from: a folder laid out like the web host
// (update\stable.json, its .sig, the setup program at its address's path) or
// the manifest's address itself, fetched as the installer fetches it.

#include <cstdint>
#include <string>

#include "net/http_session.h"

namespace kestrelume {

inline constexpr uint64_t kManifestLimit = 65536;
inline constexpr uint64_t kSignatureLimit = 4096;

// How one document or the setup program came out; `problem` is empty on success.
struct SourceResult {
  bool ok = false;
  std::string problem;
};

class ReleaseSource {
 public:
  virtual ~ReleaseSource() = default;
  // Both documents, with the installer's size limits.
  virtual SourceResult ReadDocuments(std::string& manifest, std::string& signature) = 0;
  // The setup program at `address` (as the installer would ask for it),
  // checked against size and digest. `skipped` is set when it was not looked at.
  virtual SourceResult CheckSetup(const std::string& address, uint64_t size, const std::string& sha256,
                                  bool& skipped) = 0;
  // The manifest bytes that were signed with `signature`, from the record
  // publish-release keeps beside the manifest (update/history/index.txt: the
  // SHA-256 of each signature document and the manifest file it signed);
  // false when there is no such record.
  virtual bool FindSigned(const std::string& signature, std::string& manifest) = 0;
};

class FolderSource : public ReleaseSource {
 public:
  explicit FolderSource(std::wstring folder) : folder_(std::move(folder)) {}
  SourceResult ReadDocuments(std::string& manifest, std::string& signature) override;
  // Looks for the file at the address's path inside the folder; fails with
  // `skipped` set when it is not there.
  SourceResult CheckSetup(const std::string& address, uint64_t size, const std::string& sha256,
                          bool& skipped) override;
  bool FindSigned(const std::string& signature, std::string& manifest) override;

 private:
  std::wstring folder_;
};

// A setup program file checked against the manifest's size and digest.
SourceResult CheckSetupFile(const std::wstring& path, uint64_t size, const std::string& sha256);

// The manifest that is live now, from an address or a Windows file path.
// `absent` is set when there is none (no file; a 404 or 410 answer), which is
// not the same as one that cannot be read.
SourceResult ReadLiveManifest(const std::string& where, std::string& text, bool& absent);

class AddressSource : public ReleaseSource {
 public:
  explicit AddressSource(std::string manifest_url);
  SourceResult ReadDocuments(std::string& manifest, std::string& signature) override;
  // Downloads into a private temporary folder that is removed afterwards.
  SourceResult CheckSetup(const std::string& address, uint64_t size, const std::string& sha256,
                          bool& skipped) override;
  bool FindSigned(const std::string& signature, std::string& manifest) override;

 private:
  std::string url_;
  HttpSession http_;
};

}  // namespace kestrelume
