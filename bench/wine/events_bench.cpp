// Long work beside a responsive caller, from a compiled client that loads
// Vavizav.dll by path, against the delaying responder:
//   - responsiveness: while a 10,000-name batch runs (ResolveMany, then
//     ResolveManyAsync and Wait), a timer thread posts the client's window a
//     message every 10 ms; the latency from each message's due time to its
//     handling, worst and 99th percentile (messages left over when the batch
//     returns are handled after it, and count with their wait);
//   - the async batch's time against the same ResolveMany;
//   - what the reports cost: ResolveMany with no one listening, with a
//     listener object whose members do nothing, with an advised sink that
//     does nothing.
// Each batch runs on a fresh Resolver (nothing from a cache); each figure is
// the median of --repeat runs, the kinds of run taking turns.
//
//   events_bench SERVER DLL [--count N] [--period-ms P] [--repeat R]
//
// Prints "key value unit note" lines for scripts/bench; exit status 1 when an
// answer is missing or wrong.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "dispatch_double.h"
#include "loaded_module.h"
#include "runtime/handles.h"
#include "vavizav.h"

namespace {

using vavizav::runtime::com_ptr;
using vavizav::runtime::unique_variant;

double NowMs() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

VARIANT Missing() {
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  return missing;
}

// Progress and Answered found by name, doing nothing: the cheapest listener.
class IdleListener final : public vavizav::testing::DispatchDouble {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
    if (names == nullptr || ids == nullptr || count == 0 || names[0] == nullptr) return E_INVALIDARG;
    if (_wcsicmp(names[0], L"Progress") == 0) return *ids = 1, S_OK;
    if (_wcsicmp(names[0], L"Answered") == 0) return *ids = 2, S_OK;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (result != nullptr) ::VariantInit(result);
    ++Calls;
    return S_OK;
  }
  long Calls = 0;

 private:
  ~IdleListener() override = default;
};

// An event sink (the events' dispinterface, or IDispatch) that does nothing.
class IdleSink final : public vavizav::testing::DispatchDouble {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, DIID__ResolverEvents)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (result != nullptr) ::VariantInit(result);
    ++Calls;
    return S_OK;
  }
  long Calls = 0;

 private:
  ~IdleSink() override = default;
};

// The messages a timer thread posts every `period` ms to a window of the
// calling thread, and how late each was handled against its due time.
class Ticker {
 public:
  explicit Ticker(double periodMs) : period_(periodMs) {
    WNDCLASSW description{};
    description.lpfnWndProc = Procedure;
    description.hInstance = ::GetModuleHandleW(nullptr);
    description.lpszClassName = L"VavizavEventsBenchTicker";
    ::RegisterClassW(&description);
    window_ = ::CreateWindowExW(0, description.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                description.hInstance, nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;
  ~Ticker() {
    Stop();
    ::DestroyWindow(window_);
  }
  bool Ready() const { return window_ != nullptr; }

  void Start() {
    latencies_.clear();
    dues_.clear();
    posted_ = 0;
    stop_ = false;
    start_ = NowMs();
    thread_ = std::thread([this] {
      for (long k = 1; !stop_; ++k) {
        const double due = start_ + static_cast<double>(k) * period_;
        for (double now = NowMs(); now < due && !stop_; now = NowMs()) {
          if (due - now > 1.5) ::Sleep(static_cast<DWORD>(due - now - 1));
        }
        if (stop_) break;
        ::PostMessageW(window_, WM_APP, static_cast<WPARAM>(k), 0);
        ++posted_;
      }
    });
  }
  // Stops posting and handles what is left in the queue.
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    MSG message;
    for (;;) {
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
      if (latencies_.size() >= static_cast<std::size_t>(posted_.load())) break;
      if (::MsgWaitForMultipleObjectsEx(0, nullptr, 1000, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT) break;
    }
  }
  double Worst() const { return latencies_.empty() ? 0 : *std::max_element(latencies_.begin(), latencies_.end()); }
  // When the worst message fell due, in ms from Start().
  double WorstDue() const {
    if (latencies_.empty()) return 0;
    const auto worst = std::max_element(latencies_.begin(), latencies_.end());
    return static_cast<double>(dues_[static_cast<std::size_t>(worst - latencies_.begin())]) * period_;
  }
  double Percentile(double p) const {
    if (latencies_.empty()) return 0;
    std::vector<double> sorted = latencies_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t at = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size()))) - 1;
    return sorted[std::min(at, sorted.size() - 1)];
  }
  std::size_t Handled() const { return latencies_.size(); }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Ticker*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_APP) {
      self->latencies_.push_back(NowMs() - (self->start_ + static_cast<double>(wParam) * self->period_));
      self->dues_.push_back(static_cast<long>(wParam));
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  double period_;
  HWND window_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<long> posted_{0};
  double start_ = 0;
  std::vector<double> latencies_;
  std::vector<long> dues_;  // each handled message's number, k for the k-th period
};

