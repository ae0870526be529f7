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
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "com_client.h"
#include "handles.h"
#include "module_fixture.h"
#include "process_counts.h"

namespace {

using vavizav::BstrView;
using vavizav::com_ptr;
using vavizav::MakeBstr;
using vavizav::unique_bstr;
using vavizav::unique_variant;
using vavizav::testing::BusyHeapBlocks;
using vavizav::testing::Configure;
using vavizav::testing::DISPID_DNS_SERVER;
using vavizav::testing::DISPID_GET_IP_FROM_NAME;
using vavizav::testing::DISPID_GET_NAME_FROM_IP;
using vavizav::testing::DISPID_LAST_ERROR;
using vavizav::testing::DISPID_TIMEOUT;
using vavizav::testing::LastError;
using vavizav::testing::FreeExceptionInfo;
using vavizav::testing::NewObject;
using vavizav::testing::OwnHandles;
using vavizav::testing::Text;

unsigned long EnvironmentNumber(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

// Points the object at the local unbound with a short time-out, through the
// function table.
void UseTestServer(_VeviVORIdezaz* object) { Configure(*object, VAVIZAV_TEST_DNS_SERVER, 2000); }

// A normal late-bound call: TimeOut read through Invoke.
bool NormalCallWorks(IDispatch* object) {
  DISPPARAMS none{};
  unique_variant result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const HRESULT hr = object->Invoke(DISPID_TIMEOUT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                    result.get(), &exception, &argumentError);
  return hr == S_OK && V_VT(result.get()) == VT_I4 && V_I4(result.get()) >= 1 && V_I4(result.get()) <= 65534;
}

// ---------------------------------------------------------------------------
// Snapshots of what a caller hands to Invoke, followed through every pointer:
// the DISPPARAMS, the argument array, each by-reference target, the octets of
// every string and the descriptor and data of every array.

void AppendBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

void AppendBstr(std::vector<std::uint8_t>& out, BSTR text) {
  if (text == nullptr) return;
  // The length prefix, the characters and the terminator.
  AppendBytes(out, reinterpret_cast<const std::uint8_t*>(text) - 4, SysStringByteLen(text) + 4 + sizeof(OLECHAR));
}

void AppendVariant(std::vector<std::uint8_t>& out, const VARIANT& value);

void AppendArray(std::vector<std::uint8_t>& out, const SAFEARRAY* array) {
  if (array == nullptr) return;
  AppendBytes(out, array, sizeof(SAFEARRAY) + (array->cDims - 1) * sizeof(SAFEARRAYBOUND));
  ULONG count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  if (array->pvData == nullptr) return;
  AppendBytes(out, array->pvData, count * array->cbElements);
  if (array->fFeatures & FADF_BSTR) {
    for (ULONG i = 0; i < count; ++i) AppendBstr(out, static_cast<BSTR*>(array->pvData)[i]);
  } else if (array->fFeatures & FADF_VARIANT) {
    for (ULONG i = 0; i < count; ++i) AppendVariant(out, static_cast<VARIANT*>(array->pvData)[i]);
  }
}

std::size_t ReferencedSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return sizeof(void*);  // interfaces and the like: the pointer itself
  }
}

void AppendVariant(std::vector<std::uint8_t>& out, const VARIANT& value) {
  AppendBytes(out, &value, sizeof value);
  const VARTYPE type = V_VT(&value);
  const VARTYPE base = type & VT_TYPEMASK;
  if (type & VT_BYREF) {
    const void* target = V_BYREF(&value);
    if (target == nullptr) return;
    if (type & VT_ARRAY) {
      AppendBytes(out, target, sizeof(SAFEARRAY*));
      AppendArray(out, *static_cast<SAFEARRAY* const*>(target));
    } else if (base == VT_VARIANT) {
      AppendVariant(out, *static_cast<const VARIANT*>(target));
    } else if (base == VT_BSTR) {
      AppendBytes(out, target, sizeof(BSTR));
      AppendBstr(out, *static_cast<const BSTR*>(target));
    } else {
      AppendBytes(out, target, ReferencedSize(base));
    }
  } else if (type & VT_ARRAY) {
    AppendArray(out, V_ARRAY(&value));
  } else if (base == VT_BSTR) {
    AppendBstr(out, V_BSTR(&value));
  }
}

std::vector<std::uint8_t> Snapshot(const DISPPARAMS* params) {
  std::vector<std::uint8_t> out;
  if (params == nullptr) return out;
  AppendBytes(out, params, sizeof *params);
  if (params->rgvarg != nullptr) {
    for (UINT i = 0; i < params->cArgs; ++i) AppendVariant(out, params->rgvarg[i]);
  }
  if (params->rgdispidNamedArgs != nullptr) {
    AppendBytes(out, params->rgdispidNamedArgs, params->cNamedArgs * sizeof(DISPID));
  }
  return out;
}

