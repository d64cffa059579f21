#include "root_store.h"

#include <windows.h>
#include <wincrypt.h>

namespace kestrelume {
namespace {

// The registry store of that one location: the CurrentUser system store is a
// collection that also holds the LocalMachine one, and would count the
// certificate as there already.
bool AddToRootStore(DWORD location, const std::string& der) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, location, L"ROOT");
  if (!store) return false;
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  SetLastError(error);
  return added != FALSE;
}

}  // namespace

bool AddRootCertificate(const std::string& der) {
  return AddToRootStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, der) &&
         AddToRootStore(CERT_SYSTEM_STORE_CURRENT_USER, der);
}

}  // namespace kestrelume
