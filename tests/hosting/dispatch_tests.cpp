// The dispatch layer against the function table: type information, names,
// properties and lookups late and early bound. Needs the local unbound.
#include <gtest/gtest.h>

#include <utility>

#include "module_fixture.h"

namespace vavizav::testing {

using runtime::com_ptr;
using runtime::unique_variant;

namespace {

Outcome EarlyOutcome(_VeviVORIdezaz* object, DISPID member, const wchar_t* argument) {
  const Direction direction = member == DISPID_GET_IP_FROM_NAME ? Direction::Forward : Direction::Reverse;
  const Answer answer = EarlyLookup(*object, direction, *Text(argument));
  EXPECT_EQ(answer.Status, S_OK);
  EXPECT_EQ(answer.LastErrorStatus, S_OK);
  return {answer.Result, answer.LastError};
}

Outcome LateOutcome(IDispatch* object, DISPID member, const wchar_t* argument) {
  unique_variant value = Text(argument);
  const Answer answer = LateLookup(object, member, *value);
  EXPECT_EQ(answer.Status, S_OK);
  EXPECT_EQ(answer.ResultType, VT_BSTR);
  EXPECT_EQ(answer.LastErrorStatus, S_OK);
  return {answer.Result, answer.LastError};
}

TEST(Dispatch, HandsOutTheInterfaceTypeInfoAndItsNames) {
  com_ptr<IDispatch> object = NewObject().query<IDispatch>();
  ASSERT_TRUE(object);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attributes));
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID__VeviVORIdezaz));
  info->ReleaseTypeAttr(attributes);
  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
  EXPECT_EQ(none, nullptr);

  const std::pair<const wchar_t*, DISPID> names[] = {
      {L"TimeOut", 0x68030000}, {L"dnsserver", 0x68030001},     {L"LastError", 0x68030002},
      {L"GetIPFromName", 0x60030003}, {L"GETNAMEFROMIP", 0x60030004},
  };
  for (const auto& [name, id] : names) {
    LPOLESTR text = const_cast<LPOLESTR>(name);
    DISPID found = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &found), S_OK);
    EXPECT_EQ(found, id) << ::testing::PrintToString(std::wstring(name));
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Resolve");
  DISPID found = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &found), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, &unknown, 1, LOCALE_USER_DEFAULT, &found),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(Dispatch, PropertiesMeetTheFunctionTable) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();

  // Late put, early get; early put, late get.
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 400;
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030000, DISPATCH_PROPERTYPUT, {&value}, nullptr), S_OK);
  LONG timeOut = 0;
  object->get_TimeOut(&timeOut);
  EXPECT_EQ(timeOut, 400);
  timeOut = 700;
  object->put_TimeOut(&timeOut);
  unique_variant read;
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030000, DISPATCH_PROPERTYGET, {}, read.get()), S_OK);
  EXPECT_EQ(V_VT(read.get()), VT_I4);
  EXPECT_EQ(V_I4(read.get()), 700);

  // LastError has no put: the dispatch layer finds no such member.
  unique_variant text = Text(L"forged");
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030002, DISPATCH_PROPERTYPUT, {text.get()}, nullptr), DISP_E_MEMBERNOTFOUND);
  HRESULT lastErrorStatus = E_FAIL;
  EXPECT_EQ(LastError(*object.get(), &lastErrorStatus), L"");
  EXPECT_EQ(lastErrorStatus, S_OK);

  unique_variant none;
  EXPECT_EQ(Invoke(dispatch.get(), 0x7FFF0000, DISPATCH_PROPERTYGET, {}, none.get()), DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, LateAndEarlyBoundLookupsAgree) {
  com_ptr<_VeviVORIdezaz> early = NewObject();
  com_ptr<IDispatch> late = NewObject().query<IDispatch>();
  ASSERT_TRUE(early && late);
  unique_variant server = Text(SERVER);
  ASSERT_EQ(early->put_DNSServer(server.get()), S_OK);
  ASSERT_EQ(Invoke(late.get(), 0x68030001, DISPATCH_PROPERTYPUT, {server.get()}, nullptr), S_OK);

  const std::pair<DISPID, const wchar_t*> lookups[] = {
      {0x60030003, L"many.vavizav.test"},
      {0x60030004, L"192.0.2.1"},
      {0x60030003, L"missing.vavizav.test"},
      {0x60030004, L"1.2.3"},
  };
  const Outcome expected[] = {
      {L"192.0.2.10\r\n192.0.2.11\r\n192.0.2.12", L""},
      {L"one.vavizav.test", L""},
      {L"", L"Unable to Resolve HostName"},
      {L"", L"IP Address not recognized"},
  };
  for (size_t i = 0; i < std::size(lookups); ++i) {
    const auto& [member, argument] = lookups[i];
    SCOPED_TRACE(::testing::PrintToString(std::wstring(argument)));
    EXPECT_EQ(EarlyOutcome(early.get(), member, argument), expected[i]);
    EXPECT_EQ(LateOutcome(late.get(), member, argument), expected[i]);
  }
}

}  // namespace
}  // namespace vavizav::testing
