#include "hosting/vevivoridezaz_members.h"

#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "exchange/exchange.h"
#include "hosting/com_boundary.h"
#include "resolver/lookup.h"
#include "runtime/handles.h"
#include "runtime/text_conversion.h"

namespace vavizav::hosting {
namespace {

HRESULT CopyOut(std::wstring_view text, BSTR* out) noexcept {
  runtime::unique_bstr copy = runtime::MakeBstr(text);
  if (!copy) return E_OUTOFMEMORY;
  *out = copy.release();
  return S_OK;
}

// Where the lookups meet the network: their QueryExchange over the
// exchange (UDP, and TCP after a truncated reply), bound to one lookup's copy of the settings.
class NetworkQueryExchange final : public resolver::QueryExchange {
 public:
  NetworkQueryExchange(std::wstring server, DWORD timeoutMs, std::shared_ptr<exchange::ServerMemory> memory)
      : server_(std::move(server)), timeoutMs_(timeoutMs), memory_(std::move(memory)) {}
  std::optional<vbDNS::Packet> Exchange(const vbDNS::DNSQuery& query) override {
    return exchange::ExchangeQuery(query, server_, timeoutMs_, memory_);
  }

 private:
  std::wstring server_;
  DWORD timeoutMs_;
  std::shared_ptr<exchange::ServerMemory> memory_;
};

}  // namespace

HRESULT VeviVORIdezaz::get_LastError(BSTR* value) const noexcept {
  if (!value) return E_POINTER;
  *value = nullptr;
  return CopyOut(lastError_, value);
}

HRESULT VeviVORIdezaz::get_DNSServer(VARIANT* value) const noexcept {
  if (!value) return E_POINTER;
  ::VariantInit(value);
  BSTR text = nullptr;
  const HRESULT hr = CopyOut(dnsServer_, &text);
  if (FAILED(hr)) return hr;
  V_VT(value) = VT_BSTR;
  V_BSTR(value) = text;
  return S_OK;
}

HRESULT VeviVORIdezaz::put_DNSServer(VARIANT* vData) noexcept {
  if (!vData) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    runtime::TextConversion text = runtime::VariantToText(*vData);
    if (text.Status == runtime::TextConversionStatus::OutOfMemory) return E_OUTOFMEMORY;
    // Unchecked: a text no exchange can use shows only when a lookup runs.
    if (text.Ok()) dnsServer_ = std::move(text.Text);
    return S_OK;
  });
}

HRESULT VeviVORIdezaz::get_TimeOut(LONG* value) const noexcept {
  if (!value) return E_POINTER;
  *value = timeOut_;
  return S_OK;
}

HRESULT VeviVORIdezaz::put_TimeOut(LONG* vData) noexcept {
  if (!vData) return E_POINTER;
  if (*vData >= MIN_TIMEOUT_MS && *vData <= MAX_TIMEOUT_MS) timeOut_ = *vData;
  return S_OK;
}

HRESULT VeviVORIdezaz::GetIPFromName(VARIANT* hostName, BSTR* result) noexcept {
  return Lookup(Direction::Forward, hostName, result);
}

HRESULT VeviVORIdezaz::GetNameFromIP(VARIANT* address, BSTR* result) noexcept {
  return Lookup(Direction::Reverse, address, result);
}

// The exchange pumps the thread's messages, so this object may be read,
// written or used for another lookup before it returns: the settings are copied
// first, and nothing of the object is held across the exchange.
HRESULT VeviVORIdezaz::Lookup(Direction direction, const VARIANT* nameOrAddress, BSTR* result) noexcept {
  if (!result) return E_POINTER;
  *result = nullptr;
  if (!nameOrAddress) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    lastError_.clear();
    const runtime::TextConversion argument = runtime::VariantToText(*nameOrAddress);
    if (argument.Status == runtime::TextConversionStatus::OutOfMemory) return E_OUTOFMEMORY;
    if (!argument.Ok()) {
      lastError_ = argument.Description();
      return CopyOut({}, result);
    }

    NetworkQueryExchange exchange(dnsServer_, static_cast<DWORD>(timeOut_), servers_);
    resolver::LookupOutcome outcome;
    if (direction == Direction::Forward) {
      const std::optional<std::wstring> asciiName = runtime::HostNameToAscii(argument.Text);
      outcome = asciiName ? resolver::ForwardLookup(runtime::TextToUtf16(*asciiName), exchange)
                          : resolver::LookupOutcome{std::string(), std::string(resolver::ERROR_UNRESOLVED_NAME)};
    } else {
      outcome = resolver::ReverseLookup(runtime::TextToUtf16(argument.Text), exchange);
    }
    lastError_ = runtime::AsciiToText(outcome.LastError);
    return CopyOut(runtime::AsciiToText(outcome.Result), result);
  });
}

}  // namespace vavizav::hosting
