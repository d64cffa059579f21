#include "root_store.h"

#include <windows.h>
#include <wincrypt.h>

namespace kestrelume {

bool AddRootCertificate(const std::string& der) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) return false;
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  SetLastError(error);
  return added != FALSE;
}

}  // namespace kestrelume
