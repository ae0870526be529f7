// What administrators type and need to see, late-bound against the local
// unbound serving tests/e2e/admin.test.zone: every printed name asked again
// reaches the same name, cells with white space, arguments through chains of
// references, reverse names only from addresses, Strings(Index), the reply's
// flags, sections and transport (dig shows the same), and the search list.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "late_bound.h"
#include "module_fixture.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::unique_variant;

namespace {

std::vector<com_ptr<IDispatch>> RecordsOf(IDispatch* answer, const wchar_t* section = L"Records") {
  std::vector<com_ptr<IDispatch>> records;
  com_ptr<IDispatch> list = ObjectOf(Call(answer, section));
  if (!list) return records;
  const int count = std::stoi(TextOf(list.get(), L"Count"));
  for (LONG i = 0; i < count; ++i) records.push_back(ObjectOf(Call(list.get(), L"Item", {Long(i).get()})));
  return records;
}

// A Boolean member: "True", "False", or what else it was.
std::wstring BooleanOf(IDispatch* object, const wchar_t* name) {
  Result result = Call(object, name);
  if (result.Status != S_OK || V_VT(result.Value.get()) != VT_BOOL) return L"<not a Boolean>";
  return V_BOOL(result.Value.get()) == VARIANT_TRUE ? L"True" : V_BOOL(result.Value.get()) == 0 ? L"False" : L"?";
}

TEST(AdminNames, EveryPrintedNameAskedAgainReachesTheSameName) {
  com_ptr<IDispatch> resolver = TestResolver();
  std::vector<std::wstring> printed;
  // Owners and targets of the PTR, CNAME and MX records, and the chain's end.
  for (const com_ptr<IDispatch>& record : RecordsOf(Resolve(resolver.get(), L"ptr.admin.test", L"PTR").get())) {
    printed.push_back(TextOf(record.get(), L"Target"));
    printed.push_back(TextOf(record.get(), L"Data"));
  }
  ASSERT_EQ(printed.size(), 6u);
  EXPECT_EQ(printed[0], L"sp\\032ace.admin.test.");
  EXPECT_EQ(printed[2], L"dot\\.inside.admin.test.");
  EXPECT_EQ(printed[4], L"raw\\200\\255.admin.test.");
  com_ptr<IDispatch> alias = Resolve(resolver.get(), L"alias.admin.test");
  EXPECT_EQ(TextOf(alias.get(), L"CanonicalName"), L"dot\\.inside.admin.test.");
  printed.push_back(TextOf(alias.get(), L"CanonicalName"));
  const std::vector<com_ptr<IDispatch>> mail = RecordsOf(Resolve(resolver.get(), L"mail.admin.test", L"MX").get());
  ASSERT_EQ(mail.size(), 1u);
  printed.push_back(TextOf(mail[0].get(), L"Target"));
  EXPECT_EQ(printed.back(), L"back\\\\slash.admin.test.");
  for (const wchar_t* more : {L"quote\\\"d.admin.test", L"tab\\009.admin.test", L"sp\\032ace.admin.test"}) {
    printed.push_back(more);
  }
  for (const std::wstring& name : printed) {
    com_ptr<IDispatch> again = Resolve(resolver.get(), name);
    EXPECT_EQ(TextOf(again.get(), L"Status"), L"NOERROR") << name;
    const std::vector<com_ptr<IDispatch>> records = RecordsOf(again.get());
    ASSERT_EQ(records.size(), 1u) << name;
    // The name that answered prints as the text asked (with its final dot).
    std::wstring absolute = name.back() == L'.' ? name : name + L".";
    EXPECT_EQ(TextOf(records[0].get(), L"Name"), absolute);
    EXPECT_EQ(TextOf(again.get(), L"Name"), name);
  }
}

TEST(AdminNames, CellsAreTrimmedAndUnescapedSpacesAreBadname) {
  com_ptr<IDispatch> resolver = TestResolver();
  for (const wchar_t* cell : {L"mx1.admin.test ", L" \tmx1.admin.test\r\n", L"\u00a0mx1.admin.test.\u00a0"}) {
    com_ptr<IDispatch> answer = Resolve(resolver.get(), cell);
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"NOERROR") << cell;
    EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.25");
    EXPECT_EQ(TextOf(answer.get(), L"Name"), cell);
  }
  com_ptr<IDispatch> spaced = Resolve(resolver.get(), L"mx1 .admin.test");
  EXPECT_EQ(TextOf(spaced.get(), L"Status"), L"BADNAME");
  EXPECT_EQ(TextOf(resolver.get(), L"LastError"),
            L"Name \"mx1 .admin.test\": a space at position 4 cannot stand unescaped in a name (write it \\DDD, a "
            L"space \\032)");
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"bad\\25x.admin.test").get(), L"Status"), L"BADNAME");
  EXPECT_NE(TextOf(resolver.get(), L"LastError").find(L"escape at position 4"), std::wstring::npos);
}

