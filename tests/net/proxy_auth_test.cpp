#include "net/proxy_auth.h"

#include <gtest/gtest.h>

namespace kestrelume {
namespace {

constexpr DWORD kBasic = WINHTTP_AUTH_SCHEME_BASIC;
constexpr DWORD kNtlm = WINHTTP_AUTH_SCHEME_NTLM;
constexpr DWORD kNegotiate = WINHTTP_AUTH_SCHEME_NEGOTIATE;
constexpr DWORD kDigest = WINHTTP_AUTH_SCHEME_DIGEST;
constexpr DWORD kPassport = WINHTTP_AUTH_SCHEME_PASSPORT;

TEST(ProxyAuth, OnlyAProxyOfferingNegotiateOrNtlmGetsTheLogonAndOnlyOnce) {
  struct Case {
    const char* what;
    DWORD status;
    DWORD offered;
    bool logon_sent;
    DWORD scheme;  // 0: give up (the run ends offline)
  };
  const Case cases[] = {
      {"proxy offers Negotiate", 407, kNegotiate, false, kNegotiate},
      {"proxy offers NTLM", 407, kNtlm, false, kNtlm},
      {"Negotiate preferred to NTLM", 407, kNtlm | kNegotiate, false, kNegotiate},
      {"Negotiate among Basic and Digest", 407, kBasic | kDigest | kNegotiate, false, kNegotiate},
      {"NTLM beside Basic", 407, kBasic | kNtlm, false, kNtlm},
      {"Basic only", 407, kBasic, false, 0},
      {"Digest only", 407, kDigest, false, 0},
      {"Basic and Digest", 407, kBasic | kDigest, false, 0},
      {"Passport", 407, kPassport, false, 0},
      {"no scheme read", 407, 0, false, 0},
      {"second 407 after Negotiate", 407, kNegotiate, true, 0},
      {"second 407 after NTLM", 407, kNtlm, true, 0},
      {"release server asks with NTLM", 401, kNtlm, false, 0},
      {"release server asks with Negotiate", 401, kNegotiate, false, 0},
      {"release server asks with Basic", 401, kBasic, false, 0},
      {"other status", 403, kNegotiate, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogonScheme(c.status, c.offered, c.logon_sent), c.scheme) << c.what;
  }
}

}  // namespace
}  // namespace kestrelume
