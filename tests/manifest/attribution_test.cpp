#include "manifest/attribution.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrelume {
namespace {

TEST(Attribution, ParseAttributionReadsTagsFromDotSeparatedSegments) {
  struct Case {
    std::wstring name;
    std::string src;
    std::string t;
  };
  const std::wstring src40(40, L's');
  const std::wstring t64(64, L't');
  const Case cases[] = {
      {L"KestrelumeSetup.src-spring-news.t-7f3a.exe", "spring-news", "7f3a"},
      {L"KestrelumeSetup.t-7f3a.src-spring-news.exe", "spring-news", "7f3a"},
      {L"KestrelumeSetup.src-spring.EXE", "spring", ""},
      {L"KestrelumeSetup.src-spring.ExE", "spring", ""},
      {L"src-a.t-b.exe", "a", "b"},
      // Copy suffixes added by browsers are removed with the spaces before them.
      {L"KestrelumeSetup.src-spring-news (2).exe", "spring-news", ""},
      {L"KestrelumeSetup.src-spring-news   (12).exe", "spring-news", ""},
      {L"KestrelumeSetup.src-spring-news(3).exe", "spring-news", ""},
      {L"KestrelumeSetup.t-a1.src-b2 (2).exe", "b2", "a1"},
      // Anything else in parentheses stays and spoils a tag it lies in.
      {L"KestrelumeSetup.src-spring-news (copy).exe", "", ""},
      {L"KestrelumeSetup.src-spring-news ().exe", "", ""},
      {L"KestrelumeSetup.src-spring-news (2a).exe", "", ""},
      {L"KestrelumeSetup.src-spring-news 2).exe", "", ""},
      {L"KestrelumeSetup (2).src-spring.exe", "spring", ""},
      // Wrong or missing extension.
      {L"KestrelumeSetup.src-spring.exe.tmp", "", ""},
      {L"KestrelumeSetup.src-spring.exe.crdownload", "", ""},
      {L"KestrelumeSetup.src-spring", "", ""},
      {L"KestrelumeSetup.src-spring.ex", "", ""},
      {L".exe", "", ""},
      {L"exe", "", ""},
      {L"", "", ""},
      // The first src and t segments decide, even when their tag is no good.
      {L"KestrelumeSetup.src-Spring.src-news.exe", "", ""},
      {L"KestrelumeSetup.src-.src-news.t-.t-x.exe", "", ""},
      {L"KestrelumeSetup.src-a.src-b.t-c.t-d.exe", "a", "c"},
      // Prefixes are case-sensitive and must begin the segment.
      {L"KestrelumeSetup.SRC-news.T-x.exe", "", ""},
      {L"KestrelumeSetup.xsrc-news.at-x.exe", "", ""},
      {L"KestrelumeSetup.src_news.t_x.exe", "", ""},
      {L"KestrelumeSetup..src-news..t-x..exe", "news", "x"},
      // Length limits.
      {L"K.src-" + src40 + L".t-" + t64 + L".exe", std::string(40, 's'), std::string(64, 't')},
      {L"K.src-" + src40 + L"s.t-" + t64 + L"t.exe", "", ""},
      // Non-ASCII breaks the rule.
      {L"K.src-caf\u00E9.t-\u00E9.exe", "", ""},
  };
  for (const Case& c : cases) {
    const Attribution a = ParseAttribution(c.name);
    EXPECT_EQ(a.src, c.src) << std::string(c.name.begin(), c.name.end());
    EXPECT_EQ(a.t, c.t) << std::string(c.name.begin(), c.name.end());
  }
}

TEST(Attribution, LocalFileNameAddsOnlyValidTags) {
  EXPECT_EQ(LocalFileName("1.4.2", {"spring", "a1"}), L"KestrelumeSetup-1.4.2.src-spring.t-a1.exe");
  EXPECT_EQ(LocalFileName("1.4.2", {}), L"KestrelumeSetup-1.4.2.exe");
  EXPECT_EQ(LocalFileName("1.4.2", {"", "a1"}), L"KestrelumeSetup-1.4.2.t-a1.exe");
  EXPECT_EQ(LocalFileName("1.4.2", {"spring", ""}), L"KestrelumeSetup-1.4.2.src-spring.exe");
  // A tag that breaks the rule, however it got in, is left out.
  EXPECT_EQ(LocalFileName("2.0", {"..\\evil", "A1"}), L"KestrelumeSetup-2.0.exe");
  EXPECT_EQ(LocalFileName("2.0", {std::string(41, 'a'), std::string(65, 'b')}), L"KestrelumeSetup-2.0.exe");
  EXPECT_EQ(LocalFileName("2.0", {std::string(40, 'a'), std::string(64, 'b')}),
            L"KestrelumeSetup-2.0.src-" + std::wstring(40, L'a') + L".t-" + std::wstring(64, L'b') + L".exe");
  EXPECT_TRUE(LocalFileName("3", {}).starts_with(kSetupFilePrefix));
}

TEST(Attribution, OfflineInstallerAddressPutsValidTagsInTheQuerySrcFirst) {
  const std::wstring base = L"https://" + std::wstring(kWebsiteHost) + L"/download/Kestrelume-Setup.exe";
  EXPECT_EQ(OfflineInstallerAddress({}), base);
  EXPECT_EQ(OfflineInstallerAddress({"", "7f3a"}), base + L"?t=7f3a");
  EXPECT_EQ(OfflineInstallerAddress({"spring", ""}), base + L"?src=spring");
  EXPECT_EQ(OfflineInstallerAddress({"spring", "7f3a"}), base + L"?src=spring&t=7f3a");
  EXPECT_EQ(OfflineInstallerAddress({"Bad Tag", "7f3a"}), base + L"?t=7f3a");
  EXPECT_EQ(OfflineInstallerAddress({"spring", "x&y=1"}), base + L"?src=spring");
  EXPECT_EQ(OfflineInstallerAddress({"a#b", "-x"}), base);
}

}  // namespace
}  // namespace kestrelume
