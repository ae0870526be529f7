// The dispatch layer under hostile but possible calls: a seeded mix of Invoke
// and GetIDsOfNames calls with arguments of every variant type the automation
// conversions meet (by value and by reference), null arrays and pointers, and
// objects whose default property fails, re-enters a lookup or drops the
// caller's last reference to the component. After every call the caller's
// DISPPARAMS and everything they point to must be unchanged, octet for octet,
// and a normal call must still work. Meant to run twice: as is, and under
// Wine's heap checking with oleaut32's string cache off (run-heap-checked),
// where a string freed twice shows as a heap warning.
//
// VAVIZAV_DISPATCH_CALLS sets the number of calls of the mix (default 20000),
// VAVIZAV_DISPATCH_SEED its seed (default 20261207). Needs the local unbound.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "com_client.h"
#include "environment.h"
#include "hostile_calls.h"
#include "module_fixture.h"
#include "process_counts.h"
#include "runtime/handles.h"
#include "value_object.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::MakeBstr;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_variant;

namespace {

TEST(DispatchMix, SeededHostileCallsLeaveCallersArgumentsAndTheProcessIntact) {
  const unsigned long calls = EnvironmentNumber("VAVIZAV_DISPATCH_CALLS", 20000);
  const unsigned long seed = EnvironmentNumber("VAVIZAV_DISPATCH_SEED", 20261207);
  std::mt19937 random(seed);
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object) << "the component could not be created";
  int changed = 0, broken = 0;
  for (unsigned long n = 0; n < calls && changed + broken < 10; ++n) {
    // Lookups of the mix go to the local unbound and end quickly.
    UseTestServer(object.get());
    Arena arena;
    if (random() % 50 == 0) {
      // A fresh object whose only reference the argument holds and drops
      // from its default property, in the middle of a put or a lookup.
      _VeviVORIdezaz* doomed = NewObject().detach();
      ASSERT_NE(doomed, nullptr);
      UseTestServer(doomed);
      VARIANT& value = arena.Value();
      V_VT(&value) = VT_DISPATCH;
      V_DISPATCH(&value) = new ValueObject(Behaviour::ReleaseTarget, doomed);
      const DISPID members[] = {DISPID_DNS_SERVER, DISPID_TIMEOUT, DISPID_GET_IP_FROM_NAME, DISPID_GET_NAME_FROM_IP};
      const DISPID member = members[random() % 4];
      Call call{member, IsSetting(member) ? WORD(DISPATCH_PROPERTYPUT) : WORD(DISPATCH_METHOD), {value}, {}};
      if (IsSetting(member)) call.Names.push_back(DISPID_PROPERTYPUT);
      call.Lay();
      bool unchanged = false;
      RunCall(doomed, call, random, unchanged);  // `doomed` may be gone now
      if (!unchanged) {
        ++changed;
        ADD_FAILURE() << "call " << n << ": the argument whose object dropped the component changed";
      }
    } else if (random() % 10 == 0) {
      // GetIDsOfNames with arrays that may be missing.
      OLECHAR name[] = L"TimeOut";
      LPOLESTR names[] = {name, nullptr};
      DISPID ids[2] = {};
      const UINT count = random() % 3;
      object->GetIDsOfNames(IID_NULL, random() % 3 ? names : nullptr, count, LOCALE_USER_DEFAULT,
                            random() % 3 ? ids : nullptr);
    } else {
      Call call;
      BuildRandomCall(random, arena, object.get(), call);
      bool unchanged = false;
      RunCall(object.get(), call, random, unchanged);
      if (!unchanged) {
        ++changed;
        ADD_FAILURE() << "call " << n << " (member " << call.Member << ", flags " << call.Flags
                      << ") changed the caller's arguments";
      }
    }
    if (!NormalCallWorks(object.get())) {
      ++broken;
      ADD_FAILURE() << "a normal call failed after call " << n;
    }
  }
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(broken, 0);
  std::printf("dispatch mix: %lu calls, seed %lu\n", calls, seed);
}

// ---------------------------------------------------------------------------
// What the dispatch layer must not do to a caller's arguments or to itself,
// one way at a time.


LONG TimeOutOf(_VeviVORIdezaz* object) {
  LONG value = 0;
  object->get_TimeOut(&value);
  return value;
}

