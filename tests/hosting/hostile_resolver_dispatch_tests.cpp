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
#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "com_client.h"
#include "dispatch_double.h"
#include "environment.h"
#include "hostile_calls.h"
#include "module_fixture.h"
#include "process_counts.h"
#include "runtime/handles.h"
#include "value_object.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_safearray;
using runtime::unique_variant;

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
  // A batch of the long-work members, ended before the mix so that its Wait
  // returns at once whatever milliseconds the mix gives it.
  SAFEARRAYBOUND two{2, 0};
  unique_variant pair;
  V_VT(pair.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(pair.get()) = SafeArrayCreate(VT_VARIANT, 1, &two);
  for (LONG i = 0; i < 2; ++i) SafeArrayPutElement(V_ARRAY(pair.get()), &i, name.get());
  com_ptr<_Batch> batch;
  ASSERT_EQ(resolver->ResolveManyAsync(*pair, missing, batch.put()), S_OK);
  VARIANT_BOOL finished = VARIANT_FALSE;
  ASSERT_EQ(batch->Wait(missing, &finished), S_OK);

  struct Target {
    IDispatch* Object;
    std::vector<DISPID> Members;
    DISPID Read;  // a property that reads as `Type` whatever the mix did
    VARTYPE Type;
  };
  std::vector<DISPID> recordMembers;
  for (DISPID id = -1; id <= 22; ++id) recordMembers.push_back(id);
  const Target targets[] = {
      {resolver.get(), {1, 2, 3, 4, 5, 6, 6, 6, 8, 9, 9, 10, 10, DISPID_VALUE, DISPID_NEWENUM, 0x12345}, 3, VT_I4},
      {batch.get(), {1, 2, 3, 4, 4, 5, 6, 6, DISPID_VALUE, 0x12345}, 1, VT_I4},
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
      // (ResolveManyAsync, 10, as ResolveMany: the batch it starts holds the Resolver.)
      const DISPID members[] = {1, 5, 6, 6, 10, 10};
      const unsigned pick = random() % 6;
      if (pick == 3 || pick == 5) {
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
  EXPECT_EQ(record->get_Strings(missing, nullptr), E_POINTER);
  EXPECT_EQ(answer->get_Authority(nullptr), E_POINTER);
  EXPECT_EQ(answer->get_Authoritative(nullptr), E_POINTER);
  EXPECT_EQ(answer->get_Elapsed(nullptr), E_POINTER);
  EXPECT_EQ(answer->get_Transport(nullptr), E_POINTER);
  EXPECT_EQ(resolver->get_SearchList(nullptr), E_POINTER);
  com_ptr<_Record> none;
  EXPECT_EQ(records->Item(1, none.put()), DISP_E_BADINDEX);
  EXPECT_FALSE(none);
}

// ResolveMany with `names` through the function table: its HRESULT, whether
// the result stayed Empty, and LastError after it.
struct ManyOutcome {
  HRESULT Result = S_OK;
  VARTYPE Answers = VT_EMPTY;
  std::wstring LastError;
};
ManyOutcome ResolveManyOf(_Resolver* resolver, const VARIANT& names) {
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  unique_variant answers;
  ManyOutcome outcome;
  outcome.Result = resolver->ResolveMany(names, missing, answers.get());
  outcome.Answers = V_VT(answers.get());
  unique_bstr error;
  EXPECT_EQ(resolver->get_LastError(error.put()), S_OK);
  outcome.LastError = BstrView(error.get());
  return outcome;
}

VARIANT ArrayVariant(SAFEARRAY* array, VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | type;
  V_ARRAY(&v) = array;
  return v;
}

// A dimension whose last index is past 0x7FFFFFFF has elements no caller can
// index, and SafeArrayGetUBound wraps it to a negative Long: refused as other
// Names that are no array of names are, never an empty answer for a full array.
TEST(HostileNames, BoundsPastTheLargestLongAreRefusedNotReadAsEmpty) {
  com_ptr<_Resolver> resolver = NewResolverObject();
  ASSERT_TRUE(resolver);
  UseTestServer(resolver.get());
  const std::wstring refused = L"ResolveMany: Names has bounds that do not fit a Long";

  unique_safearray wrapped(SafeArrayCreateVector(VT_BSTR, 0x7FFFFFFF, 2));
  unique_safearray nearTop(SafeArrayCreateVector(VT_BSTR, 0x7FFFFFF0, 0x11));
  unique_safearray oneOver(SafeArrayCreateVector(VT_BSTR, 0x7FFFFFFE, 3));
  SAFEARRAYBOUND planes[] = {{4, 0}, {2, 0x7FFFFFFF}};  // the second dimension wraps
  unique_safearray twoD(SafeArrayCreate(VT_VARIANT, 2, planes));
  ASSERT_TRUE(wrapped && nearTop && oneOver && twoD);
  for (SAFEARRAY* array : {wrapped.get(), nearTop.get(), oneOver.get()}) {
    const ManyOutcome outcome = ResolveManyOf(resolver.get(), ArrayVariant(array, VT_BSTR));
    EXPECT_EQ(outcome.Result, E_INVALIDARG);
    EXPECT_EQ(outcome.Answers, VT_EMPTY);
    EXPECT_EQ(outcome.LastError, refused);
  }
  const ManyOutcome planesOutcome = ResolveManyOf(resolver.get(), ArrayVariant(twoD.get(), VT_VARIANT));
  EXPECT_EQ(planesOutcome.Result, E_INVALIDARG);
  EXPECT_EQ(planesOutcome.LastError, refused);

  // A descriptor that claims 4,294,967,295 elements and holds none: from 0 its
  // bounds do not fit, from the lowest Long they do but the count is too large.
  SAFEARRAY* claims = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_BSTR, 1, &claims), S_OK);
  unique_safearray claimed(claims);
  claims->rgsabound[0] = {0xFFFFFFFFu, 0};
  EXPECT_EQ(ResolveManyOf(resolver.get(), ArrayVariant(claims, VT_BSTR)).LastError, refused);
  claims->rgsabound[0] = {0xFFFFFFFFu, -0x7FFFFFFF - 1};
  const ManyOutcome huge = ResolveManyOf(resolver.get(), ArrayVariant(claims, VT_BSTR));
  EXPECT_EQ(huge.Result, E_INVALIDARG);
  EXPECT_EQ(huge.LastError, L"ResolveMany: Names has more than 1000000 elements");
  claims->rgsabound[0] = {0, 0};

  // The last index exactly 0x7FFFFFFF fits: answered whole, at those bounds.
  // (Wine's element functions cannot index such an array: its data is read
  // and written directly.)
  unique_safearray top(SafeArrayCreateVector(VT_BSTR, 0x7FFFFFFE, 2));
  ASSERT_TRUE(top);
  BSTR* texts = nullptr;
  ASSERT_EQ(SafeArrayAccessData(top.get(), reinterpret_cast<void**>(&texts)), S_OK);
  texts[0] = SysAllocString(L"one.vavizav.test");  // the second stays a null string: BADNAME
  SafeArrayUnaccessData(top.get());
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  unique_variant answers;
  ASSERT_EQ(resolver->ResolveMany(ArrayVariant(top.get(), VT_BSTR), missing, answers.get()), S_OK);
  ASSERT_EQ(V_VT(answers.get()), VT_ARRAY | VT_VARIANT);
  SAFEARRAY* result = V_ARRAY(answers.get());
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(result, 1, &lower);
  SafeArrayGetUBound(result, 1, &upper);
  EXPECT_EQ(lower, 0x7FFFFFFE);
  EXPECT_EQ(upper, 0x7FFFFFFF);
  VARIANT* elements = nullptr;
  ASSERT_EQ(SafeArrayAccessData(result, reinterpret_cast<void**>(&elements)), S_OK);
  const std::wstring statuses[] = {L"NOERROR", L"BADNAME"};
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(V_VT(&elements[i]), VT_DISPATCH);
    com_ptr<_Answer> answer;
    ASSERT_EQ(V_DISPATCH(&elements[i])->QueryInterface(IID__Answer, answer.put_void()), S_OK);
    unique_bstr status;
    ASSERT_EQ(answer->get_Status(status.put()), S_OK);
    EXPECT_EQ(BstrView(status.get()), statuses[i]) << i;
  }
  SafeArrayUnaccessData(result);
}

