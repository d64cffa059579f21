// add_root_cert CERT.der: trusts a test CA in the prefix it runs in (see
// root_store.h). Exit code 0 on success, 1 if the file cannot be read, 2 if
// the store refuses it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "root_store.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: add_root_cert CERT.der\n", stderr);
    return 1;
  }
  FILE* f = _wfopen(argv[1], L"rb");
  if (!f) return 1;
  std::string der;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) der.append(buffer, got);
  std::fclose(f);
  if (der.empty()) return 1;
  if (!kestrelume::AddRootCertificate(der)) {
    std::fprintf(stderr, "add_root_cert: error %lu\n", GetLastError());
    return 2;
  }
  return 0;
}
