// IDispatch through the type information of a dual interface, as every object
// of the library answers it: late-bound callers reach exactly the members of
// the function table, the caller's DISPPARAMS are only read (the type
// information converts copies), and a reference to the object is held for the
// span of a call, since converting an argument may run a client's code (an
// object's default property) that drops the caller's last reference.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <new>

#include "hosting/dispatch_arguments.h"
#include "hosting/module.h"

namespace vavizav::hosting {

inline HRESULT TypeInfoOfInterface(REFIID iid, UINT index, ITypeInfo** typeInfo) noexcept {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  const InterfaceTypeInfo* info = nullptr;
  const HRESULT hr = GetInterfaceTypeInfo(iid, &info);
  if (FAILED(hr)) return hr;
  info->dispatchView->AddRef();
  *typeInfo = info->dispatchView.get();
  return S_OK;
}

// oleaut32 reads both arrays without looking at them: they are checked here.
inline HRESULT IdsOfInterfaceNames(REFIID iid, REFIID requested, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
  if (!IsEqualIID(requested, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (ids == nullptr) return E_POINTER;
  if (names == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) return E_INVALIDARG;
  }
  const InterfaceTypeInfo* info = nullptr;
  const HRESULT hr = GetInterfaceTypeInfo(iid, &info);
  if (FAILED(hr)) return hr;
  return info->vtableView->GetIDsOfNames(names, count, ids);
}

// `object` is the dual interface `iid` of the object called.
inline HRESULT InvokeThroughTypeInfo(REFIID iid, IDispatch* object, DISPID id, REFIID requested, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError, int levels = ONE_REFERENCE) noexcept {
  if (!IsEqualIID(requested, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const InterfaceTypeInfo* info = nullptr;
  HRESULT hr = GetInterfaceTypeInfo(iid, &info);
  if (FAILED(hr)) return hr;
  CallGuard guard(object);
  try {
    DispatchArguments arguments;
    hr = arguments.CopyFrom(params, argumentError, levels);
    if (FAILED(hr)) return hr;
    return info->vtableView->Invoke(object, id, flags, arguments.get(), result, exception, argumentError);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace vavizav::hosting
