// The class's members (VeviVORIdezaz): its properties, and both lookups
// against the scripted server, including lookups and destructions that happen
// while another waits.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_dns_server.h"
#include "scripted_server_fixture.h"
#include "test_support.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::unique_variant;

namespace {

std::wstring DnsServer(const hosting::VeviVORIdezaz& object) {
  unique_variant value;
  EXPECT_EQ(object.get_DNSServer(value.get()), S_OK);
  EXPECT_EQ(V_VT(value.get()), VT_BSTR);
  return V_VT(value.get()) == VT_BSTR ? std::wstring(BstrView(V_BSTR(value.get()))) : L"?";
}

LONG TimeOut(const hosting::VeviVORIdezaz& object) {
  LONG value = 0;
  object.get_TimeOut(&value);
  return value;
}

unique_variant Null() {
  unique_variant value;
  V_VT(value.get()) = VT_NULL;
  return value;
}

unique_variant Array() {
  unique_variant value;
  V_VT(value.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(value.get()) = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
  return value;
}

Script AnswerEveryName(std::vector<Record> records, std::uint8_t flags2 = 0x80, DWORD delayMs = 0) {
  return [=](const Query& query) { return std::vector<Send>{{Reply(query, records, flags2), delayMs}}; };
}

class ObjectTest : public ScriptedServerTest {
 protected:
  void SetUp() override {
    ScriptedServerTest::SetUp();
    Configure(object_, SERVER_ADDRESS, 3000);
  }
  hosting::VeviVORIdezaz object_;
};

TEST(ObjectProperties, DefaultsLimitsAndConversions) {
  hosting::VeviVORIdezaz object;
  EXPECT_EQ(LastError(object), L"");
  EXPECT_EQ(TimeOut(object), 10000);
  EXPECT_EQ(DnsServer(object), L"9.9.9.9");

  for (LONG refused : {0L, -1L, 65535L, 100000L, LONG_MIN}) {
    EXPECT_EQ(object.put_TimeOut(&refused), S_OK);
    EXPECT_EQ(TimeOut(object), 10000);
  }
  for (LONG taken : {1L, 65534L}) {
    object.put_TimeOut(&taken);
    EXPECT_EQ(TimeOut(object), taken);
  }

  // A failed lookup sets LastError (nothing is sent for a Null); writes keep it.
  EXPECT_EQ(Forward(object, *Null()).LastError, L"Invalid use of Null");
  EXPECT_EQ(object.put_DNSServer(Long(53).get()), S_OK);
  EXPECT_EQ(DnsServer(object), L"53");
  unique_variant null = Null(), array = Array();
  for (VARIANT* refused : {null.get(), array.get()}) {
    EXPECT_EQ(object.put_DNSServer(refused), S_OK);
    EXPECT_EQ(DnsServer(object), L"53");
  }
  BSTR callerText = ::SysAllocString(L"  any text, unchecked ");
  VARIANT byReference;
  V_VT(&byReference) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&byReference) = &callerText;
  object.put_DNSServer(&byReference);
  EXPECT_EQ(DnsServer(object), L"  any text, unchecked ");
  EXPECT_EQ(BstrView(callerText), L"  any text, unchecked ");
  ::SysFreeString(callerText);
  EXPECT_EQ(LastError(object), L"Invalid use of Null");
}

TEST(ObjectProperties, NullPointersAreRefusedAndOutputsCleared) {
  hosting::VeviVORIdezaz object;
  EXPECT_EQ(object.get_LastError(nullptr), E_POINTER);
  EXPECT_EQ(object.get_DNSServer(nullptr), E_POINTER);
  EXPECT_EQ(object.get_TimeOut(nullptr), E_POINTER);
  EXPECT_EQ(object.put_TimeOut(nullptr), E_POINTER);
  EXPECT_EQ(object.put_DNSServer(nullptr), E_POINTER);
  EXPECT_EQ(object.GetIPFromName(Text(L"x").get(), nullptr), E_POINTER);
  BSTR result = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0x1234));
  EXPECT_EQ(object.GetNameFromIP(nullptr, &result), E_POINTER);
  EXPECT_EQ(result, nullptr);
}

