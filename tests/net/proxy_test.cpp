#include "net/proxy.h"

#include <gtest/gtest.h>

namespace kestrelume {
namespace {

TEST(Proxy, ScriptAnswerThenUserProxyThenMachineProxyWhenTheUserHasNone) {
  const ProxyRoute user_proxy{L"user:8080", L"<local>"};
  const ProxyRoute script_proxy{L"script:3128", L""};
  const ProxyRoute machine_proxy{L"machine:80", L"*.corp"};
  const ProxyRoute direct{};
  struct Case {
    const char* what;
    UserProxySettings user;
    std::optional<ProxyRoute> discovered;
    ProxyRoute machine;
    ProxyRoute expected;
  };
  const Case cases[] = {
      {"nothing anywhere", {}, std::nullopt, direct, direct},
      {"machine only", {}, std::nullopt, machine_proxy, machine_proxy},
      {"detection found nothing: machine", {true, L"", {}}, std::nullopt, machine_proxy, machine_proxy},
      {"user proxy beats machine", {false, L"", user_proxy}, std::nullopt, machine_proxy, user_proxy},
      {"detected script beats user proxy", {true, L"", user_proxy}, script_proxy, machine_proxy,
       script_proxy},
      {"script address answers", {false, L"http://pac/", {}}, script_proxy, machine_proxy, script_proxy},
      {"script says DIRECT: direct, not machine", {false, L"http://pac/", {}}, direct, machine_proxy,
       direct},
      {"script unreadable, user proxy", {false, L"http://pac/", user_proxy}, std::nullopt, machine_proxy,
       user_proxy},
      {"script unreadable, no user proxy: direct", {false, L"http://pac/", {}}, std::nullopt,
       machine_proxy, direct},
  };
  for (const Case& c : cases) {
    const ProxyRoute route = ChooseProxy(c.user, c.discovered, c.machine);
    EXPECT_EQ(route.proxy, c.expected.proxy) << c.what;
    EXPECT_EQ(route.bypass, c.expected.bypass) << c.what;
  }
}

}  // namespace
}  // namespace kestrelume
