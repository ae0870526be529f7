// The members of the automation class Vavizav.VeviVORIdezaz: its three settings
// and the two lookups, in the shape of the dual interface's function table.
// VeviVORIdezazComObject (vevivoridezaz_object.cpp) gives it its COM identity
// (IUnknown, IDispatch, lifetime) and forwards each member to it; tests drive
// it directly.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>

#include "exchange/core/server_memory.h"

namespace vavizav::hosting {

// The public recursive resolver asked until a client sets DNSServer.
inline constexpr wchar_t DEFAULT_DNS_SERVER[] = L"9.9.9.9";
inline constexpr LONG DEFAULT_TIMEOUT_MS = 10000;
inline constexpr LONG MIN_TIMEOUT_MS = 1;
inline constexpr LONG MAX_TIMEOUT_MS = 65534;

class VeviVORIdezaz {
 public:
  // Every member returns S_OK except for a null pointer argument (E_POINTER;
  // out-pointers are cleared first, and nothing else happens) or an
  // out-of-memory condition (E_OUTOFMEMORY); failures of a lookup show only in
  // LastError. By-reference arguments are only read, never written.
  HRESULT get_LastError(BSTR* value) const noexcept;
  HRESULT get_DNSServer(VARIANT* value) const noexcept;  // always VT_BSTR
  HRESULT put_DNSServer(VARIANT* vData) noexcept;        // unconvertible values are ignored
  HRESULT get_TimeOut(LONG* value) const noexcept;
  HRESULT put_TimeOut(LONG* vData) noexcept;             // outside 1..65534 ignored
  HRESULT GetIPFromName(VARIANT* hostName, BSTR* result) noexcept;
  HRESULT GetNameFromIP(VARIANT* address, BSTR* result) noexcept;

 private:
  enum class Direction { Forward, Reverse };
  HRESULT Lookup(Direction direction, const VARIANT* nameOrAddress, BSTR* result) noexcept;

  std::wstring dnsServer_ = DEFAULT_DNS_SERVER;
  std::wstring lastError_;
  LONG timeOut_ = DEFAULT_TIMEOUT_MS;
  // What the lookups of this object learnt of its servers (which answer, how
  // fast, which fold case), for the next lookups.
  std::shared_ptr<exchange::ServerMemory> servers_ = std::make_shared<exchange::ServerMemory>();
};

}  // namespace vavizav::hosting
