// The class factories DllGetClassObject hands out: one for VeviVORIdezaz, one
// for Resolver.
#pragma once

#include <unknwn.h>

namespace vavizav::hosting {

// The factory of the class `clsid`; nullptr for a class the module does not
// serve. Factories are not reference counted: clients keep the module loaded
// through IClassFactory::LockServer, as the contract says.
IClassFactory* ClassFactoryFor(REFCLSID clsid) noexcept;

}  // namespace vavizav::hosting
