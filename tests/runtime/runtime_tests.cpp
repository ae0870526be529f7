// The runtime services the object leans on: the text module (variant to text
// and to a number, automation text and octets, IDNA).
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "com_client.h"
#include "runtime/handles.h"
#include "runtime/text_conversion.h"
#include "value_object.h"

namespace vavizav::testing {
namespace {

std::wstring Converted(const VARIANT& value) {
  const runtime::TextConversion text = runtime::VariantToText(value);
  return text.Ok() ? text.Text : L"failed: " + std::wstring(text.Description());
}

TEST(VariantToText, StringsPassUnchangedOthersAsTheirText) {
  const std::wstring withNul(L"a\0\u00e9 b", 5);
  EXPECT_EQ(Converted(*Text(withNul)), withNul);
  EXPECT_EQ(Converted(*runtime::unique_variant()), L"");
  EXPECT_EQ(Converted(*Long(-42)), L"-42");
  VARIANT boolean;
  V_VT(&boolean) = VT_BOOL;
  V_BOOL(&boolean) = VARIANT_TRUE;
  EXPECT_EQ(Converted(boolean), L"True");

  LONG number = 7;
  VARIANT numberReference;
  V_VT(&numberReference) = VT_BYREF | VT_I4;
  V_I4REF(&numberReference) = &number;
  EXPECT_EQ(Converted(numberReference), L"7");
  EXPECT_EQ(V_VT(&numberReference), VT_BYREF | VT_I4);

  // A variant by reference to a variant by reference to a string.
  runtime::unique_variant text = Text(L"inner");
  VARIANT first, second;
  V_VT(&first) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&first) = text.get();
  V_VT(&second) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&second) = &first;
  EXPECT_EQ(Converted(second), L"inner");

  auto* withValue = new ValueObject(Behaviour::Text, nullptr, nullptr, L"from the object");
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  V_DISPATCH(&object) = withValue;
  EXPECT_EQ(Converted(object), L"from the object");
  EXPECT_EQ(withValue->References(), 1u);
  withValue->Release();
}

TEST(VariantToText, ObjectWithoutValueIsATypeMismatch) {
  auto* withoutValue = new ValueObject(Behaviour::NoValue);
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  V_DISPATCH(&object) = withoutValue;
  EXPECT_EQ(Converted(object), L"failed: Type mismatch");
  EXPECT_EQ(withoutValue->References(), 1u);
  withoutValue->Release();
}

TEST(HostNameToAscii, AsciiUnchangedOthersThroughIdna) {
  // Left to the query builder, which refuses what it must.
  for (const wchar_t* ascii : {L"Host.Example.", L"under_score..x"}) EXPECT_EQ(runtime::HostNameToAscii(ascii), ascii);
  EXPECT_EQ(runtime::HostNameToAscii(L"\u043f\u0440\u0438\u043c\u0435\u0440.test"), L"xn--e1afmkfd.test");
  EXPECT_FALSE(runtime::HostNameToAscii(std::wstring(L"a\xD800.example")));           // a lone surrogate
  EXPECT_FALSE(runtime::HostNameToAscii(std::wstring(60, L'\u00fc') + L".example"));  // label over 63 when encoded
}

TEST(HostNameToAsciiOctets, TheOctetsAQuestionIsMadeOf) {
  EXPECT_EQ(runtime::HostNameToAsciiOctets(L"Host.Example."), "Host.Example.");
  EXPECT_EQ(runtime::HostNameToAsciiOctets(L"b\u00fccher.example"), "xn--bcher-kva.example");
  EXPECT_FALSE(runtime::HostNameToAsciiOctets(std::wstring(L"a\xD800.example")));
}

TEST(TextAndOctets, AsciiBothWaysRecordOctetsAsUtf8OrOneCharacterEach) {
  EXPECT_EQ(runtime::AsciiToText("NOERROR\r\n"), L"NOERROR\r\n");
  EXPECT_EQ(runtime::AsciiToText(std::string("\x00\xE9", 2)), std::wstring(L"\0\u00e9", 2));
  EXPECT_EQ(runtime::TextToAscii(L"mx"), "mx");
  EXPECT_FALSE(runtime::TextToAscii(L"m\u00e9"));
  EXPECT_EQ(runtime::TextToUtf16(L"\u00fc\xD83D\xDE00"), u"\u00fc\U0001F600");
  EXPECT_EQ(runtime::OctetsToText("v=spf1 -all"), L"v=spf1 -all");
  EXPECT_EQ(runtime::OctetsToText("caf\xC3\xA9"), L"caf\u00e9");            // UTF-8
  EXPECT_EQ(runtime::OctetsToText("caf\xE9"), L"caf\u00e9");                // not UTF-8: one character an octet
  EXPECT_EQ(runtime::OctetsToText("\xED\xA0\x80"), L"\u00ed\u00a0\u0080");  // an encoded surrogate is no UTF-8
  EXPECT_EQ(runtime::OctetsToText(""), L"");
}

TEST(VariantToDouble, NumbersTextsAndNothing) {
  EXPECT_EQ(runtime::VariantToDouble(*Long(15)), 15.0);
  EXPECT_EQ(runtime::VariantToDouble(*Text(L"28")), 28.0);
  LONG number = 7;
  VARIANT reference;
  V_VT(&reference) = VT_BYREF | VT_I4;
  V_I4REF(&reference) = &number;
  EXPECT_EQ(runtime::VariantToDouble(reference), 7.0);
  EXPECT_EQ(V_VT(&reference), VT_BYREF | VT_I4);
  EXPECT_FALSE(runtime::VariantToDouble(*Text(L"MX")));
  VARIANT null;
  V_VT(&null) = VT_NULL;
  EXPECT_FALSE(runtime::VariantToDouble(null));

  EXPECT_TRUE(runtime::IsNumberType(VT_DECIMAL));
  EXPECT_TRUE(runtime::IsNumberType(VT_UI8));
  EXPECT_FALSE(runtime::IsNumberType(VT_BSTR));
  EXPECT_FALSE(runtime::IsNumberType(VT_BOOL));
  EXPECT_FALSE(runtime::IsNumberType(VT_DATE));

  EXPECT_TRUE(runtime::IsWholeNumber(0, 65535));
  EXPECT_TRUE(runtime::IsWholeNumber(65535, 65535));
  EXPECT_FALSE(runtime::IsWholeNumber(65536, 65535));
  EXPECT_FALSE(runtime::IsWholeNumber(-1, 65535));
  EXPECT_FALSE(runtime::IsWholeNumber(2.5, 65535));
  EXPECT_FALSE(runtime::IsWholeNumber(std::numeric_limits<double>::quiet_NaN(), 65535));
  EXPECT_FALSE(runtime::IsWholeNumber(1e300, 65535));
}

}  // namespace
}  // namespace vavizav::testing
