#pragma once
// Trust for test certificate authorities: adds a CA certificate to the
// "ROOT" system stores of the Wine prefix the process runs in, LocalMachine
// and CurrentUser. Wine's WinHTTP then accepts servers it signed, without any
// prompt. Wine 8 reads the LocalMachine store; Wine 10.0 deletes from it,
// whenever a process first opens it, every root that did not come from the
// host's own trust store, so there only the CurrentUser copy lasts.
// Adding a certificate that is already there changes nothing. (On Windows,
// adding to the CurrentUser store asks the user first: test prefixes only.)

#include <string>

namespace kestrelume {

// der: the encoded certificate. Returns false (with the Windows error in
// GetLastError) if a store cannot be opened or written.
bool AddRootCertificate(const std::string& der);

}  // namespace kestrelume