TEST_F(ObjectTest, UnconvertibleArgumentReportsTheConversionAndSendsNothing) {
  Server().Reset(AnswerEveryName({A("192.0.2.1")}));
  unique_variant null = Null();
  VARIANT referenceToNull;
  V_VT(&referenceToNull) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&referenceToNull) = null.get();
  for (const Direction direction : {Direction::Forward, Direction::Reverse}) {
    for (VARIANT* argument : {null.get(), &referenceToNull}) {
      const Answer answer = EarlyLookup(object_, direction, *argument);
      EXPECT_EQ(answer.Status, S_OK);
      EXPECT_EQ(answer.Result, L"");
      EXPECT_EQ(answer.LastError, L"Invalid use of Null");
    }
    EXPECT_EQ(EarlyLookup(object_, direction, *Array()).LastError, L"Type mismatch");
  }
  EXPECT_TRUE(Server().Queries().empty());
}

TEST_F(ObjectTest, ByReferenceArgumentsAreReadNeverWritten) {
  Server().Reset(AnswerEveryName({A("192.0.2.1")}));
  BSTR callerText = ::SysAllocString(L"host.test");
  VARIANT byReference;
  V_VT(&byReference) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&byReference) = &callerText;
  const VARIANT before = byReference;
  const BSTR textBefore = callerText;
  EXPECT_EQ(Forward(object_, byReference).Result, L"192.0.2.1");
  EXPECT_EQ(std::memcmp(&before, &byReference, sizeof before), 0);
  EXPECT_EQ(callerText, textBefore);
  EXPECT_EQ(BstrView(callerText), L"host.test");
  ::SysFreeString(callerText);

  // A number by reference through a variant: the name 42 is asked for.
  unique_variant number = Long(42);
  VARIANT reference;
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = number.get();
  EXPECT_EQ(Forward(object_, reference).LastError, L"");
  EXPECT_EQ(Server().Queries().back().Name(), "42");
  EXPECT_EQ(V_VT(number.get()), VT_I4);
  EXPECT_EQ(V_I4(number.get()), 42);
}

TEST_F(ObjectTest, ForwardLookupJoinsEveryAddressWithCrLf) {
  Server().Reset(AnswerEveryName({A("192.0.2.1"), A("198.51.100.7")}));
  const Answer answer = Forward(object_, L"Host.Test");
  EXPECT_EQ(answer.Result, L"192.0.2.1\r\n198.51.100.7");
  EXPECT_EQ(answer.LastError, L"");
  const Query sent = Server().Queries().at(0);
  EXPECT_EQ(sent.LowerName(), "host.test");
  EXPECT_EQ(sent.Type(), vbDNS::TYPE_A);
}

TEST_F(ObjectTest, ReverseLookupAsksForTheInAddrArpaName) {
  Server().Reset([](const Query& query) {
    const bool expected = query.LowerName() == "1.2.0.192.in-addr.arpa" && query.Type() == vbDNS::TYPE_PTR;
    return std::vector<Send>{{Reply(query, {Ptr("one.vavizav.example")}, expected ? 0x80 : 0x83)}};
  });
  const Answer answer = Reverse(object_, L"192.0.2.1");
  EXPECT_EQ(answer.Result, L"one.vavizav.example");
  EXPECT_EQ(answer.LastError, L"");
}

TEST_F(ObjectTest, FailuresGiveTheirTextAndAnEmptyResult) {
  const struct {
    const char* Case;
    Script Answering;
    bool ForwardLookup;
    const wchar_t* Expected;
  } cases[] = {
      {"RCODE 3", AnswerEveryName({}, 0x83), true, L"Unable to Resolve HostName"},
      {"RCODE 8 with an address", AnswerEveryName({A("192.0.2.1")}, 0x88), true, L"Unable to Resolve HostName"},
      {"silent", nullptr, true, L"DNS Request Timed Out"},
      {"RCODE 3", AnswerEveryName({}, 0x83), false, L"Cannot Reverse Resolve Host"},
      {"root PTR name", AnswerEveryName({Ptr("")}), false, L"Cannot Reverse Resolve Host"},
  };
  Configure(object_, SERVER_ADDRESS, 300);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    Server().Reset(AnswerEveryName({A("192.0.2.9")}));
    ASSERT_EQ(Forward(object_, L"ok.test").Result, L"192.0.2.9");
    Server().Reset(c.Answering);
    const Answer answer = c.ForwardLookup ? Forward(object_, L"host.test") : Reverse(object_, L"192.0.2.1");
    EXPECT_EQ(answer.Status, S_OK);
    EXPECT_EQ(answer.Result, L"");
    EXPECT_EQ(answer.LastError, c.Expected);
    // The next lookup starts with an empty LastError again.
    Server().Reset(AnswerEveryName({A("192.0.2.9")}));
    EXPECT_EQ(Forward(object_, L"ok.test").LastError, L"");
  }
}