enum class Kind { Sync, Async, Listener, Sink };

struct Run {
  double Ms = -1;
  double Worst = 0, WorstDue = 0, P99 = 0;
  std::size_t Messages = 0;
  long Reports = 0;
  bool Right = false;
};

// Every element an Answer with Status NOERROR.
bool AllAnswered(const VARIANT& answers, int count) {
  if (V_VT(&answers) != (VT_ARRAY | VT_VARIANT)) return false;
  VARIANT* elements = nullptr;
  if (FAILED(::SafeArrayAccessData(V_ARRAY(&answers), reinterpret_cast<void**>(&elements)))) return false;
  int right = 0;
  for (int i = 0; i < count; ++i) {
    com_ptr<_Answer> answer;
    vavizav::runtime::unique_bstr status;
    if (V_VT(&elements[i]) == VT_DISPATCH && V_DISPATCH(&elements[i]) != nullptr &&
        SUCCEEDED(V_DISPATCH(&elements[i])->QueryInterface(IID__Answer, answer.put_void())) &&
        SUCCEEDED(answer->get_Status(status.put())) && std::wcscmp(status.get(), L"NOERROR") == 0) {
      ++right;
    }
  }
  ::SafeArrayUnaccessData(V_ARRAY(&answers));
  return right == count;
}

