// The Resolver class and the objects it hands out under the hostile dispatch
// mix of hostile_dispatch_tests.cpp: every member of every interface with
// values of every type by value and by reference, Names arrays and objects no
// host makes, and a Resolver whose last reference an argument drops in the
// middle of a call. After every call the caller's arguments must be unchanged
// and normal reads must still work; the same environment settings apply.
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
#include "dispatch_double.h"
#include "environment.h"
#include "handles.h"
#include "hostile_calls.h"
#include "module_fixture.h"
#include "process_counts.h"
#include "value_object.h"

namespace vavizav::testing {
namespace {

com_ptr<_Resolver> NewResolverObject() { return NewResolverAs<_Resolver>(IID__Resolver); }


// A script array whose "length" and elements answer as chosen: a length that
// is no count, elements that fail, an element that drops the Resolver.
class LengthObject final : public DispatchDouble {
 public:
  LengthObject(VARIANT length, IUnknown* doomed) : length_(length), doomed_(doomed) {}

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
    if (names == nullptr || ids == nullptr || count != 1 || names[0] == nullptr) return E_INVALIDARG;
    if (std::wcscmp(names[0], L"length") == 0) return *ids = 1, S_OK;
    if (names[0][0] >= L'0' && names[0][0] <= L'9') return *ids = 100 + std::wcstol(names[0], nullptr, 10), S_OK;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    if (id == 1) return VariantCopy(result, &length_);
    if (id == 101) return E_FAIL;  // the second element cannot be read
    if (id == 100 && doomed_ != nullptr) std::exchange(doomed_, nullptr)->Release();
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(id % 3 ? L"one.vavizav.test" : L"a..b");
    return S_OK;
  }

