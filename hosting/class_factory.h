// The class factory of VeviVORIdezaz that DllGetClassObject hands out.
#pragma once

#include <unknwn.h>

namespace vavizav::hosting {

// One factory for the whole module. It is not reference counted: clients keep
// the module loaded through IClassFactory::LockServer, as the contract says.
IClassFactory* ClassFactoryInstance() noexcept;

}  // namespace vavizav::hosting
