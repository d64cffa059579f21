// The address rule against WinHTTP's own reading of an address: for every
// address the rule accepts, WinHttpCrackUrl must find the host the rule saw.
// Addresses are built from pieces that end, split or hide an authority.

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "base/utf.h"
#include "manifest/address.h"
#include "system/system_functions.h"

namespace kestrelume {
namespace {

// The host WinHTTP would connect to, spelled as the rule spells hosts; false
// when the address does not crack.
bool CrackedHost(const std::string& address, std::string& host) {
  const std::wstring wide = Utf8ToWide(address);
  wchar_t name[256];
  wchar_t path[2048];
  wchar_t extra[2048];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = name;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 2048;
  if (!System().WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return false;
  host = WideToUtf8({name, parts.dwHostNameLength});
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return true;
}

TEST(AddressUnderWinHttp, EveryAcceptedAddressCracksToTheHostTheRuleSaw) {
  ASSERT_TRUE(System().Has(SystemLibrary::WinHttp));
  const std::string download(kDownloadHost);
  const std::string schemes[] = {"http://", "https://", "HTTP://"};
  const std::string users[] = {"", "u@", "u:p@", "@", ":@"};
  const std::string hosts[] = {"localhost", "127.0.0.1", "LocalHost", "127.0.0.2", download, ""};
  const std::string ports[] = {"", ":8080", ":", ":80:81"};
  const std::string tails[] = {
      "", "/", "/x?y#z", "?q", "#f", "?", "#",
      "?@127.0.0.2", "?x=@127.0.0.2:8080/u", "#@127.0.0.2/x", "#x?y@127.0.0.2/",
      "/a@127.0.0.2", "/?a@127.0.0.2", "?a/b@127.0.0.2", "#a/@127.0.0.2",
      "\\@127.0.0.2/", "\\x", ";@127.0.0.2/", "%40127.0.0.2/", ".127.0.0.2/", "?/x",
  };
  int accepted = 0;
  int refused = 0;
  for (const std::string& scheme : schemes) {
    for (const std::string& user : users) {
      for (const std::string& host : hosts) {
        for (const std::string& port : ports) {
          for (const std::string& tail : tails) {
            const std::string address = scheme + user + host + port + tail;
            if (!IsAllowedAddress(address)) {
              ++refused;
              continue;
            }
            ++accepted;
            std::string cracked;
            if (!CrackedHost(address, cracked)) continue;  // no request either
            // Wine's WinHTTP ends the host at "/" only: an address with no
            // path keeps its "?" or "#" part in the host, a name that goes
            // nowhere (and that the HTTP layer refuses, being another host).
            EXPECT_EQ(cracked.substr(0, cracked.find_first_of("?#")), HostOf(address).host)
                << address;
          }
        }
      }
    }
  }
  // The table reaches both sides of the rule.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(refused, 3000);
}

}  // namespace
}  // namespace kestrelume
