// The Resolver class and the objects it hands out, called late-bound as
// script hosts call them (IDispatch by name), against the local unbound
// serving tests/e2e/*.zone: settings and their errors, Resolve of several
// types and each failure's Status and LastError, ResolveMany with every shape
// of Names the hosts hand over, the records' typed members, For Each, and the
// objects' lifetimes.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <algorithm>
#include <cwctype>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "dispatch_double.h"
#include "late_bound.h"
#include "module_fixture.h"

namespace vavizav::testing {

using runtime::MakeBstr;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_variant;

namespace {

// ---------------------------------------------------------------------------

TEST(ResolverSettings, DefaultsAndOutOfRangeValuesRefusedWithAnErrorTheScriptSees) {
  com_ptr<IDispatch> resolver = NewResolver();
  ASSERT_TRUE(resolver);
  EXPECT_EQ(TextOf(resolver.get(), L"DNSServer"), L"");
  EXPECT_EQ(TextOf(resolver.get(), L"TimeOut"), L"10000");
  EXPECT_EQ(TextOf(resolver.get(), L"MaxInFlight"), L"64");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  for (const LONG refused : {0L, -1L, 65535L, 1000000L}) {
    const Result put = Put(resolver.get(), L"TimeOut", Long(refused).get());
    EXPECT_EQ(put.Status, DISP_E_EXCEPTION) << refused;
    EXPECT_EQ(put.Description, L"TimeOut must be from 1 to 65534; " + std::to_wstring(refused) + L" was refused");
    EXPECT_EQ(TextOf(resolver.get(), L"LastError"), put.Description);
    EXPECT_EQ(TextOf(resolver.get(), L"TimeOut"), L"10000");
  }
  EXPECT_EQ(Put(resolver.get(), L"MaxInFlight", Long(1025).get()).Description,
            L"MaxInFlight must be from 1 to 1024; 1025 was refused");
  EXPECT_EQ(Put(resolver.get(), L"MaxInFlight", Long(0).get()).Status, DISP_E_EXCEPTION);
  EXPECT_EQ(TextOf(resolver.get(), L"MaxInFlight"), L"64");

  // A taken value clears LastError; a text for a number is converted as scripts expect.
  EXPECT_EQ(Put(resolver.get(), L"MaxInFlight", Text(L"1024").get()).Status, S_OK);
  EXPECT_EQ(TextOf(resolver.get(), L"MaxInFlight"), L"1024");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");
  EXPECT_EQ(Put(resolver.get(), L"TimeOut", Long(1).get()).Status, S_OK);
  EXPECT_EQ(Put(resolver.get(), L"TimeOut", Long(65534).get()).Status, S_OK);
  const std::wstring list = std::wstring(SERVER) + L", [::1]:5300";
  EXPECT_EQ(Put(resolver.get(), L"DNSServer", Text(list).get()).Status, S_OK);
  EXPECT_EQ(TextOf(resolver.get(), L"DNSServer"), list);
  EXPECT_EQ(Put(resolver.get(), L"LastError", Text(L"x").get()).Status, DISP_E_MEMBERNOTFOUND);
}

TEST(Resolve, AddressesThroughACnameChainAsTheAnswerAndItsRecords) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"alias.vavizav.test");
  ASSERT_TRUE(answer);
  EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(answer.get(), L"Name"), L"alias.vavizav.test");
  EXPECT_EQ(TextOf(answer.get(), L"Type"), L"A");
  EXPECT_EQ(TextOf(answer.get(), L"CanonicalName"), L"many.vavizav.test.");
  EXPECT_EQ(TextOf(answer.get(), L"Server"), SERVER);
  // The default member is Text.
  EXPECT_EQ(CallId(answer.get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {}).Status, S_OK);
  const std::wstring text = TextOf(answer.get(), L"Text");
  EXPECT_NE(text.find(L"192.0.2.10"), std::wstring::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 2);
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  com_ptr<IDispatch> records = ObjectOf(Call(answer.get(), L"Records"));
  EXPECT_EQ(TextOf(records.get(), L"Count"), L"3");
  com_ptr<IDispatch> record = RecordOf(answer.get(), 0);
  ASSERT_TRUE(record);
  EXPECT_EQ(TextOf(record.get(), L"Name"), L"many.vavizav.test.");
  EXPECT_EQ(TextOf(record.get(), L"Type"), L"A");
  EXPECT_EQ(TextOf(record.get(), L"TTL"), L"300");
  EXPECT_EQ(TypeOf(record.get(), L"Address"), VT_BSTR);
  EXPECT_EQ(TextOf(record.get(), L"Address"), TextOf(record.get(), L"Data"));
  for (const wchar_t* absent : {L"Target", L"Preference", L"Port", L"Text", L"Strings", L"Serial", L"Flags", L"Tag"}) {
    EXPECT_EQ(TypeOf(record.get(), absent), VT_EMPTY) << absent;
  }
}