TEST_F(ObjectTest, InternationalNamesGoOutInTheirAsciiForm) {
  Server().Reset(AnswerEveryName({A("192.0.2.1")}));
  EXPECT_EQ(Forward(object_, L"b\u00fccher.example").Result, L"192.0.2.1");
  EXPECT_EQ(Server().Queries().at(0).LowerName(), "xn--bcher-kva.example");

  Server().Reset(AnswerEveryName({A("192.0.2.1")}));
  EXPECT_EQ(Forward(object_, std::wstring(L"a\xD800.example")).LastError, L"Unable to Resolve HostName");
  EXPECT_TRUE(Server().Queries().empty());
}

// Lookups and destructions from window messages while a lookup waits: each
// exchange keeps its own socket and deadline.
TEST_F(ObjectTest, LookupStartedFromAMessageWhileAnotherWaits) {
  Server().Reset([](const Query& query) {
    const bool outer = query.LowerName() == "outer.test";
    return std::vector<Send>{{Reply(query, {A(outer ? "192.0.2.1" : "198.51.100.7")}), outer ? 300u : 0u}};
  });
  hosting::VeviVORIdezaz inner;
  Configure(inner, SERVER_ADDRESS, 3000);
  std::vector<std::wstring> finished;
  MessageWindow window([&](UINT, WPARAM) {
    const Answer answer = Forward(inner, L"inner.test");
    finished.push_back(L"inner " + answer.Result + answer.LastError);
  });
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  const Answer outer = Forward(object_, L"outer.test");
  finished.push_back(L"outer " + outer.Result + outer.LastError);
  EXPECT_EQ(finished, (std::vector<std::wstring>{L"inner 198.51.100.7", L"outer 192.0.2.1"}));
}

TEST_F(ObjectTest, ReplyThatArrivesDuringANestedWaitIsStillTaken) {
  // The outer reply comes at 50 ms; the nested lookup then keeps the thread
  // past the outer deadline (300 ms) until its own time-out (700 ms).
  Server().Reset([](const Query& query) {
    if (query.LowerName() != "outer.test") return std::vector<Send>{};
    return std::vector<Send>{{Reply(query, {A("192.0.2.1")}), 50}};
  });
  Configure(object_, SERVER_ADDRESS, 300);
  hosting::VeviVORIdezaz inner;
  Configure(inner, SERVER_ADDRESS, 700);
  Answer innerAnswer;
  MessageWindow window([&](UINT, WPARAM) { innerAnswer = Forward(inner, L"silent.test"); });
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  const Answer outer = Forward(object_, L"outer.test");
  EXPECT_EQ(innerAnswer.LastError, L"DNS Request Timed Out");
  EXPECT_EQ(outer.Result, L"192.0.2.1");
  EXPECT_EQ(outer.LastError, L"");
}

TEST_F(ObjectTest, ObjectDestroyedWhileAnotherWaits) {
  Server().Reset(AnswerEveryName({A("192.0.2.1")}, 0x80, 200));
  auto doomed = std::make_unique<hosting::VeviVORIdezaz>();
  Configure(*doomed, SERVER_ADDRESS, 3000);
  ASSERT_EQ(Forward(*doomed, L"before.test").Result, L"192.0.2.1");
  MessageWindow window([&](UINT, WPARAM) { doomed.reset(); });
  ::PostMessageW(window.get(), WM_APP, 0, 0);
  EXPECT_EQ(Forward(object_, L"host.test").Result, L"192.0.2.1");
  EXPECT_EQ(doomed, nullptr);
}

TEST_F(ObjectTest, TwoObjectsKeepTheirOwnSettings) {
  // Port 53 answers; the alternative port stays silent.
  Server().Reset([](const Query& query) {
    if (query.ReceivedOn != Listener::Main) return std::vector<Send>{};
    return std::vector<Send>{{Reply(query, {A("192.0.2.1")})}};
  });
  Configure(object_, SERVER_ADDRESS, 20000);
  hosting::VeviVORIdezaz other;
  Configure(other, std::wstring(SERVER_ADDRESS) + L":" + std::to_wstring(ALT_PORT), 300);
  const Stopwatch clock;
  EXPECT_EQ(Forward(other, L"host.test").LastError, L"DNS Request Timed Out");
  EXPECT_LT(clock.ElapsedMs(), 10000.0);
  EXPECT_EQ(Forward(object_, L"host.test").Result, L"192.0.2.1");
  EXPECT_EQ(LastError(object_), L"");
  EXPECT_EQ(LastError(other), L"DNS Request Timed Out");
}

}  // namespace
}  // namespace vavizav::testing
