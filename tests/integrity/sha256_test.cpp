#include "integrity/sha256.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace kestrelume {
namespace {

std::string Digest(const std::string& message) {
  Sha256 hash;
  hash.Update(message.data(), message.size());
  return hash.Finish();
}

TEST(Sha256, KnownAnswersOfFips180Match) {
  EXPECT_EQ(Sha256().Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Digest(std::string(1'000'000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, UnevenPiecesGiveTheDigestOfOneCall) {
  const std::string message(1'000'000, 'a');
  Sha256 hash;
  size_t offset = 0;
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4093}, message.size() - 4101}) {
    hash.Update(message.data() + offset, piece);
    offset += piece;
  }
  ASSERT_EQ(offset, message.size());
  EXPECT_EQ(hash.Finish(), Digest(message));
}

TEST(Sha256, MessageLongerThanFourGibibytesIsHashedWhole) {
  // One call longer than a 32-bit length: pages committed but never written
  // read as zero and cost no memory.
  constexpr uint64_t kLength = (uint64_t{1} << 32) + 3;
  void* zeros = VirtualAlloc(nullptr, kLength, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  ASSERT_NE(zeros, nullptr) << "cannot reserve 4 GiB, error " << GetLastError();
  Sha256 hash;
  hash.Update(zeros, kLength);
  EXPECT_EQ(hash.Finish(), "930fa067940ff8d9f427e3a116b7598503c70ce7380d66ff65f8de33d558f7f3");
  VirtualFree(zeros, 0, MEM_RELEASE);
}

TEST(Sha256, ZeroLengthUpdatesChangeNothing) {
  Sha256 hash;
  hash.Update("x", 0);
  hash.Update(nullptr, 0);
  hash.Update("abc", 3);
  hash.Update("y", 0);
  EXPECT_EQ(hash.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, ObjectIsSpentAfterFinish) {
  Sha256 hash;
  hash.Update("abc", 3);
  EXPECT_EQ(hash.Finish().size(), 64u);
  hash.Update("abc", 3);
  EXPECT_EQ(hash.Finish(), "");
  std::array<uint8_t, Sha256::kDigestSize> digest;
  EXPECT_FALSE(hash.FinishBytes(digest));
}

TEST(Sha256, NullDataWithLengthGivesEmptyDigest) {
  Sha256 hash;
  hash.Update("ab", 2);
  hash.Update(nullptr, 5);
  hash.Update("c", 1);  // ignored once the digest is spoilt
  EXPECT_EQ(hash.Finish(), "");
}

TEST(Sha256, FinishBytesAgreesWithHexText) {
  Sha256 raw;
  raw.Update("abc", 3);
  std::array<uint8_t, Sha256::kDigestSize> digest;
  ASSERT_TRUE(raw.FinishBytes(digest));
  EXPECT_EQ(HexEncode(digest.data(), digest.size()), Digest("abc"));
  EXPECT_EQ(digest[0], 0xba);
  EXPECT_EQ(digest[31], 0xad);
}

TEST(HexEncode, WritesLowerCaseHighNibbleFirst) {
  EXPECT_EQ(HexEncode(nullptr, 0), "");
  const std::vector<uint8_t> bytes = {0x00, 0x01, 0x0f, 0x10, 0x7f, 0x80, 0xab, 0xcd, 0xef, 0xfe, 0xff};
  EXPECT_EQ(HexEncode(bytes.data(), bytes.size()), "00010f107f80abcdeffeff");
  EXPECT_EQ(HexEncode(bytes.data(), 1), "00");
  const uint8_t all_nibbles[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(HexEncode(all_nibbles, sizeof all_nibbles), "0123456789abcdef");
}

}  // namespace
}  // namespace kestrelume
