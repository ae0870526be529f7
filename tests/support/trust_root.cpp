// trust_root.exe CERTIFICATE.der
// Makes the test root trusted in the Wine prefix it runs in, and nowhere else:
// the current user's Root certificates in that prefix's registry
// (HKCU\Software\Microsoft\SystemCertificates\Root), written through a
// registry store. Wine's "Root" system store takes no additions that last (it
// is rebuilt from the host's roots), but its chain engine reads that key. Roots
// of the same subject left by earlier runs (each run makes a new key) go
// first. Exits 0 once the current user's Root store holds the root.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "runtime/certificate_handles.h"

int wmain(int argc, wchar_t** argv) {
  using namespace vavizav::runtime;
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_root CERTIFICATE.der\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<char> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  unique_cert_context root(::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                          static_cast<DWORD>(der.size())));
  if (!root) {
    std::fprintf(stderr, "trust_root: not a DER certificate (error %lu)\n", ::GetLastError());
    return 1;
  }
  unique_hkey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\SystemCertificates\\Root", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "trust_root: cannot open the Root key\n");
    return 1;
  }
  unique_cert_store store(::CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, key.get()));
  if (!store) {
    std::fprintf(stderr, "trust_root: cannot open the Root key as a store (error %lu)\n", ::GetLastError());
    return 1;
  }
  // Earlier test roots: same subject, other keys.
  while (PCCERT_CONTEXT old = ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                           &root.get()->pCertInfo->Subject, nullptr)) {
    ::CertDeleteCertificateFromStore(old);  // frees `old` too
  }
  if (!::CertAddCertificateContextToStore(store.get(), root.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "trust_root: cannot add the root (error %lu)\n", ::GetLastError());
    return 1;
  }
  store.reset();
  // Found in the system store the chain engine reads, opened anew.
  store.reset(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
  const unique_cert_context found(
      store ? ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root.get(), nullptr)
            : nullptr);
  if (!found) {
    std::fprintf(stderr, "trust_root: the current user's Root store does not show the root\n");
    return 1;
  }
  return 0;
}
