// The hostile dispatch tests' means (hostile_calls.h).
#include "hostile_calls.h"

#include <cstring>
#include <iterator>

#include "com_client.h"
#include "dispatch_snapshot.h"
#include "runtime/handles.h"
#include "value_object.h"

namespace vavizav::testing {
using runtime::MakeBstr;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_variant;


void UseTestServer(_VeviVORIdezaz* object) { Configure(*object, SERVER, 2000); }

bool NormalReadWorks(IDispatch* object, DISPID member, VARTYPE type, unique_variant& result) {
  DISPPARAMS none{};
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                    result.get(), &exception, &argumentError);
  FreeExceptionInfo(exception);
  return hr == S_OK && V_VT(result.get()) == type;
}

bool NormalCallWorks(IDispatch* object) {
  unique_variant result;
  return NormalReadWorks(object, DISPID_TIMEOUT, VT_I4, result) && V_I4(result.get()) >= 1 &&
         V_I4(result.get()) <= 65534;
}

void UseTestServer(_Resolver* resolver) {
  unique_bstr server = MakeBstr(SERVER);
  resolver->put_DNSServer(server.get());
  resolver->put_TimeOut(2000);
}

void ReenterLookup(IUnknown* target) {
  unique_variant name = Text(L"one.vavizav.test");
  com_ptr<_VeviVORIdezaz> first;
  com_ptr<_Resolver> second;
  if (SUCCEEDED(target->QueryInterface(IID__VeviVORIdezaz, first.put_void()))) {
    unique_bstr ignored;
    first->GetIPFromName(name.get(), ignored.put());
  } else if (SUCCEEDED(target->QueryInterface(IID__Resolver, second.put_void()))) {
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    com_ptr<_Answer> ignored;
    second->Resolve(*name, missing, ignored.put());
  }
}

namespace {

// The texts of string arguments: names, addresses, numbers and neither.
const wchar_t* const TEXTS[] = {L"", L"b.example", L"one.vavizav.test", L"192.0.2.1", L"300.25", L"127.0.0.1",
                                L"bücher.example", L"a..b", L"-5", L"65535"};

}  // namespace

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
      V_DISPATCH(&v) = new ValueObject(behaviours[random() % 4], target, ReenterLookup);
      break;
    }
  }
  return v;
}

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

}  // namespace vavizav::testing
