// Vavizav.dll loaded by path, without registration: its DllGetClassObject
// hands out the class object, as CoCreateInstance would after a lookup in the
// registry. Objects are then called through their function table or through
// IDispatch, the two ways clients bind.
#include "bench.h"

#include "text.h"

namespace wine_bench {

using vavizav::runtime::com_ptr;
using vavizav::runtime::unique_variant;

namespace support = vavizav::testing;

com_ptr<_VeviVORIdezaz> Component::NewObject(const std::wstring& server, LONG timeoutMs) const {
  com_ptr<_VeviVORIdezaz> object;
  com_ptr<IClassFactory> factory;
  if (FAILED(module_.ClassObject(CLSID_VeviVORIdezaz, factory))) return object;
  if (FAILED(factory->CreateInstance(nullptr, IID__VeviVORIdezaz, object.put_void()))) return object;
  unique_variant serverText = TextVariant(server.c_str());
  if (FAILED(object->put_DNSServer(serverText.get())) || FAILED(object->put_TimeOut(&timeoutMs))) object.reset();
  return object;
}

com_ptr<_Resolver> Component::NewResolver(const std::wstring& server, LONG timeoutMs) const {
  com_ptr<_Resolver> resolver;
  com_ptr<IClassFactory> factory;
  if (FAILED(module_.ClassObject(CLSID_Resolver, factory))) return resolver;
  if (FAILED(factory->CreateInstance(nullptr, IID__Resolver, resolver.put_void()))) return resolver;
  vavizav::runtime::unique_bstr serverText = vavizav::runtime::MakeBstr(server);
  if (FAILED(resolver->put_DNSServer(serverText.get())) || FAILED(resolver->put_TimeOut(timeoutMs))) resolver.reset();
  return resolver;
}

Outcome EarlyResolve(_Resolver* resolver, VARIANT& name) {
  Outcome outcome;
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  const double start = NowUs();
  com_ptr<_Answer> answer;
  outcome.Status = resolver->Resolve(name, missing, answer.put());
  vavizav::runtime::unique_bstr text;
  if (SUCCEEDED(outcome.Status)) outcome.Status = answer->get_Text(text.put());
  outcome.Us = NowUs() - start;
  outcome.Result = vavizav::runtime::BstrView(text.get());
  vavizav::runtime::unique_bstr lastError;
  outcome.LastErrorStatus = resolver->get_LastError(lastError.put());
  outcome.LastError = vavizav::runtime::BstrView(lastError.get());
  return outcome;
}

Outcome EarlyForward(_VeviVORIdezaz* object, VARIANT& name) { return support::Forward(*object, name); }

Outcome EarlyReverse(_VeviVORIdezaz* object, VARIANT& address) { return support::Reverse(*object, address); }

Outcome LateForward(IDispatch* object, VARIANT& name) {
  Outcome outcome = support::LateLookup(object, support::DISPID_GET_IP_FROM_NAME, name);
  if (FAILED(outcome.Status)) outcome.LastError = L"Invoke failed: " + support::HresultText(outcome.Status);
  return outcome;
}

}  // namespace wine_bench
