#include "exchange/core/server_form.h"

#include <algorithm>
#include <array>

namespace vavizav::exchange {
namespace {

constexpr std::size_t MAX_NAME_LENGTH = 253;  // a name's text without its last dot
constexpr std::size_t MAX_LABEL_LENGTH = 63;
constexpr std::size_t MAX_PATH_LENGTH = 2048;

struct RefusalText {
  ServerFormRefusal Refusal;
  std::wstring_view Text;
};

constexpr std::array<RefusalText, static_cast<std::size_t>(ServerFormRefusal::Count_)> REFUSAL_TEXTS{{
    {ServerFormRefusal::Empty, L"the entry is empty"},
    {ServerFormRefusal::UnknownScheme, L"the only prefixes known are tls:// and https://"},
    {ServerFormRefusal::BadPort, L"the port is not a number from 1 to 65535"},
    {ServerFormRefusal::BadBrackets, L"brackets enclose an IPv6 address, optionally followed by :PORT"},
    {ServerFormRefusal::BadHost, L"the server is not an address or host name that can be used here"},
    {ServerFormRefusal::MissingCertificateName, L"an encrypted server given by address needs #NAME, the name its "
                                                L"certificate must carry"},
    {ServerFormRefusal::BadCertificateName, L"#NAME is not a host name"},
    {ServerFormRefusal::CertificateNameOnPlain, L"#NAME belongs to tls:// and https:// servers only"},
    {ServerFormRefusal::CertificateNameWithHostName, L"an https:// server given by name is checked against that "
                                                     L"name: #NAME goes only after an address"},
    {ServerFormRefusal::MissingPath, L"an https:// server needs a path, such as /dns-query"},
    {ServerFormRefusal::BadPath, L"the path holds a blank, a control character or a character outside ASCII"},
}};

constexpr bool TableInOrder() {
  for (std::size_t i = 0; i < REFUSAL_TEXTS.size(); ++i) {
    if (static_cast<std::size_t>(REFUSAL_TEXTS[i].Refusal) != i) return false;
  }
  return true;
}
static_assert(TableInOrder(), "REFUSAL_TEXTS lists every refusal in the enum's order");

ServerFormReading Refuse(ServerFormRefusal refusal) { return {std::nullopt, refusal}; }

bool IsAsciiLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

std::optional<std::uint16_t> ParsePort(std::wstring_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// A host name as a certificate carries it: letters, digits and hyphens in
// labels of 1 to 63 characters, no hyphen at a label's ends, no last dot.
bool IsHostName(std::wstring_view name) {
  if (name.empty() || name.size() > MAX_NAME_LENGTH) return false;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = std::min(name.find(L'.', begin), name.size());
    const std::wstring_view label = name.substr(begin, end - begin);
    if (label.empty() || label.size() > MAX_LABEL_LENGTH) return false;
    if (label.front() == L'-' || label.back() == L'-') return false;
    if (!std::all_of(label.begin(), label.end(), [](wchar_t c) { return IsAsciiLetterOrDigit(c) || c == L'-'; })) {
      return false;
    }
    if (end == name.size()) return true;
    begin = end + 1;
  }
}

// Written like an address rather than a name: in brackets, with a colon (IPv6)
// or only digits and dots (IPv4). Whether it is one, the shell finds out.
bool LooksLikeAddress(const ServerForm& form) {
  if (form.Bracketed || form.Host.find(L':') != std::wstring::npos) return true;
  return std::all_of(form.Host.begin(), form.Host.end(), [](wchar_t c) { return (c >= L'0' && c <= L'9') || c == L'.'; });
}

// "HOST", "HOST:PORT", "[IPV6]", "[IPV6]:PORT", or an IPv6 address with two
// colons or more and no port.
std::optional<ServerFormRefusal> ReadHostAndPort(std::wstring_view text, ServerForm& form) {
  std::wstring_view host = text;
  if (!text.empty() && text.front() == L'[') {
    const std::size_t close = text.find(L']');
    if (close == std::wstring_view::npos) return ServerFormRefusal::BadBrackets;
    host = text.substr(1, close - 1);
    const std::wstring_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != L':') return ServerFormRefusal::BadBrackets;
      const std::optional<std::uint16_t> port = ParsePort(rest.substr(1));
      if (!port) return ServerFormRefusal::BadPort;
      form.Port = *port;
    }
    if (host.empty()) return ServerFormRefusal::BadBrackets;
    form.Bracketed = true;
  } else if (std::count(text.begin(), text.end(), L':') == 1) {
    const std::size_t colon = text.find(L':');
    host = text.substr(0, colon);
    const std::optional<std::uint16_t> port = ParsePort(text.substr(colon + 1));
    if (!port) return ServerFormRefusal::BadPort;
    form.Port = *port;
  }
  // An embedded NUL would cut the text short for the system's calls.
  if (host.empty() || host.find(L'\0') != std::wstring_view::npos) return ServerFormRefusal::BadHost;
  form.Host.assign(host);
  return std::nullopt;
}

