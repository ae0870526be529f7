// The Resolver's cache from a compiled client: Resolve called 10,000 times on
// 100 names with the cache on and with it off, and a 10,000-name ResolveMany
// asked twice on one object (the second answered from the cache, nothing
// sent), against the delaying responder. Vavizav.dll loaded by path.
//
//   cache_bench SERVER DLL [--calls N] [--names K] [--batch M]
//
// Prints "key value unit note" lines for scripts/bench.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "loaded_module.h"
#include "runtime/handles.h"
#include "vavizav.h"

namespace {

using vavizav::runtime::com_ptr;

double NowMs() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

com_ptr<_Resolver> NewResolver(const vavizav::testing::LoadedModule& module, const std::wstring& server) {
  com_ptr<_Resolver> resolver;
  com_ptr<IClassFactory> factory;
  if (FAILED(module.ClassObject(CLSID_Resolver, factory))) return resolver;
  if (FAILED(factory->CreateInstance(nullptr, IID__Resolver, resolver.put_void()))) return resolver;
  vavizav::runtime::unique_bstr text = vavizav::runtime::MakeBstr(server);
  if (FAILED(resolver->put_DNSServer(text.get())) || FAILED(resolver->put_TimeOut(2000))) resolver.reset();
  return resolver;
}

// N calls of Resolve over K names in turn; returns the ms taken, -1 on a wrong answer.
double ResolveCalls(_Resolver* resolver, int calls, int names) {
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  std::vector<vavizav::runtime::unique_variant> texts(static_cast<std::size_t>(names));
  for (int k = 0; k < names; ++k) {
    V_VT(texts[static_cast<std::size_t>(k)].get()) = VT_BSTR;
    V_BSTR(texts[static_cast<std::size_t>(k)].get()) = ::SysAllocString((L"h" + std::to_wstring(k + 1) + L".cache.bench").c_str());
  }
  const double start = NowMs();
  for (int i = 0; i < calls; ++i) {
    com_ptr<_Answer> answer;
    if (FAILED(resolver->Resolve(*texts[static_cast<std::size_t>(i % names)].get(), missing, answer.put()))) return -1;
    vavizav::runtime::unique_bstr status;
    if (FAILED(answer->get_Status(status.put())) || std::wcscmp(status.get(), L"NOERROR") != 0) return -1;
  }
  return NowMs() - start;
}

struct BatchTime {
  double Ms = -1;
  int FromCache = 0;
};

BatchTime ResolveMany(_Resolver* resolver, VARIANT& names, int count) {
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  BatchTime batch;
  vavizav::runtime::unique_variant answers;
  const double start = NowMs();
  if (FAILED(resolver->ResolveMany(names, missing, answers.get()))) return batch;
  batch.Ms = NowMs() - start;
  VARIANT* elements = nullptr;
  if (FAILED(::SafeArrayAccessData(V_ARRAY(answers.get()), reinterpret_cast<void**>(&elements)))) return BatchTime{};
  for (int i = 0; i < count; ++i) {
    com_ptr<_Answer> answer;
    VARIANT_BOOL cached = VARIANT_FALSE;
    if (SUCCEEDED(V_DISPATCH(&elements[i])->QueryInterface(IID__Answer, answer.put_void())) &&
        SUCCEEDED(answer->get_FromCache(&cached)) && cached != VARIANT_FALSE) {
      ++batch.FromCache;
    }
  }
  ::SafeArrayUnaccessData(V_ARRAY(answers.get()));
  return batch;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: cache_bench SERVER DLL [--calls N] [--names K] [--batch M]\n");
    return 2;
  }
  int calls = 10000, names = 100, batchCount = 10000;
  for (int i = 3; i + 1 < argc; i += 2) {
    const int value = std::stoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--calls") == 0) calls = value;
    else if (std::wcscmp(argv[i], L"--names") == 0) names = value;
    else if (std::wcscmp(argv[i], L"--batch") == 0) batchCount = value;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 0;
  {
    const vavizav::testing::LoadedModule module(argv[2]);
    if (!module.Problem().empty()) {
      std::fprintf(stderr, "cache_bench: %s\n", module.Problem().c_str());
      return 1;
    }
    const std::wstring server = argv[1];
    com_ptr<_Resolver> on = NewResolver(module, server);
    com_ptr<_Resolver> off = NewResolver(module, server);
    if (!on || !off || FAILED(off->put_Cache(VARIANT_FALSE))) return 1;
    const double withCache = ResolveCalls(on.get(), calls, names);
    const double withoutCache = ResolveCalls(off.get(), calls, names);
    std::printf("resolve_cache_on %.1f ms %d Resolve calls on %d names, cache on\n", withCache, calls, names);
    std::printf("resolve_cache_off %.1f ms the same, cache off\n", withoutCache);
    std::printf("resolve_cache_speedup %.1f x off / on (target >= 20)\n", withoutCache / withCache);

    SAFEARRAYBOUND bound{static_cast<ULONG>(batchCount), 0};
    vavizav::runtime::unique_variant list;
    V_VT(list.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(list.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < batchCount; ++i) {
      vavizav::runtime::unique_variant name;
      V_VT(name.get()) = VT_BSTR;
      V_BSTR(name.get()) = ::SysAllocString((L"h" + std::to_wstring(i) + L".batch.cache.bench").c_str());
      ::SafeArrayPutElement(V_ARRAY(list.get()), &i, name.get());
    }
    com_ptr<_Resolver> batch = NewResolver(module, server);
    const BatchTime first = ResolveMany(batch.get(), *list.get(), batchCount);
    const BatchTime second = ResolveMany(batch.get(), *list.get(), batchCount);
    std::printf("batch_first %.1f ms %d names, %d from the cache\n", first.Ms, batchCount, first.FromCache);
    std::printf("batch_second %.1f ms the same again, %d from the cache\n", second.Ms, second.FromCache);
    if (withCache < 0 || withoutCache < 0 || first.Ms < 0 || second.FromCache != batchCount) status = 1;
  }
  ::CoUninitialize();
  return status;
}
