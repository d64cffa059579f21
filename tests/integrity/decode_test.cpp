#include "integrity/decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelume {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(HexDecode, DecodesPairsAndRejectsEverythingElse) {
  std::vector<uint8_t> out = {1, 2, 3};
  EXPECT_TRUE(HexDecode("", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(HexDecode("00ff7F80", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xff, 0x7f, 0x80}));
  EXPECT_TRUE(HexDecode("0123456789abcdefABCDEF", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xab, 0xcd, 0xef}));

  for (const char* bad : {"0", "abc", "0g", "g0", " 00", "00 ", "0x00", "zz", "-1", "0\n"}) {
    out = {9};
    EXPECT_FALSE(HexDecode(bad, out)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
  out = {9};
  EXPECT_FALSE(HexDecode(std::string_view("00\0" "0", 4), out));
  EXPECT_TRUE(out.empty());
}

TEST(Base64Decode, DecodesStandardAlphabetWithLoosePadding) {
  struct Case {
    std::string_view text;
    std::string_view bytes;
  };
  const Case good[] = {
      {"", ""},
      {"TWFu", "Man"},
      {"TWE=", "Ma"},
      {"TWE", "Ma"},
      {"TQ==", "M"},
      {"TQ", "M"},
      {"TQ===", "M"},
      {"TQ= =\r\n=\t", "M"},
      {" T W\tF\r\nu \n", "Man"},
      {"=", ""},
      {"TR==", "M"},   // the four bits left over are not checked
      {"TWF=", "Ma"},  // nor are two
      {"/+/+", "\xff\xef\xfe"},
      {"AAAA", std::string_view("\0\0\0", 3)},
      {"YWJjZGVm", "abcdef"},
  };
  std::vector<uint8_t> out;
  for (const Case& c : good) {
    out = {7};
    EXPECT_TRUE(Base64Decode(c.text, out)) << c.text;
    EXPECT_EQ(out, Bytes(c.bytes)) << c.text;
  }

  const std::string_view bad[] = {
      "T",       "TWFuT",  "TWFuT==", "TQ==TQ", "TQ=A", "TW-u", "TW_u",  "TWFu*",
      "TW\vFu",  "TW.u",   "\xC3\xA9", std::string_view("TW\0u", 4), "-",  "_",
  };
  for (std::string_view text : bad) {
    out = {7};
    EXPECT_FALSE(Base64Decode(text, out)) << text;
    EXPECT_TRUE(out.empty()) << text;
  }
}

}  // namespace
}  // namespace kestrelume