// ---------------------------------------------------------------------------
// An argument object: its default property (DISPID_VALUE, which the variant
// conversions ask for) answers as its behaviour says.

enum class Behaviour { Text, Number, Fail, ReenterLookup, ReleaseTarget };

class ValueObject final : public IDispatch {
 public:
  // `target`: the component object a lookup re-enters (either class) or whose
  // reference is dropped.
  ValueObject(Behaviour behaviour, IUnknown* target) : behaviour_(behaviour), target_(target) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    ++calls_;
    switch (behaviour_) {
      case Behaviour::Fail:
        return E_FAIL;
      case Behaviour::ReenterLookup:
        if (target_ != nullptr) {
          unique_variant name = Text(L"one.vavizav.test");
          com_ptr<_VeviVORIdezaz> first;
          com_ptr<_Resolver> second;
          if (SUCCEEDED(target_->QueryInterface(IID__VeviVORIdezaz, first.put_void()))) {
            unique_bstr ignored;
            first->GetIPFromName(name.get(), ignored.put());
          } else if (SUCCEEDED(target_->QueryInterface(IID__Resolver, second.put_void()))) {
            VARIANT missing;
            V_VT(&missing) = VT_ERROR;
            V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
            com_ptr<_Answer> ignored;
            second->Resolve(*name, missing, ignored.put());
          }
        }
        break;
      case Behaviour::ReleaseTarget:
        // The caller handed its only reference over: this drops the last one
        // while the component is still inside the call.
        if (target_ != nullptr) std::exchange(target_, nullptr)->Release();
        break;
      default:
        break;
    }
    if (result != nullptr) {
      VariantInit(result);
      if (behaviour_ == Behaviour::Number) {
        V_VT(result) = VT_I4;
        V_I4(result) = 1500;
      } else {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(L"b.example");
      }
    }
    return S_OK;
  }

  int Calls() const { return calls_; }

 private:
  ~ValueObject() = default;
  ULONG refs_ = 1;
  int calls_ = 0;
  Behaviour behaviour_;
  IUnknown* target_;
};

// ---------------------------------------------------------------------------
// Argument values of every type the conversions meet. Storage that a
// by-reference argument points to lives in the Arena until the call is over.

class Arena {
 public:
  ~Arena() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  // A by-value variant owned by the arena.
  VARIANT& Value() { return values_.emplace_back(Empty()); }
  template <typename T>
  T* Cell(T initial) {
    cells_.emplace_back(sizeof(T) + 16, 0);
    T* cell = reinterpret_cast<T*>(cells_.back().data());
    std::memcpy(cell, &initial, sizeof(T));
    return cell;
  }

 private:
  static VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
  }
  std::deque<VARIANT> values_;
  std::deque<std::vector<std::uint8_t>> cells_;
};

const wchar_t* const TEXTS[] = {L"", L"b.example", L"one.vavizav.test", L"192.0.2.1", L"300.25", L"127.0.0.1",
                                L"bücher.example", L"a..b", L"-5", L"65535"};

SAFEARRAY* MakeArray(std::mt19937& random, VARTYPE type) {
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, random() % 3);
  if (array == nullptr) return nullptr;
  for (LONG i = 0; i < static_cast<LONG>(array->rgsabound[0].cElements); ++i) {
    if (type == VT_BSTR) {
      unique_bstr text = MakeBstr(TEXTS[random() % std::size(TEXTS)]);
      SafeArrayPutElement(array, &i, text.get());
    } else if (type == VT_VARIANT) {
      unique_variant element;
      V_VT(element.get()) = VT_I4;
      V_I4(element.get()) = static_cast<LONG>(random());
      SafeArrayPutElement(array, &i, element.get());
    } else {
      BYTE octet = static_cast<BYTE>(random());
      SafeArrayPutElement(array, &i, &octet);
    }
  }
  return array;
}

