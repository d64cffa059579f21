#pragma once
// What a request does when it is asked to log in (status 401 or 407). The
// installer has no prompt, so the only login it can give is the one the user
// already has: the Windows logon, which a company proxy offering Negotiate or
// NTLM accepts without asking. It is offered once per request, to a proxy
// only; anything else ends the transfer as TransferResult::LoginRequired.

#include <windows.h>
#include <winhttp.h>

namespace kestrelume {

// `status`: 401 or 407. `offered`: the WINHTTP_AUTH_SCHEME_* bits of the
// challenge. `logon_sent`: the request already went out with the logon.
// Yields the scheme to answer with the logon, or 0 to give up.
DWORD LogonScheme(DWORD status, DWORD offered, bool logon_sent);

// Worker thread, after `request` was answered with `status` 401 or 407.
// Arms it to be sent again with the logged-on user's credentials where
// LogonScheme allows; false when it must not be or WinHTTP refuses.
bool OfferLogon(HINTERNET request, DWORD status, bool logon_sent);

}  // namespace kestrelume