TEST(DispatchArguments, ByReferenceStringsStayTheCallersOwn) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  UseTestServer(object.get());
  unique_bstr name = MakeBstr(L"b.example");
  const BSTR original = name.get();
  BSTR held = original;  // the caller's variable
  // VT_BYREF | VT_BSTR, and VT_BYREF | VT_VARIANT holding the string, as
  // script hosts pass their variables; for the lookup and for the put.
  unique_variant holder = Text(L"one.vavizav.test");
  for (int round = 0; round < 3; ++round) {
    VARIANT byString;
    V_VT(&byString) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&byString) = &held;
    unique_variant result;
    EXPECT_EQ(InvokeWith(object.get(), DISPID_GET_IP_FROM_NAME, DISPATCH_METHOD, &byString, result.get()), S_OK);
    EXPECT_EQ(held, original);
    EXPECT_EQ(BstrView(held), L"b.example");

    VARIANT byVariant;
    V_VT(&byVariant) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byVariant) = holder.get();
    unique_variant addresses;
    EXPECT_EQ(InvokeWith(object.get(), DISPID_GET_IP_FROM_NAME, DISPATCH_METHOD, &byVariant, addresses.get()), S_OK);
    EXPECT_EQ(BstrView(V_BSTR(addresses.get())), L"192.0.2.1");
    EXPECT_EQ(V_VT(holder.get()), VT_BSTR);
    EXPECT_EQ(BstrView(V_BSTR(holder.get())), L"one.vavizav.test");

    EXPECT_EQ(InvokeWith(object.get(), DISPID_DNS_SERVER, DISPATCH_PROPERTYPUT, &byString, nullptr), S_OK);
    EXPECT_EQ(held, original);
    EXPECT_EQ(BstrView(held), L"b.example");
    unique_variant server;
    object->get_DNSServer(server.get());
    EXPECT_EQ(BstrView(V_BSTR(server.get())), L"b.example");
    UseTestServer(object.get());
  }
}

TEST(DispatchArguments, ByValueArgumentsAreNotConvertedInPlace) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  VARIANT number;
  V_VT(&number) = VT_R8;
  V_R8(&number) = 300.25;
  EXPECT_EQ(InvokeWith(object.get(), DISPID_TIMEOUT, DISPATCH_PROPERTYPUT, &number, nullptr), S_OK);
  EXPECT_EQ(V_VT(&number), VT_R8);
  EXPECT_EQ(V_R8(&number), 300.25);
  EXPECT_EQ(TimeOutOf(object.get()), 300);

  // A string the type information must convert to a number: the caller's
  // BSTR is neither freed nor replaced.
  unique_bstr text = MakeBstr(L"1234");
  VARIANT textual;
  V_VT(&textual) = VT_BSTR;
  V_BSTR(&textual) = text.get();
  EXPECT_EQ(InvokeWith(object.get(), DISPID_TIMEOUT, DISPATCH_PROPERTYPUT, &textual, nullptr), S_OK);
  EXPECT_EQ(V_VT(&textual), VT_BSTR);
  EXPECT_EQ(V_BSTR(&textual), text.get());
  EXPECT_EQ(BstrView(text.get()), L"1234");
  EXPECT_EQ(TimeOutOf(object.get()), 1234);

  // An array argument the lookup cannot use: still the caller's afterwards.
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 4);
  VARIANT arrayArgument;
  V_VT(&arrayArgument) = VT_ARRAY | VT_UI1;
  V_ARRAY(&arrayArgument) = array;
  unique_variant result;
  EXPECT_EQ(InvokeWith(object.get(), DISPID_GET_IP_FROM_NAME, DISPATCH_METHOD, &arrayArgument, result.get()), S_OK);
  EXPECT_EQ(V_ARRAY(&arrayArgument), array);
  EXPECT_EQ(LastError(*object.get()), L"Type mismatch");
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(DispatchArguments, MissingArraysAndReferencesAreErrorsNotCrashes) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  OLECHAR name[] = L"TimeOut";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  LPOLESTR nullName[] = {nullptr};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, DISPID_TIMEOUT);

  unique_variant result;
  EXCEPINFO exception{};
  UINT argumentError = 99;
  EXPECT_EQ(object->Invoke(DISPID_TIMEOUT, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, result.get(), &exception,
                           &argumentError),
            E_INVALIDARG);
  DISPPARAMS noArray{nullptr, nullptr, 1, 0};
  EXPECT_EQ(object->Invoke(DISPID_GET_IP_FROM_NAME, IID_NULL, 0, DISPATCH_METHOD, &noArray, result.get(), &exception,
                           &argumentError),
            E_INVALIDARG);

  for (const VARTYPE type : {VARTYPE(VT_BYREF | VT_VARIANT), VARTYPE(VT_BYREF | VT_BSTR), VARTYPE(VT_BYREF | VT_I4),
                             VARTYPE(VT_BYREF | VT_ARRAY | VT_BSTR)}) {
    VARIANT reference;
    V_VT(&reference) = type;
    V_BYREF(&reference) = nullptr;
    argumentError = 99;
    DISPPARAMS params{&reference, nullptr, 1, 0};
    EXPECT_EQ(object->Invoke(DISPID_GET_IP_FROM_NAME, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &exception,
                             &argumentError),
              E_POINTER)
        << "type " << type;
    EXPECT_EQ(argumentError, 0u);
  }
  // A variant that refers to another reference is no automation value.
  LONG number = 5;
  VARIANT inner;
  V_VT(&inner) = VT_BYREF | VT_I4;
  V_I4REF(&inner) = &number;
  VARIANT outer;
  V_VT(&outer) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&outer) = &inner;
  DISPPARAMS nested{&outer, nullptr, 1, 0};
  EXPECT_EQ(object->Invoke(DISPID_GET_IP_FROM_NAME, IID_NULL, 0, DISPATCH_METHOD, &nested, result.get(), &exception,
                           &argumentError),
            DISP_E_BADVARTYPE);
  EXPECT_TRUE(NormalCallWorks(object.get()));
}

