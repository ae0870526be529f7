// The hostile dispatch tests' means: argument values of every variant type
// the automation conversions meet (by value and by reference), random calls
// built from them, a call run with the caller's arguments compared octet for
// octet before and after, and the settings and checks around them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "module_fixture.h"

namespace vavizav::testing {

// Points the object at the local unbound with a short time-out, through the
// function table.
void UseTestServer(_VeviVORIdezaz* object);
void UseTestServer(_Resolver* resolver);

// A normal late-bound read: `member` read through Invoke gives S_OK and a
// value of `type`, in `result`.
bool NormalReadWorks(IDispatch* object, DISPID member, VARTYPE type, runtime::unique_variant& result);
// A normal late-bound call: TimeOut read through Invoke, a time-out in range.
bool NormalCallWorks(IDispatch* object);

// What an argument object's ReenterLookup does: a lookup on the component
// object (either class) that is converting it.
void ReenterLookup(IUnknown* target);

// Storage that a by-reference argument points to lives in the Arena until the
// call is over.
class Arena {
 public:
  ~Arena() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  // A by-value variant owned by the arena.
  VARIANT& Value() { return values_.emplace_back(Empty()); }
  template <typename T>
  T* Cell(T initial) {
    cells_.emplace_back(sizeof(T) + 16, 0);
    T* cell = reinterpret_cast<T*>(cells_.back().data());
    std::memcpy(cell, &initial, sizeof(T));
    return cell;
  }

 private:
  static VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
  }
  std::deque<VARIANT> values_;
  std::deque<std::vector<std::uint8_t>> cells_;
};

// One by-value variant of a random type, owned by `arena`; objects among them
// re-enter or fail on `target`.
VARIANT& RandomValue(std::mt19937& random, Arena& arena, IUnknown* target);
// A by-reference variant pointing at storage in `arena`, sometimes at nothing.
VARIANT RandomReference(std::mt19937& random, Arena& arena, IUnknown* target);
// A one-dimensional array of `type` (strings, variants or octets), 0 to 2 long.
SAFEARRAY* MakeArray(std::mt19937& random, VARTYPE type);

// One Invoke call: member, flags, arguments and named arguments, and the
// DISPPARAMS over them (which a hostile call may then bend).
struct Call {
  DISPID Member = DISPID_TIMEOUT;
  WORD Flags = DISPATCH_PROPERTYGET;
  std::vector<VARIANT> Arguments;  // rgvarg order: the last argument first
  std::vector<DISPID> Names;
  DISPPARAMS Params{};
  bool NullParams = false;

  // Points Params at the arguments and names.
  void Lay() {
    Params = {Arguments.empty() ? nullptr : Arguments.data(), Names.empty() ? nullptr : Names.data(),
              static_cast<UINT>(Arguments.size()), static_cast<UINT>(Names.size())};
  }
};

// The call a script host makes with one value: a property put for the two
// settings, a method call for the lookups.
bool IsSetting(DISPID member);

void BuildRandomCall(std::mt19937& random, Arena& arena, _VeviVORIdezaz* target, Call& call);

// Runs one call; `unchanged` says whether the caller's arguments are as they were.
HRESULT RunCall(IDispatch* object, Call& call, std::mt19937& random, bool& unchanged);

// Invoke with one argument (or none), the caller's variant handed over as it
// is: these tests look at what the component does to it.
HRESULT InvokeWith(IDispatch* object, DISPID member, WORD flags, VARIANT* argument, VARIANT* result);

}  // namespace vavizav::testing