TEST(Resolve, TypedMembersOfTxtSoaNsAndPtr) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> txt = RecordOf(Resolve(resolver.get(), L"nodata.vavizav.test", L"txt").get(), 0);
  ASSERT_TRUE(txt);
  EXPECT_EQ(TextOf(txt.get(), L"Text"), L"no address here");
  EXPECT_EQ(TextOf(txt.get(), L"Data"), L"\"no address here\"");
  EXPECT_EQ(TypeOf(txt.get(), L"Strings"), VT_ARRAY | VT_VARIANT);

  com_ptr<IDispatch> soa = RecordOf(Resolve(resolver.get(), L"vavizav.test", L"SOA").get(), 0);
  ASSERT_TRUE(soa);
  EXPECT_EQ(TextOf(soa.get(), L"PrimaryServer"), L"ns.vavizav.test.");
  EXPECT_EQ(TextOf(soa.get(), L"ResponsibleMailbox"), L"hostmaster.vavizav.test.");
  EXPECT_EQ(TypeOf(soa.get(), L"Serial"), VT_R8);
  EXPECT_EQ(TextOf(soa.get(), L"Serial"), L"1");
  EXPECT_EQ(TextOf(soa.get(), L"Refresh"), L"3600");
  EXPECT_EQ(TextOf(soa.get(), L"Minimum"), L"300");

  com_ptr<IDispatch> ns = RecordOf(Resolve(resolver.get(), L"vavizav.test", L"2").get(), 0);
  ASSERT_TRUE(ns);
  EXPECT_EQ(TextOf(ns.get(), L"Target"), L"ns.vavizav.test.");

  // An address under PTR asks its reverse name.
  com_ptr<IDispatch> ptr = Resolve(resolver.get(), L"192.0.2.1", L"PTR");
  EXPECT_EQ(TextOf(ptr.get(), L"Text"), L"one.vavizav.test.");
  EXPECT_EQ(TextOf(ptr.get(), L"Name"), L"192.0.2.1");
  EXPECT_EQ(TextOf(ptr.get(), L"CanonicalName"), L"1.2.0.192.in-addr.arpa.");
}