// One by-value variant of a random type, owned by `arena`.
VARIANT& RandomValue(std::mt19937& random, Arena& arena, IUnknown* target) {
  VARIANT& v = arena.Value();
  switch (random() % 22) {
    case 0: V_VT(&v) = VT_EMPTY; break;
    case 1: V_VT(&v) = VT_NULL; break;
    case 2: V_VT(&v) = VT_I2; V_I2(&v) = static_cast<SHORT>(random()); break;
    case 3: V_VT(&v) = VT_I4; V_I4(&v) = static_cast<LONG>(random() % 70000) - 1000; break;
    case 4: V_VT(&v) = VT_R4; V_R4(&v) = 300.25f; break;
    case 5: V_VT(&v) = VT_R8; V_R8(&v) = (random() % 2) ? 300.25 : 1e300; break;
    case 6: V_VT(&v) = VT_CY; V_CY(&v).int64 = 12345678; break;
    case 7: V_VT(&v) = VT_DATE; V_DATE(&v) = 45000.5; break;
    case 8: case 9: case 10:
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = (random() % 8) ? MakeBstr(TEXTS[random() % std::size(TEXTS)]).release() : nullptr;
      break;
    case 11: V_VT(&v) = VT_ERROR; V_ERROR(&v) = DISP_E_PARAMNOTFOUND; break;
    case 12: V_VT(&v) = VT_BOOL; V_BOOL(&v) = (random() % 2) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 13: V_VT(&v) = VT_DECIMAL; VarDecFromI4(static_cast<LONG>(random() % 5000), &V_DECIMAL(&v)); break;
    case 14: V_VT(&v) = VT_I1; V_I1(&v) = static_cast<CHAR>(random()); break;
    case 15: V_VT(&v) = VT_UI1; V_UI1(&v) = static_cast<BYTE>(random()); break;
    case 16: V_VT(&v) = VT_UI4; V_UI4(&v) = static_cast<ULONG>(random()); break;
    case 17: V_VT(&v) = VT_I8; V_I8(&v) = static_cast<LONGLONG>(random()) << 20; break;
    case 18: {
      const VARTYPE types[] = {VT_BSTR, VT_VARIANT, VT_UI1};
      const VARTYPE type = types[random() % 3];
      V_VT(&v) = VT_ARRAY | type;
      V_ARRAY(&v) = MakeArray(random, type);
      break;
    }
    case 19: V_VT(&v) = VT_DISPATCH; V_DISPATCH(&v) = nullptr; break;
    case 20: case 21: {
      // Release-target objects are made by the caller of the mix, which owns
      // the reference they drop.
      const Behaviour behaviours[] = {Behaviour::Text, Behaviour::Number, Behaviour::Fail, Behaviour::ReenterLookup};
      V_VT(&v) = (random() % 4) ? VT_DISPATCH : VT_UNKNOWN;
      V_DISPATCH(&v) = new ValueObject(behaviours[random() % 4], target);
      break;
    }
  }
  return v;
}

// A by-reference variant pointing at storage in `arena`, sometimes at nothing.
VARIANT RandomReference(std::mt19937& random, Arena& arena, IUnknown* target) {
  VARIANT reference;
  VariantInit(&reference);
  VARIANT& value = RandomValue(random, arena, target);
  const VARTYPE type = V_VT(&value);
  if (random() % 3 == 0 || type == VT_EMPTY || type == VT_NULL) {
    V_VT(&reference) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&reference) = random() % 10 ? &value : nullptr;
    return reference;
  }
  V_VT(&reference) = VT_BYREF | type;
  if (random() % 10 == 0) {
    V_BYREF(&reference) = nullptr;
  } else if (type & VT_ARRAY) {
    V_ARRAYREF(&reference) = &V_ARRAY(&value);
  } else if (type == VT_DECIMAL) {
    V_DECIMALREF(&reference) = &V_DECIMAL(&value);
  } else {
    // Every other member of the union starts at the variant's data field.
    V_BYREF(&reference) = &V_I8(&value);
  }
  return reference;
}

struct Call {
  DISPID Member = DISPID_TIMEOUT;
  WORD Flags = DISPATCH_PROPERTYGET;
  std::vector<VARIANT> Arguments;  // rgvarg order: the last argument first
  std::vector<DISPID> Names;
  DISPPARAMS Params{};
  bool NullParams = false;

  // Points Params at the arguments and names.
  void Lay() {
    Params = {Arguments.empty() ? nullptr : Arguments.data(), Names.empty() ? nullptr : Names.data(),
              static_cast<UINT>(Arguments.size()), static_cast<UINT>(Names.size())};
  }
};

// The call a script host makes with one value: a property put for the two
// settings, a method call for the lookups.
bool IsSetting(DISPID member) { return member == DISPID_DNS_SERVER || member == DISPID_TIMEOUT; }