ServerFormReading ReadPlain(std::wstring_view entry) {
  if (entry.find(L'#') != std::wstring_view::npos) return Refuse(ServerFormRefusal::CertificateNameOnPlain);
  ServerForm form;
  form.Port = PLAIN_DNS_PORT;
  if (const std::optional<ServerFormRefusal> refusal = ReadHostAndPort(entry, form)) return Refuse(*refusal);
  return {std::move(form), {}};
}

// "ADDRESS[:PORT]#NAME"
ServerFormReading ReadTls(std::wstring_view rest) {
  const std::size_t hash = rest.find(L'#');
  if (hash == std::wstring_view::npos) return Refuse(ServerFormRefusal::MissingCertificateName);
  ServerForm form;
  form.Transport = ServerTransport::Tls;
  form.Port = TLS_DNS_PORT;
  form.AddressOnly = true;
  if (const std::optional<ServerFormRefusal> refusal = ReadHostAndPort(rest.substr(0, hash), form)) {
    return Refuse(*refusal);
  }
  if (!LooksLikeAddress(form)) return Refuse(ServerFormRefusal::BadHost);
  const std::wstring_view name = rest.substr(hash + 1);
  if (!IsHostName(name)) return Refuse(ServerFormRefusal::BadCertificateName);
  form.CertificateName.assign(name);
  return {std::move(form), {}};
}

// "HOST[:PORT]/PATH" or "ADDRESS[:PORT]/PATH#NAME"
ServerFormReading ReadHttps(std::wstring_view rest) {
  const std::size_t hash = rest.find(L'#');
  const std::wstring_view url = rest.substr(0, hash);
  const std::size_t slash = url.find(L'/');
  if (slash == std::wstring_view::npos) return Refuse(ServerFormRefusal::MissingPath);
  ServerForm form;
  form.Transport = ServerTransport::Https;
  form.Port = HTTPS_DNS_PORT;
  if (const std::optional<ServerFormRefusal> refusal = ReadHostAndPort(url.substr(0, slash), form)) {
    return Refuse(*refusal);
  }
  const std::wstring_view path = url.substr(slash);
  if (path.size() > MAX_PATH_LENGTH ||
      !std::all_of(path.begin(), path.end(), [](wchar_t c) { return c > L' ' && c < 0x7F; })) {
    return Refuse(ServerFormRefusal::BadPath);
  }
  form.Path.assign(path);
  if (LooksLikeAddress(form)) {
    if (hash == std::wstring_view::npos) return Refuse(ServerFormRefusal::MissingCertificateName);
    const std::wstring_view name = rest.substr(hash + 1);
    if (!IsHostName(name)) return Refuse(ServerFormRefusal::BadCertificateName);
    form.AddressOnly = true;
    form.CertificateName.assign(name);
  } else {
    if (hash != std::wstring_view::npos) return Refuse(ServerFormRefusal::CertificateNameWithHostName);
    if (!IsHostName(form.Host)) return Refuse(ServerFormRefusal::BadHost);
    form.CertificateName = form.Host;
  }
  return {std::move(form), {}};
}

bool SchemeIs(std::wstring_view scheme, std::wstring_view lower) {
  return scheme.size() == lower.size() && std::equal(scheme.begin(), scheme.end(), lower.begin(), [](wchar_t a, wchar_t b) {
           return (a >= L'A' && a <= L'Z' ? static_cast<wchar_t>(a - L'A' + L'a') : a) == b;
         });
}

}  // namespace

ServerFormReading ReadServerForm(std::wstring_view entry) {
  if (entry.empty()) return Refuse(ServerFormRefusal::Empty);
  const std::size_t separator = entry.find(L"://");
  if (separator == std::wstring_view::npos) return ReadPlain(entry);
  const std::wstring_view scheme = entry.substr(0, separator);
  const std::wstring_view rest = entry.substr(separator + 3);
  if (SchemeIs(scheme, L"tls")) return ReadTls(rest);
  if (SchemeIs(scheme, L"https")) return ReadHttps(rest);
  return Refuse(ServerFormRefusal::UnknownScheme);
}

std::wstring_view ServerFormRefusalText(ServerFormRefusal refusal) {
  const auto index = static_cast<std::size_t>(refusal);
  return index < REFUSAL_TEXTS.size() ? REFUSAL_TEXTS[index].Text : std::wstring_view(L"the entry cannot be used");
}

}  // namespace vavizav::exchange