TEST(AdminNames, ReverseNamesOnlyFromAddresses) {
  com_ptr<IDispatch> resolver = TestResolver();
  for (const wchar_t* refused : {L"999.1.1.1", L"1.2.3", L"fe80::1%12", L"10.0.0.1%3"}) {
    com_ptr<IDispatch> answer = Resolve(resolver.get(), refused, L"PTR");
    EXPECT_EQ(TextOf(answer.get(), L"Status"), L"BADNAME") << refused;
    EXPECT_NE(TextOf(resolver.get(), L"LastError").find(L"looks like an address but is none"), std::wstring::npos);
  }
  com_ptr<IDispatch> reverse = Resolve(resolver.get(), L" 192.0.2.1 ", L"PTR");
  EXPECT_EQ(TextOf(reverse.get(), L"CanonicalName"), L"1.2.0.192.in-addr.arpa.");
  // Any other text is the name it is.
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"ptr.admin.test", L"PTR").get(), L"Status"), L"NOERROR");
  // Asked as a name: the local server refuses names outside its zones.
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"999.1.1.1", L"A").get(), L"Status"), L"REFUSED");
}

// A value reached through references to variables, as hosts pass them: a
// fixed-size VBScript array is a reference to a variable that refers to the array.
TEST(AdminArguments, ChainsOfReferencesReadAsThePlainValue) {
  com_ptr<IDispatch> resolver = TestResolver();
  SAFEARRAYBOUND bound{2, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < 2; ++i) {
    unique_variant name = Text(i == 0 ? L"mx1.admin.test" : L"absent.admin.test");
    SafeArrayPutElement(array, &i, name.get());
  }
  VARIANT arrayRef;
  V_VT(&arrayRef) = VT_BYREF | VT_ARRAY | VT_VARIANT;
  V_ARRAYREF(&arrayRef) = &array;
  VARIANT level2;
  V_VT(&level2) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&level2) = &arrayRef;
  VARIANT level3;
  V_VT(&level3) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&level3) = &level2;
  for (VARIANT* names : {&arrayRef, &level2, &level3}) {
    Result result = Call(resolver.get(), L"ResolveMany", {names});
    ASSERT_EQ(result.Status, S_OK) << V_VT(names);
    ASSERT_EQ(V_VT(result.Value.get()), VT_ARRAY | VT_VARIANT);
    VARIANT* answers = nullptr;
    SafeArrayAccessData(V_ARRAY(result.Value.get()), reinterpret_cast<void**>(&answers));
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[0]), L"Text"), L"192.0.2.25");
    EXPECT_EQ(TextOf(V_DISPATCH(&answers[1]), L"Status"), L"NXDOMAIN");
    SafeArrayUnaccessData(V_ARRAY(result.Value.get()));
  }
  // A name through two references.
  unique_variant text = Text(L"mx1.admin.test");
  VARIANT nameRef;
  V_VT(&nameRef) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&nameRef) = &V_BSTR(text.get());
  VARIANT outer;
  V_VT(&outer) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&outer) = &nameRef;
  com_ptr<IDispatch> answer = ObjectOf(Call(resolver.get(), L"Resolve", {&outer}));
  EXPECT_EQ(TextOf(answer.get(), L"Text"), L"192.0.2.25");
  // Past a few levels it is no automation value; a reference to nothing is refused.
  VARIANT chain[6];
  V_VT(&chain[0]) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&chain[0]) = &V_BSTR(text.get());
  for (int i = 1; i < 6; ++i) {
    V_VT(&chain[i]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&chain[i]) = &chain[i - 1];
  }
  EXPECT_EQ(Call(resolver.get(), L"Resolve", {&chain[5]}).Status, DISP_E_BADVARTYPE);
  V_VARIANTREF(&chain[1]) = nullptr;
  EXPECT_EQ(Call(resolver.get(), L"Resolve", {&chain[3]}).Status, E_POINTER);
  SafeArrayDestroy(array);
}

