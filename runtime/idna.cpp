#include "idna.h"

#include <windows.h>
#include <winnls.h>

#include <algorithm>
#include <climits>

namespace vavizav {

std::optional<std::wstring> HostNameToAscii(std::wstring_view name) {
  if (std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x80; })) return std::wstring(name);
  if (name.size() > INT_MAX) return std::nullopt;

  // Flags 0: no unassigned code points, no STD3 restrictions beyond IDNA's own.
  const int inputLength = static_cast<int>(name.size());
  const int needed = ::IdnToAscii(0, name.data(), inputLength, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::wstring ascii(static_cast<std::size_t>(needed), L'\0');
  const int written = ::IdnToAscii(0, name.data(), inputLength, ascii.data(), needed);
  if (written <= 0) return std::nullopt;
  ascii.resize(static_cast<std::size_t>(written));
  return ascii;
}

}  // namespace vavizav
