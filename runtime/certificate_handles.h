// Owners for the certificate resources of crypt32 (wincrypt.h, which the
// lean windows.h leaves out): a store, a certificate and a chain.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "runtime/handles.h"

namespace vavizav::runtime {
namespace detail {
struct CertStoreTraits {
  using type = HCERTSTORE;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::CertCloseStore(value, 0); }
};
struct CertContextTraits {
  using type = PCCERT_CONTEXT;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::CertFreeCertificateContext(value); }
};
struct CertChainTraits {
  using type = PCCERT_CHAIN_CONTEXT;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::CertFreeCertificateChain(value); }
};
}  // namespace detail

using unique_cert_store = unique_any<detail::CertStoreTraits>;
using unique_cert_context = unique_any<detail::CertContextTraits>;
using unique_cert_chain = unique_any<detail::CertChainTraits>;

}  // namespace vavizav::runtime