 private:
  ~LengthObject() override { VariantClear(&length_); }
  VARIANT length_;
  IUnknown* doomed_;
};

// Names no host makes, owned by `arena`.
VARIANT& HostileNames(std::mt19937& random, Arena& arena, IUnknown* target) {
  VARIANT& v = arena.Value();
  switch (random() % 7) {
    case 0: {  // a descriptor that counts three elements and holds no data
      SAFEARRAY* array = nullptr;
      if (SUCCEEDED(SafeArrayAllocDescriptorEx(VT_VARIANT, 1, &array))) array->rgsabound[0].cElements = 3;
      V_VT(&v) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(&v) = array;
      break;
    }
    case 1:  // the variant says strings, the array holds octets
      V_VT(&v) = VT_ARRAY | VT_BSTR;
      V_ARRAY(&v) = MakeArray(random, VT_UI1);
      break;
    case 2: {  // two by two, elements of any type, arrays and objects among them
      SAFEARRAYBOUND bounds[] = {{2, static_cast<LONG>(random() % 5) - 2}, {2, 1}};
      SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
      VARIANT* data = nullptr;
      SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
      for (int i = 0; i < 4; ++i) VariantCopy(&data[i], &RandomValue(random, arena, target));
      SafeArrayUnaccessData(array);
      V_VT(&v) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(&v) = array;
      break;
    }
    case 3:  // an array variable never dimensioned
      V_VT(&v) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(&v) = nullptr;
      break;
    default: {  // a script array with a length of any kind
      VARIANT length;
      VariantInit(&length);
      switch (random() % 6) {
        case 0: V_VT(&length) = VT_I4; V_I4(&length) = -1; break;
        case 1: V_VT(&length) = VT_R8; V_R8(&length) = 1e12; break;
        case 2: V_VT(&length) = VT_R8; V_R8(&length) = 2.5; break;
        case 3: V_VT(&length) = VT_NULL; break;
        case 4: V_VT(&length) = VT_BSTR; V_BSTR(&length) = SysAllocString(L"3"); break;
        default: V_VT(&length) = VT_I4; V_I4(&length) = 3; break;
      }
      V_VT(&v) = VT_DISPATCH;
      V_DISPATCH(&v) = new LengthObject(length, nullptr);
      break;
    }
  }
  return v;
}

TEST(DispatchMix, EveryInterfaceOfTheResolverClassUnderHostileCalls) {
  const unsigned long calls = EnvironmentNumber("VAVIZAV_DISPATCH_CALLS", 20000) / 2;
  const unsigned long seed = EnvironmentNumber("VAVIZAV_DISPATCH_SEED", 20261207);
  std::mt19937 random(seed);
  com_ptr<_Resolver> resolver = NewResolverObject();
  ASSERT_TRUE(resolver);
  UseTestServer(resolver.get());
  unique_variant name = Text(L"many.vavizav.test");
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  com_ptr<_Answer> answer;
  ASSERT_EQ(resolver->Resolve(*name, missing, answer.put()), S_OK);
  com_ptr<_Records> records;
  ASSERT_EQ(answer->get_Records(records.put()), S_OK);
  com_ptr<_Record> record;
  ASSERT_EQ(records->Item(0, record.put()), S_OK);

  struct Target {
    IDispatch* Object;
    std::vector<DISPID> Members;
    DISPID Read;  // a property that reads as `Type` whatever the mix did
    VARTYPE Type;
  };
  std::vector<DISPID> recordMembers;
  for (DISPID id = -1; id <= 22; ++id) recordMembers.push_back(id);
  const Target targets[] = {
      {resolver.get(), {1, 2, 3, 4, 5, 6, 6, 6, DISPID_VALUE, DISPID_NEWENUM, 0x12345}, 3, VT_I4},
      {answer.get(), {0, 1, 2, 3, 4, 5, 6, 7, DISPID_NEWENUM}, 3, VT_BSTR},
      {records.get(), {0, 0, 1, DISPID_NEWENUM, 2}, 1, VT_I4},
      {record.get(), recordMembers, 0, VT_BSTR},
  };
  const WORD flags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF,
                        DISPATCH_METHOD | DISPATCH_PROPERTYGET};
  int changed = 0, broken = 0;
  unsigned long succeeded = 0;
  for (unsigned long n = 0; n < calls && changed + broken < 10; ++n) {
    // Calls that ask go to the local unbound and end quickly.
    UseTestServer(resolver.get());
    Arena arena;
    if (random() % 50 == 0) {
      // A fresh Resolver whose only reference the argument holds and drops:
      // from the default property of Name, of Names, of a put's value, or
      // from the first element of a script array.
      _Resolver* doomed = NewResolverObject().detach();
      ASSERT_NE(doomed, nullptr);
      UseTestServer(doomed);
      VARIANT& value = arena.Value();
      V_VT(&value) = VT_DISPATCH;
      const DISPID members[] = {1, 5, 6, 6};
      const unsigned pick = random() % 4;
      if (pick == 3) {
        VARIANT length;
        V_VT(&length) = VT_I4;
        V_I4(&length) = 2;
        V_DISPATCH(&value) = new LengthObject(length, doomed);
      } else {
        V_DISPATCH(&value) = new ValueObject(Behaviour::ReleaseTarget, doomed);
      }
      const DISPID member = members[pick];
      Call call{member, member == 1 ? WORD(DISPATCH_PROPERTYPUT) : WORD(DISPATCH_METHOD), {value}, {}};
      if (member == 1) call.Names.push_back(DISPID_PROPERTYPUT);
      call.Lay();
      bool unchanged = false;
      RunCall(doomed, call, random, unchanged);  // `doomed` may be gone now
      if (!unchanged) {
        ++changed;
        ADD_FAILURE() << "call " << n << ": the argument whose object dropped the Resolver changed";
      }
    } else {
      const Target& target = targets[random() % std::size(targets)];
      Call call;
      call.Member = target.Members[random() % target.Members.size()];
      // Mostly calls a script could make (a get or a method with up to two
      // arguments), the rest anything.
      call.Flags = random() % 2 ? WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : flags[random() % std::size(flags)];
      const UINT count = random() % 8 ? random() % 3 : 3;
      for (UINT i = 0; i < count; ++i) {
        if (target.Object == resolver.get() && random() % 3 == 0) {
          VARIANT copy = HostileNames(random, arena, resolver.get());
          call.Arguments.push_back(copy);
        } else if (random() % 2) {
          call.Arguments.push_back(RandomReference(random, arena, resolver.get()));
        } else {
          VARIANT copy = RandomValue(random, arena, resolver.get());
          call.Arguments.push_back(copy);
        }
      }
      if ((call.Flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && random() % 5) {
        call.Names.push_back(DISPID_PROPERTYPUT);
      }
      call.Lay();
      switch (random() % 40) {
        case 0: call.Params.rgvarg = nullptr; call.Params.cArgs = 1 + random() % 3; break;
        case 1: call.Params.rgdispidNamedArgs = nullptr; call.Params.cNamedArgs = 1; break;
        case 2: call.NullParams = true; break;
        default: break;
      }
      bool unchanged = false;
      if (SUCCEEDED(RunCall(target.Object, call, random, unchanged))) ++succeeded;
      if (!unchanged) {
        ++changed;
        ADD_FAILURE() << "call " << n << " (member " << call.Member << ", flags " << call.Flags
                      << ") changed the caller's arguments";
      }
    }
    for (const Target& target : targets) {
      // A normal late-bound read of each object still gives what it gave before.
      unique_variant current;
      if (!NormalReadWorks(target.Object, target.Read, target.Type, current)) {
        ++broken;
        ADD_FAILURE() << "a normal read (member " << target.Read << ") failed after call " << n;
      }
    }
  }
  LONG count = 0;
  EXPECT_EQ(records->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(broken, 0);
  std::printf("resolver dispatch mix: %lu calls, %lu succeeded, seed %lu\n", calls, succeeded, seed);
}

TEST(DispatchArguments, ResolverObjectsRefuseMissingPointersAndReferences) {
  com_ptr<_Resolver> resolver = NewResolverObject();
  ASSERT_TRUE(resolver);
  UseTestServer(resolver.get());
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  unique_variant name = Text(L"one.vavizav.test");
  EXPECT_EQ(resolver->Resolve(*name, missing, nullptr), E_POINTER);
  EXPECT_EQ(resolver->ResolveMany(*name, missing, nullptr), E_POINTER);
  EXPECT_EQ(resolver->get_LastError(nullptr), E_POINTER);
  VARIANT nowhere;
  V_VT(&nowhere) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&nowhere) = nullptr;
  com_ptr<_Answer> answer;
  EXPECT_EQ(resolver->Resolve(nowhere, missing, answer.put()), E_POINTER);
  EXPECT_FALSE(answer);
  unique_variant answers;
  EXPECT_EQ(resolver->ResolveMany(nowhere, missing, answers.get()), E_POINTER);
  EXPECT_EQ(V_VT(answers.get()), VT_EMPTY);
  VARIANT arrayNowhere;
  V_VT(&arrayNowhere) = VT_BYREF | VT_ARRAY | VT_VARIANT;
  V_ARRAYREF(&arrayNowhere) = nullptr;
  EXPECT_EQ(resolver->ResolveMany(arrayNowhere, missing, answers.get()), E_POINTER);

  ASSERT_EQ(resolver->Resolve(*name, missing, answer.put()), S_OK);
  EXPECT_EQ(answer->get_Text(nullptr), E_POINTER);
  com_ptr<_Records> records;
  ASSERT_EQ(answer->get_Records(records.put()), S_OK);
  EXPECT_EQ(records->Item(0, nullptr), E_POINTER);
  EXPECT_EQ(records->get__NewEnum(nullptr), E_POINTER);
  com_ptr<_Record> record;
  ASSERT_EQ(records->Item(0, record.put()), S_OK);
  EXPECT_EQ(record->get_Strings(nullptr), E_POINTER);
  com_ptr<_Record> none;
  EXPECT_EQ(records->Item(1, none.put()), DISP_E_BADINDEX);
  EXPECT_FALSE(none);
}

}  // namespace
}  // namespace vavizav::testing
