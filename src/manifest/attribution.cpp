#include "manifest/attribution.h"

#include <vector>

#include "base/ascii.h"
#include "base/utf.h"

namespace kestrelume {
namespace {

constexpr std::wstring_view kExeExtension = L".exe";
constexpr std::string_view kSrcPrefix = "src-";
constexpr std::string_view kTPrefix = "t-";

bool EndsWithExe(std::wstring_view name) {
  if (name.size() < kExeExtension.size()) return false;
  const std::wstring_view tail = name.substr(name.size() - kExeExtension.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    if (AsciiLower(tail[i]) != kExeExtension[i]) return false;
  }
  return true;
}

// A browser saving a second copy names it "name (2).exe"; the tags of the
// original still apply.
std::wstring_view WithoutCopySuffix(std::wstring_view stem) {
  if (!stem.ends_with(L')')) return stem;
  const size_t open = stem.rfind(L'(');
  if (open == std::wstring_view::npos) return stem;
  const std::wstring_view inside = stem.substr(open + 1, stem.size() - open - 2);
  if (inside.empty()) return stem;
  for (const wchar_t c : inside) {
    if (c < L'0' || c > L'9') return stem;
  }
  stem = stem.substr(0, open);
  while (stem.ends_with(L' ')) stem.remove_suffix(1);
  return stem;
}

std::vector<std::wstring_view> SplitAtDots(std::wstring_view text) {
  std::vector<std::wstring_view> segments;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(L'.', start);
    if (dot == std::wstring_view::npos) break;
    segments.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
  segments.push_back(text.substr(start));
  return segments;
}

}  // namespace

Attribution ParseAttribution(std::wstring_view file_name) {
  Attribution attribution;
  if (!EndsWithExe(file_name)) return attribution;
  const std::wstring_view stem = WithoutCopySuffix(file_name.substr(0, file_name.size() - kExeExtension.size()));
  bool src_seen = false;
  bool t_seen = false;
  for (const std::wstring_view segment : SplitAtDots(stem)) {
    const std::string text = WideToUtf8(segment);
    const std::string_view view = text;
    if (!src_seen && view.starts_with(kSrcPrefix)) {
      src_seen = true;
      const std::string_view tag = view.substr(kSrcPrefix.size());
      if (IsValidTag(tag, kSrcTagLimit)) attribution.src = tag;
    } else if (!t_seen && view.starts_with(kTPrefix)) {
      t_seen = true;
      const std::string_view tag = view.substr(kTPrefix.size());
      if (IsValidTag(tag, kTTagLimit)) attribution.t = tag;
    }
  }
  return attribution;
}

std::wstring LocalFileName(std::string_view version, const Attribution& attribution) {
  std::wstring name(kSetupFilePrefix);
  name += Utf8ToWide(version);
  if (IsValidTag(attribution.src, kSrcTagLimit)) {
    name += L".src-";
    name += Utf8ToWide(attribution.src);
  }
  if (IsValidTag(attribution.t, kTTagLimit)) {
    name += L".t-";
    name += Utf8ToWide(attribution.t);
  }
  name += kExeExtension;
  return name;
}

std::wstring OfflineInstallerAddress(const Attribution& attribution) {
  std::wstring query;
  if (IsValidTag(attribution.src, kSrcTagLimit)) {
    query += L"src=";
    query += Utf8ToWide(attribution.src);
  }
  if (IsValidTag(attribution.t, kTTagLimit)) {
    if (!query.empty()) query += L'&';
    query += L"t=";
    query += Utf8ToWide(attribution.t);
  }
  std::wstring address = L"https://";
  address += kWebsiteHost;
  address += L"/download/Kestrelume-Setup.exe";
  if (!query.empty()) {
    address += L'?';
    address += query;
  }
  return address;
}

}  // namespace kestrelume
