// Owners for the platform's resources: each closes what it holds exactly once,
// moves but never copies, and can hand its value back (release) or take a new
// one (reset, put). Logic code never calls the close functions itself.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <string_view>
#include <utility>

namespace vavizav::runtime {

// Traits: `type`, `Invalid()` and `Close(value)`, called only for valid values.
template <typename Traits>
class unique_any {
 public:
  using type = typename Traits::type;

  unique_any() noexcept = default;
  explicit unique_any(type value) noexcept : value_(value) {}
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  ~unique_any() { reset(); }

  type get() const noexcept { return value_; }
  bool is_valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  // Closes the held value (if any) and holds `value` instead.
  void reset(type value = Traits::Invalid()) noexcept {
    const type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  // Gives up ownership without closing.
  [[nodiscard]] type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // For out-parameters: closes the held value and returns where to write a new one.
  type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  type value_ = Traits::Invalid();
};

namespace detail {
struct HandleTraits {
  using type = HANDLE;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::CloseHandle(value); }
};
struct FileHandleTraits {
  using type = HANDLE;
  static type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(type value) noexcept { ::CloseHandle(value); }
};
struct SocketTraits {
  using type = SOCKET;
  static type Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(type value) noexcept { ::closesocket(value); }
};
struct WsaEventTraits {
  using type = WSAEVENT;
  static type Invalid() noexcept { return WSA_INVALID_EVENT; }
  static void Close(type value) noexcept { ::WSACloseEvent(value); }
};
struct BstrTraits {
  using type = BSTR;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::SysFreeString(value); }
};
struct RegistryKeyTraits {
  using type = HKEY;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::RegCloseKey(value); }
};
// A list GetAddrInfoW made.
struct AddrInfoTraits {
  using type = ADDRINFOW*;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::FreeAddrInfoW(value); }
};
struct SafeArrayTraits {
  using type = SAFEARRAY*;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::SafeArrayDestroy(value); }
};
// Undoes one SafeArrayLock.
struct SafeArrayLockTraits {
  using type = SAFEARRAY*;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type value) noexcept { ::SafeArrayUnlock(value); }
};
}  // namespace detail

using unique_handle = unique_any<detail::HandleTraits>;           // null when empty
using unique_file_handle = unique_any<detail::FileHandleTraits>;  // INVALID_HANDLE_VALUE when empty
using unique_socket = unique_any<detail::SocketTraits>;
using unique_wsaevent = unique_any<detail::WsaEventTraits>;
using unique_hkey = unique_any<detail::RegistryKeyTraits>;
using unique_addrinfo = unique_any<detail::AddrInfoTraits>;
using unique_bstr = unique_any<detail::BstrTraits>;
using unique_safearray = unique_any<detail::SafeArrayTraits>;
using safearray_lock = unique_any<detail::SafeArrayLockTraits>;  // holds an array locked

// A BSTR holding `text` (embedded NULs included); empty (null) only when out of
// memory: an empty text gives an allocated empty BSTR.
inline unique_bstr MakeBstr(std::wstring_view text) noexcept {
  if (text.size() > 0x7FFFFFFF / sizeof(wchar_t)) return unique_bstr();
  return unique_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// The characters of a BSTR; a null BSTR is the empty text.
inline std::wstring_view BstrView(BSTR value) noexcept {
  return value ? std::wstring_view(value, ::SysStringLen(value)) : std::wstring_view();
}

// A VARIANT that is cleared (VariantClear) when it goes.
class unique_variant {
 public:
  unique_variant() noexcept { ::VariantInit(&value_); }
  // Takes over `value` as is; the source must no longer be cleared by anyone else.
  explicit unique_variant(const VARIANT& value) noexcept : value_(value) {}
  unique_variant(unique_variant&& other) noexcept : value_(other.release()) {}
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
    }
    return *this;
  }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { reset(); }

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARIANT& operator*() noexcept { return value_; }
  const VARIANT& operator*() const noexcept { return value_; }
  VARIANT* operator->() noexcept { return &value_; }
  const VARIANT* operator->() const noexcept { return &value_; }

  void reset() noexcept {
    ::VariantClear(&value_);
    ::VariantInit(&value_);
  }
  // Hands the contents over; this variant is left VT_EMPTY.
  [[nodiscard]] VARIANT release() noexcept {
    VARIANT out = value_;
    ::VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

// An owned interface pointer: Release on reset and destruction; copies only
// through copy(), which adds a reference.
template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  // Adopts a reference the caller already holds.
  explicit com_ptr(T* adopted) noexcept : ptr_(adopted) {}
  com_ptr(com_ptr&& other) noexcept : ptr_(other.detach()) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) attach(other.detach());
    return *this;
  }
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  ~com_ptr() { reset(); }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  void attach(T* adopted) noexcept {
    reset();
    ptr_ = adopted;
  }
  [[nodiscard]] T* detach() noexcept { return std::exchange(ptr_, nullptr); }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // A second owner of the same object.
  com_ptr copy() const noexcept {
    if (ptr_) ptr_->AddRef();
    return com_ptr(ptr_);
  }
  // QueryInterface; empty when the object has no such interface.
  template <typename U>
  com_ptr<U> query() const noexcept {
    com_ptr<U> result;
    if (ptr_) ptr_->QueryInterface(__uuidof(U), result.put_void());
    return result;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace vavizav::runtime