// An array of records keeps its IRecordInfo in the array; the variant's
// second pointer is undefined for it and must not change the result. Without
// that IRecordInfo no copy of the array can be made: E_POINTER, as for a
// record without one, by value or by reference, through the function table
// or IDispatch (where oleaut32 itself would follow the null pointer).
TEST(HostileNames, ArraysOfRecordsGetOneResultWhateverTheUnusedPointerHolds) {
  com_ptr<_Resolver> resolver = NewResolverObject();
  ASSERT_TRUE(resolver);
  UseTestServer(resolver.get());
  SAFEARRAY* records = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_RECORD, 1, &records), S_OK);
  unique_safearray owned(records);
  records->rgsabound[0].cElements = 2;
  int junk = 0;
  for (const bool byReference : {false, true}) {
    for (IRecordInfo* unused : {static_cast<IRecordInfo*>(nullptr), reinterpret_cast<IRecordInfo*>(&junk)}) {
      VARIANT names = ArrayVariant(records, VT_RECORD);
      if (byReference) {
        V_VT(&names) = VT_BYREF | VT_ARRAY | VT_RECORD;
        V_ARRAYREF(&names) = &records;
      }
      V_RECORDINFO(&names) = unused;
      const ManyOutcome outcome = ResolveManyOf(resolver.get(), names);
      EXPECT_EQ(outcome.Result, E_POINTER) << byReference << " " << unused;
      EXPECT_EQ(outcome.Answers, VT_EMPTY);
      unique_variant result;
      EXPECT_EQ(InvokeWith(resolver.get(), 6, DISPATCH_METHOD, &names, result.get()), E_POINTER)
          << byReference << " " << unused;
      com_ptr<_Answer> answer;
      EXPECT_EQ(resolver->Resolve(names, names, answer.put()), E_POINTER);
    }
  }
  records->rgsabound[0].cElements = 0;
}

