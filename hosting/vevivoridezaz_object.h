// The COM object of class VeviVORIdezaz (VeviVORIdezazComObject): identity,
// reference count and the dual interface _VeviVORIdezaz, in front of a
// vavizav::hosting::VeviVORIdezaz that holds the members' settings and lookups.
#pragma once

#include <unknwn.h>

namespace vavizav::hosting {

// Creates a new object with its initial settings and returns interface `iid`
// of it in `*object` (nullptr and E_NOINTERFACE for any interface but
// IUnknown, IDispatch and _VeviVORIdezaz).
HRESULT CreateVeviVORIdezazObject(REFIID iid, void** object) noexcept;

}  // namespace vavizav::hosting
