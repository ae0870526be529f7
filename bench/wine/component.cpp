// Vavizav.dll loaded by path, without registration: its DllGetClassObject
// hands out the class object, as CoCreateInstance would after a lookup in the
// registry. Objects are then called through their function table or through
// IDispatch, the two ways clients bind.
#include "bench.h"

namespace wine_bench {

using vavizav::BstrView;
using vavizav::com_ptr;
using vavizav::MakeBstr;
using vavizav::unique_bstr;
using vavizav::unique_variant;

namespace {

constexpr DISPID DISPID_GET_IP_FROM_NAME = 0x60030003;
constexpr DISPID DISPID_LAST_ERROR = 0x68030002;

std::string Hex(HRESULT status) {
  char text[16];
  wsprintfA(text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

std::wstring LastError(_VeviVORIdezaz* object) {
  unique_bstr text;
  object->get_LastError(text.put());
  return std::wstring(BstrView(text.get()));
}

}  // namespace

Component::Component(const std::wstring& dllPath) {
  module_ = ::LoadLibraryW(dllPath.c_str());
  if (!module_) {
    problem_ = "LoadLibrary failed: error " + std::to_string(::GetLastError());
    return;
  }
  getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
      reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
  if (!getClassObject_) problem_ = "the module exports no DllGetClassObject";
}

com_ptr<_VeviVORIdezaz> Component::NewObject(const std::wstring& server, LONG timeoutMs) const {
  com_ptr<_VeviVORIdezaz> object;
  if (!getClassObject_) return object;
  com_ptr<IClassFactory> factory;
  if (FAILED(getClassObject_(CLSID_VeviVORIdezaz, IID_IClassFactory, factory.put_void()))) return object;
  if (FAILED(factory->CreateInstance(nullptr, IID__VeviVORIdezaz, object.put_void()))) return object;
  unique_variant serverText = TextVariant(server.c_str());
  if (FAILED(object->put_DNSServer(serverText.get())) || FAILED(object->put_TimeOut(&timeoutMs))) object.reset();
  return object;
}

unique_variant TextVariant(const wchar_t* text) {
  unique_variant value;
  V_VT(value.get()) = VT_BSTR;
  V_BSTR(value.get()) = MakeBstr(text).release();
  return value;
}

namespace {

// One lookup through the function table, timed, with LastError read after it.
Outcome EarlyLookup(_VeviVORIdezaz* object, HRESULT (STDMETHODCALLTYPE _VeviVORIdezaz::*member)(VARIANT*, BSTR*),
                    VARIANT& argument) {
  unique_bstr result;
  Outcome outcome;
  const double start = NowUs();
  outcome.Status = (object->*member)(&argument, result.put());
  outcome.Us = NowUs() - start;
  outcome.Result = BstrView(result.get());
  outcome.LastError = LastError(object);
  return outcome;
}

}  // namespace

Outcome EarlyForward(_VeviVORIdezaz* object, VARIANT& name) {
  return EarlyLookup(object, &_VeviVORIdezaz::GetIPFromName, name);
}

Outcome EarlyReverse(_VeviVORIdezaz* object, VARIANT& address) {
  return EarlyLookup(object, &_VeviVORIdezaz::GetNameFromIP, address);
}

// What a script host does for `object.GetIPFromName(name)` once it knows the
// dispatch identifier: Invoke with one by-value argument, then LastError by
// another Invoke.
Outcome LateForward(IDispatch* object, VARIANT& name) {
  Outcome outcome;
  DISPPARAMS arguments{&name, nullptr, 1, 0};
  unique_variant result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const double start = NowUs();
  outcome.Status = object->Invoke(DISPID_GET_IP_FROM_NAME, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments,
                                  result.get(), &exception, &argumentError);
  outcome.Us = NowUs() - start;
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  if (V_VT(result.get()) == VT_BSTR) outcome.Result = BstrView(V_BSTR(result.get()));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  unique_variant lastError;
  object->Invoke(DISPID_LAST_ERROR, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, lastError.get(),
                 nullptr, nullptr);
  if (V_VT(lastError.get()) == VT_BSTR) outcome.LastError = BstrView(V_BSTR(lastError.get()));
  if (FAILED(outcome.Status)) {
    const std::string status = "Invoke failed: " + Hex(outcome.Status);
    outcome.LastError.assign(status.begin(), status.end());
  }
  return outcome;
}

}  // namespace wine_bench
