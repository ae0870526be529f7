// The runtime services the object leans on: variant to text and IDNA.
#include <gtest/gtest.h>

#include <string>

#include "com_client.h"
#include "handles.h"
#include "idna.h"
#include "value_object.h"
#include "variant_text.h"

namespace vavizav::testing {
namespace {

std::wstring Converted(const VARIANT& value) {
  const TextConversion text = VariantToText(value);
  return text.Ok() ? text.Text : L"failed: " + std::wstring(text.Description());
}

TEST(VariantToText, StringsPassUnchangedOthersAsTheirText) {
  const std::wstring withNul(L"a\0\u00e9 b", 5);
  EXPECT_EQ(Converted(*Text(withNul)), withNul);
  EXPECT_EQ(Converted(*unique_variant()), L"");
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
  unique_variant text = Text(L"inner");
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
  for (const wchar_t* ascii : {L"Host.Example.", L"under_score..x"}) EXPECT_EQ(HostNameToAscii(ascii), ascii);
  EXPECT_EQ(HostNameToAscii(L"\u043f\u0440\u0438\u043c\u0435\u0440.test"), L"xn--e1afmkfd.test");
  EXPECT_FALSE(HostNameToAscii(std::wstring(L"a\xD800.example")));  // a lone surrogate
  EXPECT_FALSE(HostNameToAscii(std::wstring(60, L'\u00fc') + L".example"));  // label over 63 when encoded
}

}  // namespace
}  // namespace vavizav::testing
