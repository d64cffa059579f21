#include "integrity/signature.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The fixtures are made on the build host by make-fixtures: a manifest signed
// with the two development keys through the publisher's signing tool, the
// signature text in several forms, and the public halves the tool prints.

namespace kestrelume {
namespace {

std::string ReadFixture(const std::string& name) {
  // The folder is a host path; Wine maps the host root to drive Z.
  const std::string path = std::string("Z:") + KESTRELUME_INTEGRITY_FIXTURES + "/" + name;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    ADD_FAILURE() << "missing fixture " << path << " (made by the integrity_fixtures test)";
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

struct Fixtures {
  std::string manifest = ReadFixture("manifest.json");
  std::string key1 = Trimmed(ReadFixture("key1.pub"));
  std::string key2 = Trimmed(ReadFixture("key2.pub"));
  std::string sig1 = ReadFixture("key1.sig");
  std::string sig2 = ReadFixture("key2.sig");
};

TEST(VerifySignature, SignatureOfFirstKeyVerifies) {
  const Fixtures f;
  ASSERT_EQ(f.key1.size(), 128u);
  ASSERT_EQ(f.sig1.back(), '\n');  // the signing tool ends the document with a line break
  EXPECT_TRUE(VerifyWithKey(f.manifest, f.sig1, f.key1));
  EXPECT_TRUE(VerifyWithKey(f.manifest, ReadFixture("key1-bare.sig"), f.key1));
  const std::string_view keys[] = {f.key1, f.key2};
  EXPECT_TRUE(VerifySignature(f.manifest, f.sig1, keys));
  // The key's value is what matters, not its case.
  std::string upper = f.key1;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(VerifyWithKey(f.manifest, f.sig1, upper));
}

TEST(VerifySignature, SecondKeyVerifiesAfterFirstKeyHasFailed) {
  const Fixtures f;
  EXPECT_FALSE(VerifyWithKey(f.manifest, f.sig2, f.key1));
  EXPECT_TRUE(VerifyWithKey(f.manifest, f.sig2, f.key2));
  const std::string_view both[] = {f.key1, f.key2};
  EXPECT_TRUE(VerifySignature(f.manifest, f.sig2, both));
  const std::string_view first_only[] = {f.key1};
  EXPECT_FALSE(VerifySignature(f.manifest, f.sig2, first_only));
  EXPECT_FALSE(VerifySignature(f.manifest, f.sig2, std::span<const std::string_view>()));
}

TEST(VerifySignature, AnyChangeToManifestBytesFails) {
  const Fixtures f;
  ASSERT_TRUE(VerifyWithKey(f.manifest, f.sig1, f.key1));
  const std::string_view keys[] = {f.key1, f.key2};

  std::string changed = f.manifest;
  changed[changed.find("1.4.2")] = '2';
  std::string flipped = f.manifest;
  flipped[flipped.size() / 2] ^= 0x01;
  const std::string variants[] = {
      changed,
      flipped,
      f.manifest + " ",
      f.manifest + "\n",
      f.manifest + "\r\n",
      "\xEF\xBB\xBF" + f.manifest,
      f.manifest.substr(0, f.manifest.size() - 1),
      "",
  };
  for (const std::string& manifest : variants) {
    EXPECT_FALSE(VerifySignature(manifest, f.sig1, keys)) << manifest;
  }
}

TEST(VerifySignature, SignatureTextWithWhitespaceOrOtherPaddingVerifies) {
  const Fixtures f;
  for (const char* name : {"key1-lines.sig", "key1-unpadded.sig", "key1-third-pad.sig"}) {
    const std::string text = ReadFixture(name);
    EXPECT_NE(text, f.sig1) << name;
    EXPECT_TRUE(VerifyWithKey(f.manifest, text, f.key1)) << name;
  }
}

TEST(VerifySignature, SignatureTextOfWrongFormFails) {
  const Fixtures f;
  const std::string_view keys[] = {f.key1, f.key2};
  const std::string url_safe = ReadFixture("key1-url-safe.sig");
  EXPECT_NE(url_safe.find_first_of("-_"), std::string::npos);
  EXPECT_FALSE(VerifySignature(f.manifest, url_safe, keys));
  for (const char* name : {"key1-63-bytes.sig", "key1-65-bytes.sig", "key1-der.sig"}) {
    EXPECT_FALSE(VerifySignature(f.manifest, ReadFixture(name), keys)) << name;
  }
  EXPECT_FALSE(VerifySignature(f.manifest, "", keys));
  EXPECT_FALSE(VerifySignature(f.manifest, std::string(88, 'A'), keys));  // 64 zero bytes
  // The right bytes with a broken character in the middle.
  std::string broken = f.sig1;
  broken[40] = '*';
  EXPECT_FALSE(VerifySignature(f.manifest, broken, keys));
}

TEST(VerifySignature, MalformedOrEmptyKeyFailsWhileOtherKeyIsStillTried) {
  const Fixtures f;
  ASSERT_EQ(f.key1.size(), 128u);
  std::string non_hex = f.key1;
  non_hex[10] = 'g';
  std::string off_curve = f.key1;
  off_curve[127] = off_curve[127] == '0' ? '1' : '0';
  const std::string bad_keys[] = {
      std::string(128, '0'),
      f.key1.substr(0, 127),
      non_hex,
      f.key1.substr(0, 126),
      f.key1 + "00",
      f.key1.substr(64) + f.key1.substr(0, 64),  // Y and X swapped
      off_curve,
      "",
  };
  for (const std::string& bad : bad_keys) {
    EXPECT_FALSE(VerifyWithKey(f.manifest, f.sig1, bad)) << bad;
    const std::string_view bad_first[] = {bad, f.key1};
    EXPECT_TRUE(VerifySignature(f.manifest, f.sig1, bad_first)) << bad;
    const std::string_view bad_second[] = {f.key2, bad};
    EXPECT_TRUE(VerifySignature(f.manifest, f.sig2, bad_second)) << bad;
  }
  const std::string_view zeros[] = {bad_keys[0], bad_keys[0]};
  EXPECT_FALSE(VerifySignature(f.manifest, f.sig1, zeros));
  const std::string_view malformed[] = {bad_keys[1], bad_keys[3]};
  EXPECT_FALSE(VerifySignature(f.manifest, f.sig1, malformed));
}

TEST(TrustedKeys, DevelopmentBuildTrustsPublicHalvesOfDevelopmentKeys) {
  if (!KESTRELUME_DEV_BUILD) GTEST_SKIP() << "built with release keys";
  const Fixtures f;
  const TrustedKeys keys = BuiltInTrustedKeys();
  EXPECT_EQ(keys[0], f.key1);
  EXPECT_EQ(keys[1], f.key2);
  EXPECT_TRUE(VerifySignature(f.manifest, f.sig1, keys));
  EXPECT_TRUE(VerifySignature(f.manifest, f.sig2, keys));
}

}  // namespace
}  // namespace kestrelume
