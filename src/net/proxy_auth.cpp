#include "net/proxy_auth.h"

#include "system/system_functions.h"

namespace kestrelume {

namespace {

constexpr DWORD kProxyAuthRequired = 407;

}  // namespace

DWORD LogonScheme(DWORD status, DWORD offered, bool logon_sent) {
  // A release server that asks for a login never gets the user's: nothing
  // there needs one. A second challenge means the logon was not enough.
  if (status != kProxyAuthRequired || logon_sent) return 0;
  // Negotiate falls back to NTLM by itself where Kerberos has no ticket.
  if (offered & WINHTTP_AUTH_SCHEME_NEGOTIATE) return WINHTTP_AUTH_SCHEME_NEGOTIATE;
  if (offered & WINHTTP_AUTH_SCHEME_NTLM) return WINHTTP_AUTH_SCHEME_NTLM;
  return 0;  // Basic, Digest, Passport: only a typed password answers them
}

bool OfferLogon(HINTERNET request, DWORD status, bool logon_sent) {
  DWORD offered = 0;
  DWORD first = 0;
  DWORD target = 0;
  // Schemes that cannot be read leave `offered` empty: no logon.
  System().WinHttpQueryAuthSchemes(request, &offered, &first, &target);
  const DWORD scheme = LogonScheme(status, offered, logon_sent);
  if (scheme == 0) return false;
  // The default policy (medium) sends the logon to intranet hosts only; a
  // proxy the user or the administrator set up is trusted with it.
  DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  if (!System().WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy)) {
    return false;
  }
  // No user name and password: the logged-on user's.
  return System().WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                                        nullptr) != FALSE;
}

}  // namespace kestrelume
