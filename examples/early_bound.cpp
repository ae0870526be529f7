// A compiled client of Vavizav that binds early: it creates the registered class
// with CoCreateInstance and calls _VeviVORIdezaz through its function table, as
// declared in the header that widl generates from hosting/vavizav.idl.
//
//   early_bound NAME-OR-ADDRESS [SERVER]
//
// Text made only of digits and dots is resolved to a host name, anything else
// to its IPv4 addresses, one a line. Exit status: 0 found, 1 not found, 2 usage
// or COM failure.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "vavizav.h"

using Microsoft::WRL::ComPtr;

namespace {

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR* Out() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  BSTR Get() const { return value_; }
  UINT Length() const { return SysStringLen(value_); }

 private:
  BSTR value_ = nullptr;
};

// Owns one VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT* Get() { return &value_; }

 private:
  VARIANT value_;
};

// Apartment-threaded COM for the life of main.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

void Print(const wchar_t* text, UINT length) {
  // Results are ASCII (names are escaped by the component); UTF-8 keeps it safe.
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
}

bool LooksLikeAddress(const wchar_t* text) {
  return text[0] != L'\0' && std::wcsspn(text, L"0123456789.") == std::wcslen(text) && std::wcschr(text, L'.');
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "early_bound: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "Usage: early_bound NAME-OR-ADDRESS [SERVER]\n");
    return 2;
  }
  ComApartment apartment;
  if (FAILED(apartment.Result())) return Fail("CoInitializeEx", apartment.Result());

  ComPtr<_VeviVORIdezaz> resolver;
  HRESULT hr = CoCreateInstance(CLSID_VeviVORIdezaz, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&resolver));
  if (FAILED(hr)) return Fail("CoCreateInstance (is Vavizav.dll registered?)", hr);

  if (argc == 3) {
    Variant server;
    V_VT(server.Get()) = VT_BSTR;
    V_BSTR(server.Get()) = SysAllocString(argv[2]);
    hr = resolver->put_DNSServer(server.Get());
    if (FAILED(hr)) return Fail("put_DNSServer", hr);
  }

  // The argument is [in, out] in the interface, but the component only reads it.
  Variant target;
  V_VT(target.Get()) = VT_BSTR;
  V_BSTR(target.Get()) = SysAllocString(argv[1]);
  Bstr result;
  hr = LooksLikeAddress(argv[1]) ? resolver->GetNameFromIP(target.Get(), result.Out())
                                 : resolver->GetIPFromName(target.Get(), result.Out());
  if (FAILED(hr)) return Fail("lookup", hr);

  Bstr lastError;
  hr = resolver->get_LastError(lastError.Out());
  if (FAILED(hr)) return Fail("get_LastError", hr);
  if (lastError.Length() != 0) {
    std::fputs("Error: ", stdout);
    Print(lastError.Get(), lastError.Length());
    return 1;
  }
  // Several addresses come joined by CR LF; print them one a line.
  std::wstring text(result.Get() != nullptr ? result.Get() : L"", result.Length());
  for (size_t crlf; (crlf = text.find(L"\r\n")) != std::wstring::npos;) text.erase(crlf, 1);
  Print(text.c_str(), static_cast<UINT>(text.size()));
  return 0;
}