TEST(DispatchArguments, AnArgumentThatDropsTheLastReferenceCannotFreeTheObjectUnderTheCall) {
  for (const DISPID member : {DISPID_DNS_SERVER, DISPID_TIMEOUT, DISPID_GET_IP_FROM_NAME, DISPID_GET_NAME_FROM_IP}) {
    _VeviVORIdezaz* doomed = NewObject().detach();
    ASSERT_NE(doomed, nullptr);
    UseTestServer(doomed);
    auto* value = new ValueObject(Behaviour::ReleaseTarget, doomed);
    VARIANT argument;
    V_VT(&argument) = VT_DISPATCH;
    V_DISPATCH(&argument) = value;
    const WORD flags = IsSetting(member) ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD;
    unique_variant result;
    // Through Invoke, and for the puts also through the function table.
    // The object's value is text, which TimeOut cannot take.
    EXPECT_EQ(InvokeWith(doomed, member, flags, &argument, flags == DISPATCH_METHOD ? result.get() : nullptr),
              member == DISPID_TIMEOUT ? DISP_E_TYPEMISMATCH : S_OK);
    EXPECT_EQ(value->Calls(), 1) << "member " << member;
    value->Release();
  }
  _VeviVORIdezaz* doomed = NewObject().detach();
  ASSERT_NE(doomed, nullptr);
  auto* value = new ValueObject(Behaviour::ReleaseTarget, doomed);
  VARIANT argument;
  V_VT(&argument) = VT_DISPATCH;
  V_DISPATCH(&argument) = value;
  EXPECT_EQ(doomed->put_DNSServer(&argument), S_OK);
  EXPECT_EQ(value->Calls(), 1);
  value->Release();
}

// ---------------------------------------------------------------------------
// 2,000 by-reference calls through Invoke leave no heap block and no handle
// behind.

void ByReferenceRound(IDispatch* object, int i) {
  unique_bstr name = MakeBstr(i % 2 ? L"one.vavizav.test" : L"b.example");
  BSTR held = name.get();
  VARIANT byString;
  V_VT(&byString) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&byString) = &held;
  unique_variant result;
  InvokeWith(object, i % 3 ? DISPID_GET_IP_FROM_NAME : DISPID_GET_NAME_FROM_IP, DISPATCH_METHOD, &byString, result.get());

  unique_variant server = Text(SERVER);
  VARIANT byVariant;
  V_VT(&byVariant) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byVariant) = server.get();
  InvokeWith(object, DISPID_DNS_SERVER, DISPATCH_PROPERTYPUT, &byVariant, nullptr);

  SHORT timeout = static_cast<SHORT>(1000 + i % 1000);
  VARIANT byShort;
  V_VT(&byShort) = VT_BYREF | VT_I2;
  V_I2REF(&byShort) = &timeout;
  InvokeWith(object, DISPID_TIMEOUT, DISPATCH_PROPERTYPUT, &byShort, nullptr);
}

TEST(DispatchArguments, TwoThousandByReferenceCallsLeaveNoHeapBlockOrHandleBehind) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  UseTestServer(object.get());
  for (int i = 0; i < 500; ++i) ByReferenceRound(object.get(), i);  // caches and lazy set-up settle
  const std::size_t blocksBefore = BusyHeapBlocks();
  const double handlesBefore = OwnHandles();
  for (int i = 0; i < 2000; ++i) ByReferenceRound(object.get(), i);
  const std::size_t blocksAfter = BusyHeapBlocks();
  const double handlesAfter = OwnHandles();
  EXPECT_GT(blocksBefore, 0u) << "HeapWalk saw no block";
  EXPECT_LE(blocksAfter, blocksBefore) << "busy heap blocks grew";
  EXPECT_LE(handlesAfter, handlesBefore) << "handles grew";
  EXPECT_EQ(LastError(*object.get()), L"");
}

}  // namespace
}  // namespace vavizav::testing