// The members the record table adds, read late-bound from records of
// tests/e2e/records.test.zone, each in the automation type the README gives.
TEST(Resolve, TypedMembersOfTheNewerTypes) {
  com_ptr<IDispatch> resolver = TestResolver();
  const auto record = [&resolver](const wchar_t* name, const wchar_t* type) {
    com_ptr<IDispatch> answer = Resolve(resolver.get(), name, type);
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR") << type;
    return RecordOf(answer.get(), 0);
  };
  const auto real = [](IDispatch* object, const wchar_t* member) {
    Result result = Call(object, member);
    EXPECT_EQ(V_VT(result.Value.get()), VT_R8) << member;
    return V_VT(result.Value.get()) == VT_R8 ? V_R8(result.Value.get()) : -1e300;
  };

  com_ptr<IDispatch> dnskey = record(L"dnskey.records.test", L"DNSKEY");
  ASSERT_TRUE(dnskey);
  EXPECT_EQ(TypeOf(dnskey.get(), L"Flags"), VT_I4);
  EXPECT_EQ(TextOf(dnskey.get(), L"Flags"), L"257");
  EXPECT_EQ(TextOf(dnskey.get(), L"Protocol"), L"3");
  EXPECT_EQ(TextOf(dnskey.get(), L"Algorithm"), L"13");
  EXPECT_EQ(TextOf(dnskey.get(), L"PublicKey"),
            L"mdsswUyr3DPW132mOi8V9xESWE8jTo0dxCjjnopKl+GqJxpVXckHAeF+KkxLbxILfDLUT0rAK9iUzy1L53eKGQ==");
  for (const wchar_t* absent : {L"Tag", L"Value", L"Target", L"KeyTag", L"Signature"}) {
    EXPECT_EQ(TypeOf(dnskey.get(), absent), VT_EMPTY) << absent;
  }

  com_ptr<IDispatch> rrsig = record(L"rrsig.records.test", L"rrsig");
  ASSERT_TRUE(rrsig);
  EXPECT_EQ(TextOf(rrsig.get(), L"TypeCovered"), L"A");
  EXPECT_EQ(TextOf(rrsig.get(), L"Labels"), L"3");
  EXPECT_EQ(real(rrsig.get(), L"OriginalTTL"), 300.0);
  EXPECT_EQ(TypeOf(rrsig.get(), L"Expiration"), VT_DATE);
  Result expiration = Call(rrsig.get(), L"Expiration");
  // 2026-12-31 23:59:59 UTC, days since 1899-12-30.
  EXPECT_NEAR(V_DATE(expiration.Value.get()), 25569.0 + 1798761599.0 / 86400.0, 1e-6);
  EXPECT_EQ(TextOf(rrsig.get(), L"KeyTag"), L"2371");
  EXPECT_EQ(TextOf(rrsig.get(), L"SignerName"), L"records.test.");
  EXPECT_EQ(TextOf(rrsig.get(), L"Signature"), L"dGVzdCBzaWduYXR1cmUgb2N0ZXRzIGZvciB0aGUgcmVhZGVy");

  com_ptr<IDispatch> svcb = record(L"svcb1.records.test", L"SVCB");
  ASSERT_TRUE(svcb);
  EXPECT_EQ(TextOf(svcb.get(), L"Priority"), L"1");
  EXPECT_EQ(TextOf(svcb.get(), L"Target"), L"svc.records.test.");
  EXPECT_EQ(TextOf(svcb.get(), L"Params"),
            L"mandatory=alpn,port alpn=\"h2,h3\" port=8443 ipv4hint=192.0.2.1,192.0.2.2 ech=AEX+DQ== "
            L"ipv6hint=2001:db8::1,::ffff:1.2.3.4 key65333=\"ex\\001ample\"");
  EXPECT_EQ(TypeOf(svcb.get(), L"Port"), VT_EMPTY);

  com_ptr<IDispatch> uri = record(L"uri.records.test", L"URI");
  ASSERT_TRUE(uri);
  EXPECT_EQ(TextOf(uri.get(), L"Priority"), L"10");
  EXPECT_EQ(TextOf(uri.get(), L"Weight"), L"1");
  EXPECT_EQ(TextOf(uri.get(), L"Target"), L"ftp://ftp1.example.com/public");

  com_ptr<IDispatch> loc = record(L"loc.records.test", L"LOC");
  ASSERT_TRUE(loc);
  EXPECT_NEAR(real(loc.get(), L"Latitude"), 52 + 22 / 60.0 + 23 / 3600.0, 1e-9);
  EXPECT_NEAR(real(loc.get(), L"Longitude"), 4 + 53 / 60.0 + 32 / 3600.0, 1e-9);
  EXPECT_EQ(real(loc.get(), L"Altitude"), -2.0);
  EXPECT_EQ(real(loc.get(), L"Size"), 0.0);
  EXPECT_EQ(real(loc.get(), L"HorizontalPrecision"), 10000.0);
  EXPECT_EQ(real(loc.get(), L"VerticalPrecision"), 10.0);

  com_ptr<IDispatch> nsec = record(L"nsec.records.test", L"NSEC");
  ASSERT_TRUE(nsec);
  EXPECT_EQ(TextOf(nsec.get(), L"NextName"), L"z.records.test.");
  EXPECT_EQ(TextOf(nsec.get(), L"Types"), L"A NS SOA MX TXT AAAA RRSIG NSEC DNSKEY CAA TYPE65534");

  com_ptr<IDispatch> param = record(L"nsec3param.records.test", L"NSEC3PARAM");
  ASSERT_TRUE(param);
  EXPECT_EQ(TextOf(param.get(), L"Algorithm"), L"1");
  EXPECT_EQ(TextOf(param.get(), L"Flags"), L"0");
  EXPECT_EQ(TextOf(param.get(), L"Iterations"), L"10");
  EXPECT_EQ(TextOf(param.get(), L"Salt"), L"AABBCCDD");

  com_ptr<IDispatch> smimea = record(L"smimea.records.test", L"SMIMEA");
  ASSERT_TRUE(smimea);
  EXPECT_EQ(TextOf(smimea.get(), L"Usage"), L"3");
  EXPECT_EQ(TextOf(smimea.get(), L"Selector"), L"1");
  EXPECT_EQ(TextOf(smimea.get(), L"MatchingType"), L"1");
  EXPECT_EQ(TextOf(smimea.get(), L"Digest"), L"0C72AC70B745AC19998811B131D662C9AC69DBDBE7CB23E5B514B56664C5D3D6");

  com_ptr<IDispatch> cds = record(L"cds.records.test", L"CDS");
  ASSERT_TRUE(cds);
  EXPECT_EQ(TextOf(cds.get(), L"KeyTag"), L"2371");
  EXPECT_EQ(TextOf(cds.get(), L"DigestType"), L"2");
  EXPECT_EQ(TextOf(cds.get(), L"Data"), L"2371 13 2 C988EC423E3880EB8DD8A46F4BAA7F8B4F28F1E3F4E2CD23D3A2ED0FF3A0C2F3");
}

