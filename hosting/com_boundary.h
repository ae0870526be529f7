// Where C++ meets a COM caller: an exception never crosses a member's return.
#pragma once

#include <windows.h>

#include <new>

namespace vavizav::hosting {

// Runs a member's body and returns its HRESULT; std::bad_alloc becomes
// E_OUTOFMEMORY and any other exception E_UNEXPECTED.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vavizav::hosting
