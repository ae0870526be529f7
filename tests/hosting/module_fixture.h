// What every test of Vavizav.dll loaded by path shares: the module, loaded once
// for the whole program, its class object and new objects, the servers the
// lookups ask, and what a lookup gave. Each test runs in the single-threaded
// apartment the program enters before the first test.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <ostream>
#include <string>

#include "com_client.h"
#include "loaded_module.h"
#include "paths.h"
#include "runtime/handles.h"
#include "test_addresses.h"
#include "vavizav.h"

namespace vavizav::testing {

// The local unbound serving tests/e2e/*.zone, and a loopback address where
// nothing answers.
inline const wchar_t* const SERVER = VAVIZAV_UNBOUND_ADDRESS;
inline const wchar_t* const SILENT_SERVER = VAVIZAV_SILENT_ADDRESS;

inline const LoadedModule& Module() {
  static const LoadedModule module(VAVIZAV_DLL_PATH);
  return module;
}

inline runtime::com_ptr<IClassFactory> Factory() {
  runtime::com_ptr<IClassFactory> factory;
  if (Module().GetClassObject != nullptr) {
    EXPECT_EQ(Module().ClassObject(CLSID_VeviVORIdezaz, factory), S_OK);
  }
  return factory;
}

inline runtime::com_ptr<_VeviVORIdezaz> NewObject() {
  runtime::com_ptr<_VeviVORIdezaz> object;
  if (runtime::com_ptr<IClassFactory> factory = Factory()) {
    EXPECT_EQ(factory->CreateInstance(nullptr, IID__VeviVORIdezaz, object.put_void()), S_OK);
  }
  return object;
}

// A new object of the Resolver class, asked for `iid` (of `Interface`).
template <typename Interface>
runtime::com_ptr<Interface> NewResolverAs(REFIID iid) {
  runtime::com_ptr<IClassFactory> factory;
  EXPECT_EQ(Module().ClassObject(CLSID_Resolver, factory), S_OK);
  runtime::com_ptr<Interface> resolver;
  if (factory) {
    EXPECT_EQ(factory->CreateInstance(nullptr, iid, resolver.put_void()), S_OK);
  }
  return resolver;
}

inline HRESULT CanUnloadNow() { return Module().CanUnloadNow(); }

// What a lookup through the function table or IDispatch gives: result and LastError.
struct Outcome {
  std::wstring Result;
  std::wstring LastError;
  friend bool operator==(const Outcome&, const Outcome&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << ::testing::PrintToString(o.Result) << " / " << ::testing::PrintToString(o.LastError);
  }
};

}  // namespace vavizav::testing
