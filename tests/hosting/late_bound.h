// Late-bound calls as script hosts make them (IDispatch by name), and the
// Resolver objects the late-bound tests call: a member's result, its raised
// error's description, typed reads and the objects members return.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "module_fixture.h"

namespace vavizav::testing {

// What one late-bound call gave.
struct Result {
  HRESULT Status = E_FAIL;
  runtime::unique_variant Value;
  std::wstring Description;  // EXCEPINFO's, when the member raised an error
};

inline DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << "no member " << name;
  return id;
}

inline Result CallId(IDispatch* object, DISPID id, WORD flags, std::initializer_list<VARIANT*> arguments) {
  std::vector<VARIANT> reversed;
  for (auto argument = std::rbegin(arguments); argument != std::rend(arguments); ++argument) reversed.push_back(**argument);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  Result result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  result.Status = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                 flags & DISPATCH_PROPERTYPUT ? nullptr : result.Value.get(), &exception, &argumentError);
  result.Description = runtime::BstrView(exception.bstrDescription);
  FreeExceptionInfo(exception);
  return result;
}

inline Result Call(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT*> arguments = {}) {
  return CallId(object, IdOf(object, name), DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments);
}
inline Result Put(IDispatch* object, const wchar_t* name, VARIANT* value) {
  return CallId(object, IdOf(object, name), DISPATCH_PROPERTYPUT, {value});
}

inline std::wstring TextOf(IDispatch* object, const wchar_t* name) {
  Result result = Call(object, name);
  EXPECT_EQ(result.Status, S_OK) << "reading " << name;
  runtime::unique_variant text;
  if (FAILED(VariantChangeType(text.get(), result.Value.get(), 0, VT_BSTR))) return L"<no text>";
  return std::wstring(runtime::BstrView(V_BSTR(text.get())));
}

inline runtime::com_ptr<IDispatch> ObjectOf(Result&& result) {
  EXPECT_EQ(result.Status, S_OK);
  EXPECT_EQ(V_VT(result.Value.get()), VT_DISPATCH);
  runtime::com_ptr<IDispatch> object;
  if (V_VT(result.Value.get()) == VT_DISPATCH) {
    object.attach(V_DISPATCH(result.Value.get()));
    V_VT(result.Value.get()) = VT_EMPTY;
  }
  return object;
}

inline runtime::com_ptr<IDispatch> NewResolver() { return NewResolverAs<IDispatch>(IID_IDispatch); }

// A Resolver asking the local unbound with a short time-out.
inline runtime::com_ptr<IDispatch> TestResolver() {
  runtime::com_ptr<IDispatch> resolver = NewResolver();
  Put(resolver.get(), L"DNSServer", Text(SERVER).get());
  Put(resolver.get(), L"TimeOut", Long(2000).get());
  return resolver;
}

inline runtime::com_ptr<IDispatch> Resolve(IDispatch* resolver, std::wstring_view name, std::wstring_view type = {}) {
  runtime::unique_variant nameArgument = Text(name);
  if (type.empty()) return ObjectOf(Call(resolver, L"Resolve", {nameArgument.get()}));
  runtime::unique_variant typeArgument = Text(type);
  return ObjectOf(Call(resolver, L"Resolve", {nameArgument.get(), typeArgument.get()}));
}

inline runtime::com_ptr<IDispatch> RecordOf(IDispatch* answer, LONG index) {
  runtime::com_ptr<IDispatch> records = ObjectOf(Call(answer, L"Records"));
  if (!records) return {};
  return ObjectOf(Call(records.get(), L"Item", {Long(index).get()}));
}

inline VARTYPE TypeOf(IDispatch* object, const wchar_t* name) {
  Result result = Call(object, name);
  EXPECT_EQ(result.Status, S_OK) << name;
  return V_VT(result.Value.get());
}

}  // namespace vavizav::testing