Run Measure(const vavizav::testing::LoadedModule& module, const std::wstring& server, const VARIANT& names,
            int count, Kind kind, Ticker* ticker) {
  Run run;
  com_ptr<IClassFactory> factory;
  com_ptr<_Resolver> resolver;
  if (FAILED(module.ClassObject(CLSID_Resolver, factory)) ||
      FAILED(factory->CreateInstance(nullptr, IID__Resolver, resolver.put_void()))) {
    return run;
  }
  vavizav::runtime::unique_bstr text = vavizav::runtime::MakeBstr(server);
  if (FAILED(resolver->put_DNSServer(text.get())) || FAILED(resolver->put_TimeOut(5000))) return run;
  com_ptr<IdleListener> listener(new IdleListener());
  com_ptr<IdleSink> sink(new IdleSink());
  com_ptr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (kind == Kind::Listener) {
    unique_variant value;
    V_VT(value.get()) = VT_DISPATCH;
    V_DISPATCH(value.get()) = listener.copy().detach();
    if (FAILED(resolver->putref_Listener(*value.get()))) return run;
  } else if (kind == Kind::Sink) {
    com_ptr<IConnectionPointContainer> container;
    if (FAILED(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
        FAILED(container->FindConnectionPoint(DIID__ResolverEvents, point.put())) ||
        FAILED(point->Advise(sink.get(), &cookie))) {
      return run;
    }
  }
  unique_variant answers;
  if (ticker != nullptr) ticker->Start();
  const double start = NowMs();
  if (kind == Kind::Async) {
    com_ptr<_Batch> batch;
    VARIANT_BOOL finished = VARIANT_FALSE;
    if (SUCCEEDED(resolver->ResolveManyAsync(names, Missing(), batch.put())) &&
        SUCCEEDED(batch->Wait(Missing(), &finished)) && finished != VARIANT_FALSE) {
      run.Ms = NowMs() - start;
      batch->get_Answers(answers.get());
    }
  } else if (SUCCEEDED(resolver->ResolveMany(names, Missing(), answers.get()))) {
    run.Ms = NowMs() - start;
  }
  if (ticker != nullptr) {
    ticker->Stop();
    run.Worst = ticker->Worst();
    run.WorstDue = ticker->WorstDue();
    run.P99 = ticker->Percentile(0.99);
    run.Messages = ticker->Handled();
  }
  if (point) point->Unadvise(cookie);
  run.Reports = listener->Calls + sink->Calls;
  run.Right = run.Ms >= 0 && AllAnswered(*answers.get(), count);
  return run;
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: events_bench SERVER DLL [--count N] [--period-ms P] [--repeat R]\n");
    return 2;
  }
  int count = 10000, repeat = 3;
  double period = 10;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--count") == 0) count = std::stoi(argv[i + 1]);
    else if (std::wcscmp(argv[i], L"--period-ms") == 0) period = std::stod(argv[i + 1]);
    else if (std::wcscmp(argv[i], L"--repeat") == 0) repeat = std::stoi(argv[i + 1]);
  }
  if (count < 1 || repeat < 1 || period < 1) return 2;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 0;
  {
    const vavizav::testing::LoadedModule module(argv[2]);
    if (!module.Problem().empty()) {
      std::fprintf(stderr, "events_bench: %s\n", module.Problem().c_str());
      return 1;
    }
    const std::wstring server = argv[1];
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
    unique_variant names;
    V_VT(names.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(names.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    VARIANT* elements = nullptr;
    if (V_ARRAY(names.get()) == nullptr ||
        FAILED(::SafeArrayAccessData(V_ARRAY(names.get()), reinterpret_cast<void**>(&elements)))) {
      return 1;
    }
    for (int i = 0; i < count; ++i) {
      V_VT(&elements[i]) = VT_BSTR;
      V_BSTR(&elements[i]) = ::SysAllocString((L"h" + std::to_wstring(i) + L".events.bench").c_str());
    }
    ::SafeArrayUnaccessData(V_ARRAY(names.get()));
    Ticker ticker(period);
    if (!ticker.Ready()) return 1;

    // Each kind once per round, in turn, so that a slow moment of the machine
    // falls on every kind alike. The ticker runs beside the first two only.
    const Kind kinds[] = {Kind::Sync, Kind::Async, Kind::Sync, Kind::Listener, Kind::Sink};
    std::vector<Run> runs[std::size(kinds)];
    for (int round = 0; round < repeat; ++round) {
      for (std::size_t k = 0; k < std::size(kinds); ++k) {
        const Run run = Measure(module, server, *names.get(), count, kinds[k], k < 2 ? &ticker : nullptr);
        if (!run.Right) status = 1;
        runs[k].push_back(run);
      }
    }
    const auto median = [&runs](std::size_t k, double Run::*field) {
      std::vector<double> values;
      for (const Run& run : runs[k]) values.push_back(run.*field);
      return Median(values);
    };
    // The worst run's worst message, and when it fell due in its batch.
    const auto worstRun = [&runs](std::size_t k) {
      const Run* most = &runs[k].front();
      for (const Run& run : runs[k]) most = run.Worst > most->Worst ? &run : most;
      return *most;
    };
    const double sync = median(0, &Run::Ms), async = median(1, &Run::Ms);
    const double quiet = median(2, &Run::Ms), listened = median(3, &Run::Ms), sunk = median(4, &Run::Ms);
    std::printf("# %d names, fresh Resolver per run, MaxInFlight 64, median of %d runs\n", count, repeat);
    const Run syncWorst = worstRun(0), asyncWorst = worstRun(1);
    std::printf("responsive.sync_worst %.1f ms worst of %d runs, a message every %.0f ms during ResolveMany, "
                "due at %.0f of %.0f ms (goal <= 20)\n", syncWorst.Worst, repeat, period, syncWorst.WorstDue,
                syncWorst.Ms);
    std::printf("responsive.sync_p99 %.1f ms 99th percentile, median of runs, %zu messages a run\n",
                median(0, &Run::P99), runs[0].front().Messages);
    std::printf("responsive.async_worst %.1f ms the same during ResolveManyAsync + Wait, due at %.0f of %.0f ms "
                "(goal <= 20)\n", asyncWorst.Worst, asyncWorst.WorstDue, asyncWorst.Ms);
    std::printf("responsive.async_p99 %.1f ms 99th percentile, median of runs, %zu messages a run\n",
                median(1, &Run::P99), runs[1].front().Messages);
    std::printf("async.resolve_many %.1f ms ResolveMany, ticker beside it\n", sync);
    std::printf("async.resolve_many_async %.1f ms ResolveManyAsync + Wait, ticker beside it\n", async);
    std::printf("async.speed %.3f x ResolveMany / async time (goal >= 0.95)\n", sync / async);
    std::printf("reports.none %.1f ms ResolveMany, no listener, no sink\n", quiet);
    std::printf("reports.listener %.1f ms with a listener whose members do nothing (%ld calls)\n", listened,
                runs[3].front().Reports);
    std::printf("reports.sink %.1f ms with an advised sink that does nothing (%ld calls)\n", sunk,
                runs[4].front().Reports);
    std::printf("reports.listener_cost %.3f x listener / none (goal <= 1.05)\n", listened / quiet);
    std::printf("reports.sink_cost %.3f x sink / none\n", sunk / quiet);
    if (status != 0) std::printf("# some answers were missing or wrong\n");
  }
  ::CoUninitialize();
  return status;
}