// The description of a record of one Long, as a VB user-defined type's array
// carries one: enough for oleaut32 to make, copy and free such an array.
class LongRecordInfo final : public IRecordInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IRecordInfo)) return E_NOINTERFACE;
    *object = static_cast<IRecordInfo*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE RecordInit(PVOID record) noexcept override {
    std::memset(record, 0, sizeof(LONG));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RecordClear(PVOID) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RecordCopy(PVOID from, PVOID to) noexcept override {
    std::memcpy(to, from, sizeof(LONG));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetGuid(GUID* guid) noexcept override {
    *guid = GUID{0x2a1b8d4e, 0x5c3f, 0x4e61, {0x9a, 0x07, 0x31, 0x52, 0x6d, 0x84, 0xb9, 0x10}};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetName(BSTR* name) noexcept override {
    *name = SysAllocString(L"LongRecord");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSize(ULONG* size) noexcept override {
    *size = sizeof(LONG);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo** info) noexcept override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) noexcept override { return E_NOTIMPL; }
  BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo* other) noexcept override { return other == this; }
  PVOID STDMETHODCALLTYPE RecordCreate() noexcept override { return CoTaskMemAlloc(sizeof(LONG)); }
  HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID from, PVOID* to) noexcept override {
    *to = RecordCreate();
    return *to ? RecordCopy(from, *to) : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID record) noexcept override {
    CoTaskMemFree(record);
    return S_OK;
  }

 private:
  ~LongRecordInfo() = default;
  ULONG refs_ = 1;
};

// With its IRecordInfo an array of records is an array, just not of names:
// refused as such, whatever the variant's unused second pointer holds.
TEST(HostileNames, DescribedArraysOfRecordsAreArraysWhoseElementsAreNotNames) {
  com_ptr<_Resolver> resolver = NewResolverObject();
  ASSERT_TRUE(resolver);
  UseTestServer(resolver.get());
  com_ptr<IRecordInfo> info(new LongRecordInfo());
  SAFEARRAYBOUND bound{2, 0};
  unique_safearray records(SafeArrayCreateEx(VT_RECORD, 1, &bound, info.get()));
  ASSERT_TRUE(records);
  SAFEARRAY* array = records.get();
  int junk = 0;
  for (const bool byReference : {false, true}) {
    for (IRecordInfo* unused : {static_cast<IRecordInfo*>(nullptr), reinterpret_cast<IRecordInfo*>(&junk)}) {
      VARIANT names = ArrayVariant(array, VT_RECORD);
      if (byReference) {
        V_VT(&names) = VT_BYREF | VT_ARRAY | VT_RECORD;
        V_ARRAYREF(&names) = &array;
      }
      V_RECORDINFO(&names) = unused;
      const ManyOutcome outcome = ResolveManyOf(resolver.get(), names);
      EXPECT_EQ(outcome.Result, E_INVALIDARG) << byReference << " " << unused;
      EXPECT_EQ(outcome.Answers, VT_EMPTY);
      EXPECT_EQ(outcome.LastError, L"ResolveMany: Names is an array whose elements are not names");
      unique_variant result;
      EXPECT_EQ(InvokeWith(resolver.get(), 6, DISPATCH_METHOD, &names, result.get()), DISP_E_EXCEPTION)
          << byReference << " " << unused;
      com_ptr<_Answer> answer;
      ASSERT_EQ(resolver->Resolve(names, names, answer.put()), S_OK);
      unique_bstr status;
      ASSERT_EQ(answer->get_Status(status.put()), S_OK);
      EXPECT_EQ(BstrView(status.get()), L"BADNAME");
    }
  }
}

}  // namespace
}  // namespace vavizav::testing
