#pragma once
// Trust for test certificate authorities: adds a CA certificate to the
// LocalMachine "ROOT" system store of the Wine prefix (or Windows machine)
// the process runs in. Wine's WinHTTP then accepts servers it signed, without
// any prompt. Adding a certificate that is already there changes nothing.

#include <string>

namespace kestrelume {

// der: the encoded certificate. Returns false (with the Windows error in
// GetLastError) if the store cannot be opened or written.
bool AddRootCertificate(const std::string& der);

}  // namespace kestrelume