TEST(Resolve, EachFailureIsAStatusNeverAnError) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> missing = Resolve(resolver.get(), L"absent.vavizav.test", L"MX");
  EXPECT_EQ(TextOf(missing.get(), L"Status"), L"NXDOMAIN");
  EXPECT_EQ(TextOf(missing.get(), L"Text"), L"");
  EXPECT_EQ(TextOf(ObjectOf(Call(missing.get(), L"Records")).get(), L"Count"), L"0");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  com_ptr<IDispatch> badType = Resolve(resolver.get(), L"one.vavizav.test", L"BOGUS");
  EXPECT_EQ(TextOf(badType.get(), L"Status"), L"BADNAME");
  EXPECT_EQ(TextOf(badType.get(), L"Type"), L"BOGUS");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"),
            L"Type \"BOGUS\" is not a DNS type: give a mnemonic such as \"MX\" or a number from 1 to 65535");
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"one.vavizav.test", L"65536").get(), L"Status"), L"BADNAME");

  com_ptr<IDispatch> badName = Resolve(resolver.get(), L"a..b");
  EXPECT_EQ(TextOf(badName.get(), L"Status"), L"BADNAME");
  EXPECT_NE(TextOf(resolver.get(), L"LastError").find(L"Name \"a..b\" cannot be asked"), std::wstring::npos);

  unique_variant null;
  V_VT(null.get()) = VT_NULL;
  com_ptr<IDispatch> nullName = ObjectOf(Call(resolver.get(), L"Resolve", {null.get()}));
  EXPECT_EQ(TextOf(nullName.get(), L"Status"), L"BADNAME");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"Name: Invalid use of Null");

  // A number as Type, and the next good call clears LastError.
  unique_variant name = Text(L"one.vavizav.test");
  com_ptr<IDispatch> numbered = ObjectOf(Call(resolver.get(), L"Resolve", {name.get(), Long(1).get()}));
  EXPECT_EQ(TextOf(numbered.get(), L"Text"), L"192.0.2.1");
  EXPECT_EQ(TextOf(numbered.get(), L"Type"), L"A");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");

  // Numbers outside 1..65535 or with a fraction are no type either.
  for (const double number : {0.0, 1.5, 65536.0, 1e300, -1e300}) {
    unique_variant type;
    V_VT(type.get()) = VT_R8;
    V_R8(type.get()) = number;
    com_ptr<IDispatch> refused = ObjectOf(Call(resolver.get(), L"Resolve", {name.get(), type.get()}));
    EXPECT_EQ(TextOf(refused.get(), L"Status"), L"BADNAME") << number;
    EXPECT_NE(TextOf(resolver.get(), L"LastError"), L"") << number;
  }

  Put(resolver.get(), L"DNSServer", Text(SILENT_SERVER).get());
  Put(resolver.get(), L"TimeOut", Long(200).get());
  com_ptr<IDispatch> silent = Resolve(resolver.get(), L"one.vavizav.test");
  EXPECT_EQ(TextOf(silent.get(), L"Status"), L"TIMEOUT");
  EXPECT_EQ(TextOf(silent.get(), L"Server"), L"");

  Put(resolver.get(), L"DNSServer", Text(std::wstring(SERVER) + L":99999").get());
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"one.vavizav.test").get(), L"Status"), L"NOSERVER");
}

// ---------------------------------------------------------------------------
// ResolveMany: the result has the dimensions and bounds of Names.

unique_variant VariantArray(std::vector<SAFEARRAYBOUND> bounds, std::initializer_list<const wchar_t*> names) {
  unique_variant array;
  V_VT(array.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(array.get()) = SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data());
  VARIANT* data = nullptr;
  SafeArrayAccessData(V_ARRAY(array.get()), reinterpret_cast<void**>(&data));
  std::size_t i = 0;
  for (const wchar_t* name : names) {
    if (name != nullptr) {
      V_VT(&data[i]) = VT_BSTR;
      V_BSTR(&data[i]) = SysAllocString(name);
    }
    ++i;
  }
  SafeArrayUnaccessData(V_ARRAY(array.get()));
  return array;
}

