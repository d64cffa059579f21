// Transfers over TLS against Debian's nginx with the test CA trusted in this
// prefix. Under Wine 8 WinHTTP offers TLS 1.2 only, so the TLS 1.3-only
// server is refused here; on Windows 11 it is reached. An https-to-http
// redirect is refused before anything connects (NetworkError).

#include <gtest/gtest.h>

#include "integrity/sha256.h"
#include "net_fixture.h"
#include "support/nginx_server.h"

namespace kestrelume {
namespace {

std::string DigestOf(const std::string& bytes) {
  Sha256 digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.Finish();
}

TEST_F(NetTest, TlsCertificatesProtocolsAndRedirects) {
  NginxServer nginx;
  ASSERT_TRUE(nginx.Start({
      {"good", "trusted", {}, {{"/to-plain", "http://127.0.0.1:{port:plain}/setup.exe"},
                               {"/to-other", "https://localhost:{port:other}/setup.exe"}}},
      {"other", "trusted"},
      {"plain"},
      {"untrusted", "untrusted"},
      {"expired", "expired"},
      {"wrong_host", "wrong_host"},
      {"tls10-11", "trusted", {"TLSv1", "TLSv1.1"}},
      {"tls13", "trusted", {"TLSv1.3"}},
  }));
  const std::string body = TestServer::GeneratedBytes(300000);
  const std::string digest = DigestOf(body);
  for (const char* site : {"good", "other", "plain", "untrusted", "expired", "wrong_host", "tls10-11", "tls13"}) {
    ASSERT_TRUE(nginx.Put(site, "/setup.exe", body));
  }

  struct Case {
    const char* name;
    std::string address;
    TransferResult fetch;
    TransferResult download;
    const char* served_by;  // the site whose log shows the download, or null
  };
  const Case cases[] = {
      {"trusted, explicit port", nginx.Url("good", "/setup.exe"), TransferResult::Ok, TransferResult::Ok, "good"},
      {"untrusted CA", nginx.Url("untrusted", "/setup.exe"), TransferResult::NetworkError,
       TransferResult::NetworkError, nullptr},
      {"expired", nginx.Url("expired", "/setup.exe"), TransferResult::NetworkError,
       TransferResult::NetworkError, nullptr},
      {"other host name", nginx.Url("wrong_host", "/setup.exe"), TransferResult::NetworkError,
       TransferResult::NetworkError, nullptr},
      {"TLS 1.0/1.1 only", nginx.Url("tls10-11", "/setup.exe"), TransferResult::NetworkError,
       TransferResult::NetworkError, nullptr},
      {"TLS 1.3 only (Wine)", nginx.Url("tls13", "/setup.exe"), TransferResult::NetworkError,
       TransferResult::NetworkError, nullptr},
      {"https to https", nginx.Url("good", "/to-other"), TransferResult::Ok, TransferResult::Ok, "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string fetched;
    EXPECT_EQ(session.Fetch(c.address, 1 << 20, fetched), c.fetch);
    // Compared whole, never printed: the body is 300,000 bytes.
    EXPECT_EQ(fetched.size(), c.fetch == TransferResult::Ok ? body.size() : 0u);
    EXPECT_TRUE(fetched == (c.fetch == TransferResult::Ok ? body : std::string()));
    const std::wstring path = PathIn(L"setup.exe");
    EXPECT_EQ(session.Download(c.address, path, body.size(), digest, {}), c.download);
    EXPECT_EQ(FileExists(path), c.download == TransferResult::Ok);
    DeleteFileW(path.c_str());
    EXPECT_TRUE(Files().empty());
  }

  // The refused servers served nothing; the good ones served whole bodies
  // over TLS 1.2 or 1.3, never anything older.
  for (const char* site : {"untrusted", "expired", "wrong_host", "tls10-11", "tls13", "plain"}) {
    EXPECT_TRUE(nginx.Requests(site).empty()) << site;
  }
  const auto other = nginx.Requests("other");
  ASSERT_EQ(other.size(), 2u);
  for (const auto& request : other) {
    EXPECT_EQ(request.path, "/setup.exe");
    EXPECT_EQ(request.bytes, body.size());
    EXPECT_TRUE(request.tls == "TLSv1.2" || request.tls == "TLSv1.3") << request.tls;
  }

  const TransferResult to_plain = session.Download(nginx.Url("good", "/to-plain"), PathIn(L"setup.exe"),
                                                   body.size(), digest, {});
  EXPECT_EQ(to_plain, TransferResult::NetworkError);
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(nginx.Requests("plain").empty());
  const auto good = nginx.Requests("good");
  // Fetch and download of the first case, two redirects, and this one twice:
  // a refused target is a network error, which a download tries once more.
  ASSERT_EQ(good.size(), 6u);
  for (size_t i = 4; i < 6; ++i) {
    EXPECT_EQ(good[i].path, "/to-plain");
    EXPECT_EQ(good[i].status, 302);
  }
}

}  // namespace
}  // namespace kestrelume
