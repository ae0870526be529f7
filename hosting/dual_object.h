// IDispatch over the module's one IUnknown (com_object.h), through the type
// information of an object's dual interface: the door every dual object of the
// library shares (the caller's arguments copied before conversion, a
// reference held for the span of a call). Errors a member raises carry their
// text through IErrorInfo, which ITypeInfo::Invoke turns into the caller's
// EXCEPINFO.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <span>
#include <string_view>
#include <utility>

#include "hosting/com_object.h"
#include "hosting/type_info_dispatch.h"

namespace vavizav::hosting {

// Sets the thread's error information (source `source`, interface `iid`,
// description `text`) and returns `status`, for a member to return.
HRESULT RaiseError(HRESULT status, REFIID iid, const wchar_t* source, std::wstring_view text) noexcept;

// IDispatch through the type information of the dual interface `Interface`,
// over the module's one IUnknown; `Others` are further interfaces the object
// implements. The table names the IIDs the object answers.
template <typename Interface, typename... Others>
class DispatchObject : public ComObject<Lifetime::Counted, Interface, Others...> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) noexcept override {
    return TypeInfoOfInterface(__uuidof(Interface), index, typeInfo);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return IdsOfInterfaceNames(__uuidof(Interface), iid, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    return InvokeThroughTypeInfo(__uuidof(Interface), static_cast<Interface*>(this), id, iid, flags, params, result,
                                 exception, argumentError);
  }

 protected:
  explicit DispatchObject(std::span<const InterfaceEntry> interfaces) noexcept
      : ComObject<Lifetime::Counted, Interface, Others...>(interfaces) {}
};

// The objects of the second class and what they hand out: their dual
// interface, ISupportErrorInfo for the errors their members raise, and any
// `Extra` interfaces (which the object's own table then names).
template <typename Interface, typename... Extra>
class DualObject : public DispatchObject<Interface, ISupportErrorInfo, Extra...> {
 public:
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    return IsEqualIID(iid, __uuidof(Interface)) ? S_OK : S_FALSE;
  }
  // Arguments reached through a chain of references, as script hosts pass them.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
    return InvokeThroughTypeInfo(__uuidof(Interface), static_cast<Interface*>(this), id, iid, flags, params, result,
                                 exception, argumentError, REFERENCE_CHAIN);
  }

 protected:
  DualObject() noexcept : DispatchObject<Interface, ISupportErrorInfo, Extra...>(Interfaces()) {}
  // ISupportErrorInfo is interface 1, the Extra ones follow.
  explicit DualObject(std::span<const InterfaceEntry> interfaces) noexcept
      : DispatchObject<Interface, ISupportErrorInfo, Extra...>(interfaces) {}

 private:
  static std::span<const InterfaceEntry> Interfaces() noexcept {
    static const InterfaceEntry interfaces[] = {
        {&IID_IUnknown, 0}, {&IID_IDispatch, 0}, {&__uuidof(Interface), 0}, {&IID_ISupportErrorInfo, 1}};
    return interfaces;
  }
};

// Makes a new `Object` from `arguments` and hands out its interface `iid`.
template <typename Object, typename... Arguments>
HRESULT CreateDualObject(REFIID iid, void** out, Arguments&&... arguments) noexcept {
  return CreateComObject<Object>(iid, out, std::forward<Arguments>(arguments)...);
}

}  // namespace vavizav::hosting