// The answers of a result array in memory order, as Name / Status pairs.
std::vector<std::wstring> Answers(const VARIANT& result) {
  std::vector<std::wstring> seen;
  if (V_VT(&result) != (VT_ARRAY | VT_VARIANT)) return {L"<not a VARIANT array>"};
  SAFEARRAY* array = V_ARRAY(&result);
  ULONG count = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG low = 0, high = 0;
    SafeArrayGetLBound(array, d, &low);
    SafeArrayGetUBound(array, d, &high);
    count *= static_cast<ULONG>(high - low + 1);
  }
  VARIANT* data = nullptr;
  SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
  for (ULONG i = 0; i < count; ++i) {
    if (V_VT(&data[i]) != VT_DISPATCH) {
      seen.push_back(L"<element not an object>");
      continue;
    }
    seen.push_back(TextOf(V_DISPATCH(&data[i]), L"Name") + L"/" + TextOf(V_DISPATCH(&data[i]), L"Status"));
  }
  SafeArrayUnaccessData(array);
  return seen;
}

std::vector<std::pair<LONG, LONG>> BoundsOf(const VARIANT& result) {
  std::vector<std::pair<LONG, LONG>> bounds;
  if (!(V_VT(&result) & VT_ARRAY)) return bounds;
  for (UINT d = 1; d <= SafeArrayGetDim(V_ARRAY(&result)); ++d) {
    LONG low = 0, high = 0;
    SafeArrayGetLBound(V_ARRAY(&result), d, &low);
    SafeArrayGetUBound(V_ARRAY(&result), d, &high);
    bounds.emplace_back(low, high);
  }
  return bounds;
}

TEST(ResolveMany, OneDimensionAnyLowerBoundEmptyElementsBadname) {
  com_ptr<IDispatch> resolver = TestResolver();
  unique_variant names = VariantArray({{4, 3}}, {L"one.vavizav.test", nullptr, L"many.vavizav.test", L"one.vavizav.test"});
  Result result = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(result.Status, S_OK);
  EXPECT_EQ(BoundsOf(*result.Value), (std::vector<std::pair<LONG, LONG>>{{3, 6}}));
  EXPECT_EQ(Answers(*result.Value), (std::vector<std::wstring>{L"one.vavizav.test/NOERROR", L"/BADNAME",
                                                                L"many.vavizav.test/NOERROR", L"one.vavizav.test/NOERROR"}));
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"");
}

TEST(ResolveMany, TwoDimensionsAsExcelsRangeValueKeepTheirPlaces) {
  com_ptr<IDispatch> resolver = TestResolver();
  // Rows 1..2 by columns 1..3; memory order runs down the first dimension first.
  unique_variant names = VariantArray({{2, 1}, {3, 1}}, {L"one.vavizav.test", L"absent.vavizav.test", L"many.vavizav.test",
                                                         nullptr, L"a..b", L"one.vavizav.test"});
  unique_variant type = Text(L"A");
  Result result = Call(resolver.get(), L"ResolveMany", {names.get(), type.get()});
  ASSERT_EQ(result.Status, S_OK);
  EXPECT_EQ(BoundsOf(*result.Value), (std::vector<std::pair<LONG, LONG>>{{1, 2}, {1, 3}}));
  EXPECT_EQ(Answers(*result.Value),
            (std::vector<std::wstring>{L"one.vavizav.test/NOERROR", L"absent.vavizav.test/NXDOMAIN",
                                       L"many.vavizav.test/NOERROR", L"/BADNAME", L"a..b/BADNAME",
                                       L"one.vavizav.test/NOERROR"}));
  // Element (2, 1) is the second in memory: the caller finds it where it put the name.
  LONG at[] = {2, 1};
  unique_variant element;
  ASSERT_EQ(SafeArrayGetElement(V_ARRAY(result.Value.get()), at, element.get()), S_OK);
  EXPECT_EQ(TextOf(V_DISPATCH(element.get()), L"Name"), L"absent.vavizav.test");
}

TEST(ResolveMany, TypedStringArraysAndEmptyArrays) {
  com_ptr<IDispatch> resolver = TestResolver();
  SAFEARRAYBOUND bound{2, 0};
  unique_variant names;
  V_VT(names.get()) = VT_ARRAY | VT_BSTR;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_BSTR, 1, &bound);
  LONG index = 0;
  unique_bstr first = MakeBstr(L"one.vavizav.test");
  SafeArrayPutElement(V_ARRAY(names.get()), &index, first.get());
  Result result = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(result.Status, S_OK);
  EXPECT_EQ(Answers(*result.Value), (std::vector<std::wstring>{L"one.vavizav.test/NOERROR", L"/BADNAME"}));

  // VBScript's Array(): one dimension, no element.
  unique_variant none = VariantArray({{0, 0}}, {});
  Result empty = Call(resolver.get(), L"ResolveMany", {none.get()});
  ASSERT_EQ(empty.Status, S_OK);
  EXPECT_EQ(BoundsOf(*empty.Value), (std::vector<std::pair<LONG, LONG>>{{0, -1}}));
}

