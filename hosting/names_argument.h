// ResolveMany's Names as the hosts hand them over: a SAFEARRAY of any lower
// bounds and dimensions (VBScript arrays, Excel's Range.Value, typed String
// arrays of VB and VBA, arrays of numbers), or a JScript array, which is an
// object with "length" and indexed properties. The elements come out in the
// memory order of the array, which is the order of the result array made
// with the same bounds.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/handles.h"

namespace vavizav::hosting {

// More names than this in one call is a wrong argument, not a batch.
inline constexpr std::size_t MAX_NAMES = 1000000;

struct NamesArgument {
  // One per dimension, the first dimension first (as SafeArrayCreate takes them).
  std::vector<SAFEARRAYBOUND> Bounds;
  // The text of each element; nullopt for an element without a text form
  // (Null, an object without a text value, a nested array).
  std::vector<std::optional<std::wstring>> Texts;
};

// Reads `names`. E_INVALIDARG with `error` set for a value that is not an
// array of names (a scalar, Empty, Null, an array without descriptor, an
// element type that cannot be read, more than MAX_NAMES elements, an object
// without a usable "length"); E_POINTER for a reference that points nowhere.
// An object's properties run the client's code: the object is held for the
// span of the call. Throws only std::bad_alloc.
HRESULT ReadNames(const VARIANT& names, NamesArgument& read, std::wstring& error);

// A VARIANT array with `bounds` (the first dimension first), every element Empty.
HRESULT MakeResultArray(const std::vector<SAFEARRAYBOUND>& bounds, runtime::unique_safearray& array) noexcept;

}  // namespace vavizav::hosting