TEST(AdminRecords, StringsTakeAnIndexAndTextJoinsThemDecodedAlike) {
  com_ptr<IDispatch> resolver = TestResolver();
  com_ptr<IDispatch> txt = RecordOf(Resolve(resolver.get(), L"txt.admin.test", L"TXT").get(), 0);
  ASSERT_TRUE(txt);
  EXPECT_EQ(TextOf(txt.get(), L"Text"), L"caf\u00e9caf\u00e9");
  const Result first = Call(txt.get(), L"Strings", {Long(0).get()});
  ASSERT_EQ(first.Status, S_OK);
  EXPECT_EQ(std::wstring(BstrView(V_BSTR(first.Value.get()))), L"caf\u00e9");
  EXPECT_EQ(V_VT(Call(txt.get(), L"Strings", {Text(L"1").get()}).Value.get()), VT_BSTR);
  const Result beyond = Call(txt.get(), L"Strings", {Long(2).get()});
  EXPECT_EQ(beyond.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(beyond.Description, L"Record.Strings: the index runs from 0 to 1");
  EXPECT_EQ(Call(txt.get(), L"Strings", {Long(-1).get()}).Status, DISP_E_EXCEPTION);
  EXPECT_EQ(TypeOf(txt.get(), L"Strings"), VT_ARRAY | VT_VARIANT);
  // A character split across strings: each string decoded on its own, as Strings shows them.
  com_ptr<IDispatch> split = RecordOf(Resolve(resolver.get(), L"utf8split.admin.test", L"TXT").get(), 0);
  EXPECT_EQ(TextOf(split.get(), L"Text"), L"caf\u00c3\u00a9");
}

TEST(AdminReply, FlagsSectionsAndTransportAsDigShowsThem) {
  com_ptr<IDispatch> resolver = TestResolver();
  // dig @server mx1.admin.test: flags qr aa rd ra, over UDP.
  com_ptr<IDispatch> mx1 = Resolve(resolver.get(), L"mx1.admin.test");
  EXPECT_EQ(BooleanOf(mx1.get(), L"Authoritative"), L"True");
  EXPECT_EQ(BooleanOf(mx1.get(), L"RecursionAvailable"), L"True");
  EXPECT_EQ(TextOf(mx1.get(), L"Transport"), L"UDP");
  EXPECT_EQ(TypeOf(mx1.get(), L"Elapsed"), VT_I4);
  EXPECT_LT(std::stoi(TextOf(mx1.get(), L"Elapsed")), 2000);
  EXPECT_EQ(TextOf(ObjectOf(Call(mx1.get(), L"Authority")).get(), L"Count"), L"0");

  // A referral: NOERROR, no answer, NS in authority with its glue, AA clear.
  com_ptr<IDispatch> referral = Resolve(resolver.get(), L"www.sub.admin.test");
  EXPECT_EQ(TextOf(referral.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(BooleanOf(referral.get(), L"Authoritative"), L"False");
  EXPECT_EQ(TextOf(ObjectOf(Call(referral.get(), L"Records")).get(), L"Count"), L"0");
  const std::vector<com_ptr<IDispatch>> authority = RecordsOf(referral.get(), L"Authority");
  ASSERT_EQ(authority.size(), 1u);
  EXPECT_EQ(TextOf(authority[0].get(), L"Type"), L"NS");
  EXPECT_EQ(TextOf(authority[0].get(), L"Name"), L"sub.admin.test.");
  EXPECT_EQ(TextOf(authority[0].get(), L"Target"), L"ns.sub.admin.test.");
  const std::vector<com_ptr<IDispatch>> additional = RecordsOf(referral.get(), L"Additional");
  ASSERT_EQ(additional.size(), 1u);
  EXPECT_EQ(TextOf(additional[0].get(), L"Data"), L"192.0.2.54");

  // NXDOMAIN with the zone's SOA in authority; AA set.
  com_ptr<IDispatch> absent = Resolve(resolver.get(), L"absent.admin.test");
  EXPECT_EQ(BooleanOf(absent.get(), L"Authoritative"), L"True");
  const std::vector<com_ptr<IDispatch>> soa = RecordsOf(absent.get(), L"Authority");
  ASSERT_EQ(soa.size(), 1u);
  EXPECT_EQ(TextOf(soa[0].get(), L"Type"), L"SOA");

  // 60 addresses fit the 1232 octets EDNS offers: one UDP exchange. 100 do
  // not: cut over UDP, answered over TCP.
  com_ptr<IDispatch> many = Resolve(resolver.get(), L"many.admin.test");
  EXPECT_EQ(TextOf(many.get(), L"Transport"), L"UDP");
  EXPECT_EQ(TextOf(ObjectOf(Call(many.get(), L"Records")).get(), L"Count"), L"60");
  com_ptr<IDispatch> wide = Resolve(resolver.get(), L"wide.admin.test");
  EXPECT_EQ(TextOf(wide.get(), L"Transport"), L"TCP");
  EXPECT_EQ(TextOf(ObjectOf(Call(wide.get(), L"Records")).get(), L"Count"), L"100");

  // Without a reply: nothing to show.
  Put(resolver.get(), L"DNSServer", Text(SILENT_SERVER).get());
  Put(resolver.get(), L"TimeOut", Long(100).get());
  com_ptr<IDispatch> silent = Resolve(resolver.get(), L"mx1.admin.test");
  EXPECT_EQ(TextOf(silent.get(), L"Status"), L"TIMEOUT");
  EXPECT_EQ(TextOf(silent.get(), L"Transport"), L"");
  EXPECT_EQ(TextOf(silent.get(), L"Elapsed"), L"0");
  EXPECT_EQ(BooleanOf(silent.get(), L"Authoritative"), L"False");
  EXPECT_EQ(TextOf(ObjectOf(Call(silent.get(), L"Additional")).get(), L"Count"), L"0");
}

TEST(AdminSearchList, ASingleLabelTriesEachSuffixPastNxdomain) {
  com_ptr<IDispatch> resolver = TestResolver();
  // With DNSServer set, no default list.
  EXPECT_EQ(TextOf(resolver.get(), L"SearchList"), L"");
  EXPECT_EQ(Put(resolver.get(), L"SearchList", Text(L"nothere.admin.test, admin.test").get()).Status, S_OK);
  EXPECT_EQ(TextOf(resolver.get(), L"SearchList"), L"nothere.admin.test, admin.test");
  com_ptr<IDispatch> mx1 = Resolve(resolver.get(), L" mx1 ");
  EXPECT_EQ(TextOf(mx1.get(), L"Status"), L"NOERROR");
  EXPECT_EQ(TextOf(mx1.get(), L"Name"), L" mx1 ");
  EXPECT_EQ(TextOf(mx1.get(), L"CanonicalName"), L"mx1.admin.test.");
  EXPECT_EQ(TextOf(mx1.get(), L"Text"), L"192.0.2.25");
  // Every suffix NXDOMAIN: the last answer.
  com_ptr<IDispatch> absent = Resolve(resolver.get(), L"absent");
  EXPECT_EQ(TextOf(absent.get(), L"Status"), L"NXDOMAIN");
  EXPECT_EQ(TextOf(absent.get(), L"CanonicalName"), L"absent.admin.test.");
  // A final dot or a dot inside: asked as given (the local server refuses the root's names).
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"mx1.").get(), L"CanonicalName"), L"mx1.");
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"mx1.admin.test").get(), L"Text"), L"192.0.2.25");

  unique_variant names = Text(L"");  // replaced below by an array
  SAFEARRAYBOUND bound{3, 1};
  V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(names.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  const wchar_t* cells[] = {L"mx1", L"ns", L"absent"};
  for (LONG i = 0; i < 3; ++i) {
    unique_variant cell = Text(cells[i]);
    LONG index = i + 1;
    SafeArrayPutElement(V_ARRAY(names.get()), &index, cell.get());
  }
  Result many = Call(resolver.get(), L"ResolveMany", {names.get()});
  ASSERT_EQ(many.Status, S_OK);
  VARIANT* answers = nullptr;
  SafeArrayAccessData(V_ARRAY(many.Value.get()), reinterpret_cast<void**>(&answers));
  EXPECT_EQ(TextOf(V_DISPATCH(&answers[0]), L"CanonicalName"), L"mx1.admin.test.");
  EXPECT_EQ(TextOf(V_DISPATCH(&answers[1]), L"Text"), L"192.0.2.53");
  EXPECT_EQ(TextOf(V_DISPATCH(&answers[1]), L"Name"), L"ns");
  EXPECT_EQ(TextOf(V_DISPATCH(&answers[2]), L"Status"), L"NXDOMAIN");
  SafeArrayUnaccessData(V_ARRAY(many.Value.get()));

  // Set to "", no suffix: the name alone.
  Put(resolver.get(), L"SearchList", Text(L"").get());
  EXPECT_EQ(TextOf(Resolve(resolver.get(), L"mx1").get(), L"CanonicalName"), L"mx1.");
}