TEST(ResolveMany, NamesThatAreNoArrayRaiseAnErrorAndSetLastError) {
  com_ptr<IDispatch> resolver = TestResolver();
  unique_variant scalar = Text(L"one.vavizav.test");
  Result result = Call(resolver.get(), L"ResolveMany", {scalar.get()});
  EXPECT_EQ(result.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(result.Description, L"ResolveMany: Names is not an array");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"), L"ResolveMany: Names is not an array");

  unique_variant nullArray;
  V_VT(nullArray.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(nullArray.get()) = nullptr;
  EXPECT_EQ(Call(resolver.get(), L"ResolveMany", {nullArray.get()}).Description,
            L"ResolveMany: Names is an array without elements (not dimensioned)");
  unique_variant null;
  V_VT(null.get()) = VT_NULL;
  EXPECT_EQ(Call(resolver.get(), L"ResolveMany", {null.get()}).Description, L"ResolveMany: Names is Null, not an array");

  // A bad Type answers every element BADNAME, no error raised.
  unique_variant names = VariantArray({{1, 0}}, {L"one.vavizav.test"});
  unique_variant type = Text(L"NOPE");
  Result badType = Call(resolver.get(), L"ResolveMany", {names.get(), type.get()});
  ASSERT_EQ(badType.Status, S_OK);
  EXPECT_EQ(Answers(*badType.Value), std::vector<std::wstring>{L"one.vavizav.test/BADNAME"});
  EXPECT_NE(TextOf(resolver.get(), L"LastError"), L"");
}

// A JScript array as the engine sees it: an object with "length" and the
// properties "0", "1", ...; index 1 is a hole.
class ScriptArray final : public DispatchDouble {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) noexcept override {
    const std::wstring name = names[0];
    if (name == L"length") return *ids = 100, S_OK;
    if (name == L"0" || name == L"2") return *ids = 200 + std::stoi(name), S_OK;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (id == 100) {
      V_VT(result) = VT_I4;
      V_I4(result) = 3;
    } else {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = SysAllocString(id == 200 ? L"one.vavizav.test" : L"many.vavizav.test");
    }
    return S_OK;
  }
};

TEST(ResolveMany, ScriptArraysReadThroughLengthAndIndexedProperties) {
  com_ptr<IDispatch> resolver = TestResolver();
  auto* array = new ScriptArray;
  unique_variant names;
  V_VT(names.get()) = VT_DISPATCH;
  V_DISPATCH(names.get()) = array;
  array->AddRef();
  Result result = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(result.Status, S_OK);
  EXPECT_EQ(BoundsOf(*result.Value), (std::vector<std::pair<LONG, LONG>>{{0, 2}}));
  EXPECT_EQ(Answers(*result.Value), (std::vector<std::wstring>{L"one.vavizav.test/NOERROR", L"/BADNAME",
                                                                L"many.vavizav.test/NOERROR"}));
  names.reset();
  EXPECT_EQ(array->References(), 1u);
  array->Release();
}

// ---------------------------------------------------------------------------

TEST(AnswerObjects, ARecordOutlivesItsAnswerAndAnAnswerItsResolver) {
  com_ptr<IDispatch> record;
  com_ptr<IDispatch> answer;
  {
    com_ptr<IDispatch> resolver = TestResolver();
    answer = Resolve(resolver.get(), L"one.vavizav.test");
    record = RecordOf(answer.get(), 0);
  }
  EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.1");
  answer.reset();
  EXPECT_EQ(TextOf(record.get(), L"Data"), L"192.0.2.1");
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  record.reset();
}

TEST(AnswerObjects, ItemOutOfRangeRaisesAndForEachEnumeratesEveryRecord) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"many.vavizav.test");
  com_ptr<IDispatch> records = ObjectOf(Call(answer.get(), L"Records"));
  ASSERT_TRUE(records);
  for (const LONG index : {-1L, 3L}) {
    const Result item = Call(records.get(), L"Item", {Long(index).get()});
    EXPECT_EQ(item.Status, DISP_E_EXCEPTION);
    EXPECT_EQ(item.Description, L"Records.Item: the index runs from 0 to 2");
  }
  // records(1) as VBScript writes it: the default member with an argument.
  Result second = CallId(records.get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Long(1).get()});
  ASSERT_EQ(second.Status, S_OK);

  Result enumerator = CallId(records.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET, {});
  ASSERT_EQ(enumerator.Status, S_OK);
  ASSERT_EQ(V_VT(enumerator.Value.get()), VT_UNKNOWN);
  com_ptr<IEnumVARIANT> each;
  ASSERT_EQ(V_UNKNOWN(enumerator.Value.get())->QueryInterface(IID_IEnumVARIANT, each.put_void()), S_OK);
  VARIANT got[4];
  ULONG fetched = 9;
  EXPECT_EQ(each->Next(2, got, nullptr), E_POINTER);
  EXPECT_EQ(each->Next(4, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 3u);
  std::vector<std::wstring> datas;
  for (ULONG i = 0; i < fetched; ++i) {
    datas.push_back(TextOf(V_DISPATCH(&got[i]), L"Data"));
    VariantClear(&got[i]);
  }
  EXPECT_EQ(datas, (std::vector<std::wstring>{L"192.0.2.10", L"192.0.2.11", L"192.0.2.12"}));
  EXPECT_EQ(each->Reset(), S_OK);
  EXPECT_EQ(each->Skip(2), S_OK);
  com_ptr<IEnumVARIANT> copy;
  ASSERT_EQ(each->Clone(copy.put()), S_OK);
  EXPECT_EQ(copy->Next(1, got, nullptr), S_OK);
  EXPECT_EQ(TextOf(V_DISPATCH(&got[0]), L"Data"), L"192.0.2.12");
  VariantClear(&got[0]);
  EXPECT_EQ(each->Skip(5), S_FALSE);
}