void BuildRandomCall(std::mt19937& random, Arena& arena, _VeviVORIdezaz* target, Call& call) {
  const DISPID members[] = {DISPID_TIMEOUT, DISPID_DNS_SERVER, DISPID_LAST_ERROR, DISPID_GET_IP_FROM_NAME,
                            DISPID_GET_NAME_FROM_IP, DISPID_VALUE, 0x12345, -1};
  const WORD flags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF,
                        DISPATCH_METHOD | DISPATCH_PROPERTYGET};
  call.Member = members[random() % (random() % 4 ? 5 : std::size(members))];
  call.Flags = flags[random() % std::size(flags)];
  const UINT count = random() % 4 ? 1 : random() % 4;
  for (UINT i = 0; i < count; ++i) {
    call.Arguments.push_back(random() % 2 ? RandomReference(random, arena, target) : [&] {
      VARIANT copy = RandomValue(random, arena, target);  // the arena keeps the owning one
      return copy;
    }());
  }
  if ((call.Flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && random() % 5) {
    call.Names.push_back(DISPID_PROPERTYPUT);
  } else if (random() % 20 == 0) {
    call.Names.push_back(static_cast<DISPID>(random() % 3));
  }
  call.Lay();
  // Hostile shapes: arrays missing behind their counts, counts that disagree.
  switch (random() % 40) {
    case 0: call.Params.rgvarg = nullptr; call.Params.cArgs = 1 + random() % 3; break;
    case 1: call.Params.rgdispidNamedArgs = nullptr; call.Params.cNamedArgs = 1; break;
    case 2: call.Params.cNamedArgs = call.Params.cArgs + 1; break;
    case 3: call.NullParams = true; break;
    default: break;
  }
}

// Runs one call; the snapshot must match after it.
HRESULT RunCall(IDispatch* object, Call& call, std::mt19937& random, bool& unchanged) {
  DISPPARAMS* params = call.NullParams ? nullptr : &call.Params;
  const std::vector<std::uint8_t> before = Snapshot(params);
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const bool withResult = random() % 8 != 0;
  const HRESULT hr = object->Invoke(call.Member, IID_NULL, LOCALE_USER_DEFAULT, call.Flags, params,
                                    withResult ? &result : nullptr, random() % 8 ? &exception : nullptr,
                                    random() % 8 ? &argumentError : nullptr);
  unchanged = Snapshot(params) == before;
  VariantClear(&result);
  FreeExceptionInfo(exception);
  return hr;
}

// ---------------------------------------------------------------------------

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
      Call call{member, IsSetting(member) ? WORD(DISPATCH_PROPERTYPUT) : WORD(DISPATCH_METHOD), {value}};
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
// The four ways the dispatch layer once went wrong, one by one.

// Invoke with one argument (or none), the caller's variant handed over as it
// is: these tests look at what the component does to it.
HRESULT InvokeWith(IDispatch* object, DISPID member, WORD flags, VARIANT* argument, VARIANT* result) {
  DISPID put = DISPID_PROPERTYPUT;
  const bool isPut = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  DISPPARAMS params{argument, isPut ? &put : nullptr, argument ? 1u : 0u, isPut ? 1u : 0u};
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                                    &argumentError);
  FreeExceptionInfo(exception);
  return hr;
}

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

  unique_variant server = Text(VAVIZAV_TEST_DNS_SERVER);
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

// ---------------------------------------------------------------------------
// The Resolver class and the objects it hands out under the same kind of mix:
// every member of every interface with values of every type by value and by
// reference, Names arrays and objects no host makes, and a Resolver whose
// last reference an argument drops in the middle of a call.

com_ptr<_Resolver> NewResolverObject() {
  com_ptr<IClassFactory> factory;
  EXPECT_EQ(vavizav::testing::Module().ClassObject(CLSID_Resolver, factory), S_OK);
  com_ptr<_Resolver> resolver;
  if (factory) EXPECT_EQ(factory->CreateInstance(nullptr, IID__Resolver, resolver.put_void()), S_OK);
  return resolver;
}

// Points the Resolver at the local unbound with a short time-out, through the function table.
void UseTestServer(_Resolver* resolver) {
  unique_bstr server = MakeBstr(VAVIZAV_TEST_DNS_SERVER);
  resolver->put_DNSServer(server.get());
  resolver->put_TimeOut(2000);
}

// A script array whose "length" and elements answer as chosen: a length that
// is no count, elements that fail, an element that drops the Resolver.
class LengthObject final : public IDispatch {
 public:
  LengthObject(VARIANT length, IUnknown* doomed) : length_(length), doomed_(doomed) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
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
  ~LengthObject() { VariantClear(&length_); }
  ULONG refs_ = 1;
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

// A normal late-bound read of each object still gives what it gave before.
bool NormalReadWorks(IDispatch* object, DISPID member, VARTYPE type) {
  DISPPARAMS none{};
  unique_variant result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                    result.get(), &exception, &argumentError);
  FreeExceptionInfo(exception);
  return hr == S_OK && V_VT(result.get()) == type;
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
      if (!NormalReadWorks(target.Object, target.Read, target.Type)) {
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