// DNSServer as automation treats any String property: a value without a text
// form is the host's type mismatch, and the setting keeps its value.
TEST(AdminSettings, DnsServerWithoutATextFormIsATypeMismatch) {
  com_ptr<IDispatch> resolver = TestResolver();
  unique_variant null;
  V_VT(null.get()) = VT_NULL;
  EXPECT_EQ(Put(resolver.get(), L"DNSServer", null.get()).Status, DISP_E_TYPEMISMATCH);
  unique_variant array;
  SAFEARRAYBOUND bound{1, 0};
  V_VT(array.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(array.get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  EXPECT_EQ(Put(resolver.get(), L"DNSServer", array.get()).Status, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(TextOf(resolver.get(), L"DNSServer"), SERVER);
  EXPECT_EQ(Put(resolver.get(), L"DNSServer", Long(53).get()).Status, S_OK);
  EXPECT_EQ(TextOf(resolver.get(), L"DNSServer"), L"53");
}

TEST(AdminObjects, NewMembersKeepTheirDispatchIdentifiers) {
  com_ptr<IDispatch> resolver = TestResolver();
  EXPECT_EQ(IdOf(resolver.get(), L"SearchList"), 7);
  com_ptr<IDispatch> answer = Resolve(resolver.get(), L"mx1.admin.test");
  const wchar_t* members[] = {L"Authoritative", L"RecursionAvailable", L"Authority", L"Additional", L"Transport",
                              L"Elapsed"};
  for (DISPID id = 7; id <= 12; ++id) EXPECT_EQ(IdOf(answer.get(), members[id - 7]), id);
}

}  // namespace
}  // namespace vavizav::testing