// The name goes out in random case (DNS 0x20); a DNAME's synthesized CNAME
// repeats the question's labels as sent, and the caller reads them as it
// spelt them.
TEST(Resolve, NamesSynthesizedFromTheQuestionComeBackAsTheCallerSpeltThem) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"SomeHost.Dname.Records.Test");
  ASSERT_TRUE(answer);
  EXPECT_EQ(TextOf(answer.get(), L"CanonicalName"), L"SomeHost.example.net.");
  // The synthesized CNAME asked for itself: its owner and target read the
  // question's labels as the caller spelt them.
  answer = Resolve(resolver.get(), L"SomeHost.Dname.Records.Test", L"CNAME");
  ASSERT_TRUE(answer);
  com_ptr<IDispatch> records = ObjectOf(Call(answer.get(), L"Records"));
  const int count = std::stoi(TextOf(records.get(), L"Count"));
  EXPECT_EQ(count, 1);
  for (int i = 0; i < count; ++i) {
    com_ptr<IDispatch> record = RecordOf(answer.get(), i);
    EXPECT_EQ(TextOf(record.get(), L"Data"), L"SomeHost.example.net.");
    for (const wchar_t* member : {L"Name", L"Data"}) {
      std::wstring lower = TextOf(record.get(), member);
      const std::wstring spelt = lower;
      for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
      const std::size_t at = lower.find(L"somehost");
      if (at != std::wstring::npos) {
        EXPECT_EQ(spelt.substr(at, 8), L"SomeHost") << spelt;
      }
    }
  }
}

// A server that folds the case of names and refuses TCP answers the
// Resolver class too, question after question.
TEST(Resolve, ACaseFoldingServerWithoutTcpAnswers) {
  com_ptr<IDispatch> resolver = TestResolver();
  ASSERT_EQ(Put(resolver.get(), L"DNSServer", Text(VAVIZAV_FOLDING_NO_TCP_ADDRESS).get()).Status, S_OK);
  for (int n = 1; n <= 3; ++n) {
    com_ptr<IDispatch> answer = Resolve(resolver.get(), L"h" + std::to_wstring(n) + L".NoTcp.Vavizav.Test");
    ASSERT_TRUE(answer);
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR");
    EXPECT_EQ(TextOf(answer.get(), L"Name"), L"h" + std::to_wstring(n) + L".NoTcp.Vavizav.Test");
    EXPECT_NE(TextOf(answer.get(), L"Text").find(L"10.0.0." + std::to_wstring(n)), std::wstring::npos);
  }
}

TEST(AnswerObjects, DispatchIdentifiersAsTheTypeLibraryPinsThem) {
  com_ptr<IDispatch> resolver = TestResolver();
  EXPECT_EQ(IdOf(resolver.get(), L"DNSServer"), 1);
  EXPECT_EQ(IdOf(resolver.get(), L"TimeOut"), 2);
  EXPECT_EQ(IdOf(resolver.get(), L"MaxInFlight"), 3);
  EXPECT_EQ(IdOf(resolver.get(), L"LastError"), 4);
  EXPECT_EQ(IdOf(resolver.get(), L"resolve"), 5);
  EXPECT_EQ(IdOf(resolver.get(), L"ResolveMany"), 6);
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"one.vavizav.test");
  EXPECT_EQ(IdOf(answer.get(), L"Text"), DISPID_VALUE);
  EXPECT_EQ(IdOf(answer.get(), L"Server"), 6);
  com_ptr<IDispatch> record = RecordOf(answer.get(), 0);
  EXPECT_EQ(IdOf(record.get(), L"Data"), DISPID_VALUE);
  EXPECT_EQ(IdOf(record.get(), L"Value"), 21);
  com_ptr<ISupportErrorInfo> errors;
  ASSERT_EQ(resolver->QueryInterface(IID_ISupportErrorInfo, errors.put_void()), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Resolver), S_OK);
}

// Every object kind answers exactly the IIDs of its table, each query for
// IUnknown gives the same pointer whichever interface it starts from, and
// every object but the class factory counts against unloading the module.
TEST(AnswerObjects, EveryObjectKindAnswersItsInterfacesWithOneIdentity) {
  struct Kind {
    const char* Name;
    com_ptr<IUnknown> Object;
    std::vector<IID> Answers;
  };
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"many.vavizav.test");
  com_ptr<IDispatch> records = ObjectOf(Call(answer.get(), L"Records"));
  com_ptr<IDispatch> record = RecordOf(answer.get(), 0);
  Result enumerator = CallId(records.get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET, {});
  ASSERT_TRUE(answer && records && record);
  ASSERT_EQ(V_VT(enumerator.Value.get()), VT_UNKNOWN);
  com_ptr<IClassFactory> factory;
  ASSERT_EQ(Module().ClassObject(CLSID_Resolver, factory), S_OK);
  const IID dual[] = {IID_IUnknown, IID_IDispatch, IID_ISupportErrorInfo};
  std::vector<Kind> kinds;
  kinds.push_back({"factory", factory.query<IUnknown>(), {IID_IUnknown, IID_IClassFactory}});
  // The Resolver is also a source of events, described by its class.
  kinds.push_back({"Resolver", resolver.query<IUnknown>(),
                   {IID__Resolver, IID_IConnectionPointContainer, IID_IProvideClassInfo, IID_IProvideClassInfo2}});
  kinds.push_back({"Answer", answer.query<IUnknown>(), {IID__Answer}});
  kinds.push_back({"Records", records.query<IUnknown>(), {IID__Records}});
  kinds.push_back({"Record", record.query<IUnknown>(), {IID__Record}});
  V_UNKNOWN(enumerator.Value.get())->AddRef();
  kinds.push_back({"enumerator", com_ptr<IUnknown>(V_UNKNOWN(enumerator.Value.get())), {IID_IUnknown, IID_IEnumVARIANT}});
  for (std::size_t k = 1; k < 5; ++k) kinds[k].Answers.insert(kinds[k].Answers.end(), std::begin(dual), std::end(dual));
  const IID strangers[] = {IID_IMarshal, IID_IPersist, IID_IProvideClassInfo, IID_IClassFactory, IID_IEnumVARIANT,
                           IID__VeviVORIdezaz, IID__Answer};
  for (const Kind& kind : kinds) {
    ASSERT_TRUE(kind.Object) << kind.Name;
    for (const IID& iid : kind.Answers) {
      com_ptr<IUnknown> asked;
      ASSERT_EQ(kind.Object->QueryInterface(iid, asked.put_void()), S_OK) << kind.Name;
      EXPECT_EQ(asked.query<IUnknown>().get(), kind.Object.get()) << kind.Name;
    }
    for (const IID& iid : strangers) {
      if (std::find(kind.Answers.begin(), kind.Answers.end(), iid) != kind.Answers.end()) continue;
      void* asked = reinterpret_cast<void*>(1);
      EXPECT_EQ(kind.Object->QueryInterface(iid, &asked), E_NOINTERFACE) << kind.Name;
      EXPECT_EQ(asked, nullptr) << kind.Name;
    }
    EXPECT_EQ(kind.Object->QueryInterface(IID_IUnknown, nullptr), E_POINTER) << kind.Name;
  }
  kinds.clear();
  enumerator.Value.reset();
  records.reset();
  record.reset();
  answer.reset();
  resolver.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);  // the factory is still held
  EXPECT_TRUE(factory);
}

}  // namespace
}  // namespace vavizav::testing
