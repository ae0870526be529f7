#include "hosting/batch_object.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "hosting/com_boundary.h"
#include "hosting/dispatch_arguments.h"
#include "hosting/dual_object.h"
#include "hosting/module.h"
#include "hosting/names_argument.h"
#include "runtime/message_pump.h"
#include "runtime/text_conversion.h"

namespace vavizav::hosting {
namespace {

constexpr wchar_t SOURCE[] = L"Vavizav.Batch";
constexpr wchar_t WINDOW_CLASS[] = L"Vavizav.BatchNews";
// The worker has news: the window's procedure reports it.
constexpr UINT NEWS_MESSAGE = WM_APP + 1;
// Progress at most this often while a batch runs.
constexpr ULONGLONG PROGRESS_INTERVAL_MS = 100;
// A cancel waits for the worker to stop sending; it looks at the cancel
// between its steps, so this bound is only reached by a worker still
// resolving a server's host name through the system.
constexpr DWORD CANCEL_WAIT_MS = 70000;

LRESULT CALLBACK NewsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// The window class of the news windows, registered once per module load. A
// class a previous load at the same address left behind is the same class.
bool NewsClassRegistered() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = NewsProcedure;
    windowClass.hInstance = ModuleHandle();
    windowClass.lpszClassName = WINDOW_CLASS;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

class BatchObject final : public DualObject<_Batch> {
 public:
  BatchObject(BatchOwner& owner, std::shared_ptr<AsyncBatch> state, std::vector<SAFEARRAYBOUND> bounds)
      : owner_(owner),
        ownerReference_(owner.OwnerUnknown()),
        state_(std::move(state)),
        bounds_(std::move(bounds)),
        lastProgress_(::GetTickCount64()) {
    ownerReference_->AddRef();
  }

  ~BatchObject() override {
    // A batch let go is cancelled: nothing of it is sent or reported after.
    state_->Cancel();
    HWND window = nullptr;
    {
      std::lock_guard held(state_->lock_);
      window = std::exchange(state_->window_, nullptr);
    }
    if (window != nullptr) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      ::DestroyWindow(window);
    }
    if (!ended_ && state_->Finished()) owner_.BatchEnded(*state_);
    ownerReference_->Release();
  }

  bool MakeWindow() {
    if (!NewsClassRegistered()) return false;
    HWND window = ::CreateWindowExW(0, WINDOW_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ModuleHandle(),
                                    nullptr);
    if (window == nullptr) return false;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    std::lock_guard held(state_->lock_);
    state_->window_ = window;
    return true;
  }

  // A reference the Batch holds on itself for a call or a report: when only
  // these are left, the client has let go, and the batch is cancelled then,
  // not when the call under way returns.
  class OwnHold {
   public:
    explicit OwnHold(BatchObject& batch) noexcept : batch_(batch) {
      batch_.AddRef();
      ++batch_.ownHolds_;
    }
    OwnHold(const OwnHold&) = delete;
    OwnHold& operator=(const OwnHold&) = delete;
    ~OwnHold() {
      --batch_.ownHolds_;
      batch_.Release();  // may be the last
    }

   private:
    BatchObject& batch_;
  };
  bool LetGo() const noexcept { return References() <= ownHolds_; }

  // The dispatch layer holds a reference for the span of a call: it is the
  // Batch's own, not the client's.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept override {
    ++ownHolds_;
    const HRESULT hr = DualObject::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
    --ownHolds_;
    return hr;
  }

  // Reports what the worker did since the last look, on this thread. Not
  // again from inside its own reports: the outer pass takes what came.
  void Deliver() {
    if (delivering_) return;
    if (LetGo()) return state_->Cancel();
    delivering_ = true;
    struct Leave {
      bool& flag;
      ~Leave() { flag = false; }
    } leave{delivering_};
    const LONG total = static_cast<LONG>(Total());
    for (;;) {
      std::vector<std::size_t> news;
      bool finished = false;
      {
        std::lock_guard held(state_->lock_);
        news.swap(state_->news_);
        state_->nudged_ = false;
        finished = state_->finished_;
      }
      if (news.empty() && (!finished || ended_)) return;
      // Answers that came before a cancel are reported still: Answers holds them.
      for (const std::size_t element : news) {
        // Let go from inside a report: nothing more is reported.
        if (LetGo()) return state_->Cancel();
        ++delivered_;
        if (owner_.WantsAnswers()) owner_.ReportAnswered(static_cast<LONG>(element), state_->work_->ContentOf(element));
        const ULONGLONG now = ::GetTickCount64();
        if (now - lastProgress_ >= PROGRESS_INTERVAL_MS && !state_->Cancelled()) {
          lastProgress_ = now;
          owner_.ReportProgress(delivered_, total);
        }
      }
      // The worker told everything before it set finished_: all was in `news`.
      if (finished && !ended_) {
        ended_ = true;
        owner_.BatchEnded(*state_);
        if (total != 0) owner_.ReportProgress(delivered_, total);
        return;
      }
    }
  }

  HRESULT STDMETHODCALLTYPE get_Total(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = static_cast<LONG>(Total());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Done(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = static_cast<LONG>(state_->Done());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Finished(VARIANT_BOOL* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = state_->Finished() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Wait(VARIANT milliseconds, VARIANT_BOOL* finished) noexcept override {
    if (finished == nullptr) return E_POINTER;
    *finished = VARIANT_FALSE;
    HRESULT hr = CheckArgument(milliseconds, REFERENCE_CHAIN);
    if (FAILED(hr)) return hr;
    OwnHold hold(*this);
    return Guarded([&]() -> HRESULT {
      const VARIANT& given = Dereferenced(milliseconds);
      ULONGLONG limit = std::numeric_limits<ULONGLONG>::max();  // to the end
      if (!(V_VT(&given) == VT_ERROR && V_ERROR(&given) == DISP_E_PARAMNOTFOUND) && V_VT(&given) != VT_EMPTY) {
        const std::optional<double> number =
            runtime::IsNumberType(V_VT(&given)) ? runtime::VariantToDouble(given) : std::nullopt;
        if (!number || !(*number >= 0)) {
          return RaiseError(E_INVALIDARG, IID__Batch, SOURCE,
                            L"Wait takes a number of milliseconds from 0, or nothing to wait to the end");
        }
        limit = *number >= 1e15 ? limit : static_cast<ULONGLONG>(*number);
      }
      const ULONGLONG start = ::GetTickCount64();
      bool pumping = true;
      for (;;) {
        Deliver();
        if (LetGo() || (state_->Finished() && (ended_ || delivering_))) break;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= limit) break;
        const DWORD remaining = static_cast<DWORD>(std::min<ULONGLONG>(limit - elapsed, INFINITE - 1));
        const HANDLE stopped = state_->stopped_.get();
        const DWORD woken = pumping ? ::MsgWaitForMultipleObjectsEx(1, &stopped, remaining, QS_ALLINPUT,
                                                                    MWMO_INPUTAVAILABLE)
                                    : ::WaitForSingleObject(stopped, remaining);
        if (pumping && woken == WAIT_OBJECT_0 + 1) {
          // A WM_QUIT belongs to the thread's own loop; it was put back.
          if (runtime::PumpMessages() == runtime::PumpResult::Quit) pumping = false;
        } else if (woken == WAIT_FAILED) {
          return E_UNEXPECTED;
        }
      }
      *finished = state_->Finished() ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Cancel() noexcept override {
    state_->Cancel();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Answers(VARIANT* answers) noexcept override {
    if (answers == nullptr) return E_POINTER;
    ::VariantInit(answers);
    return Guarded([&]() -> HRESULT {
      const std::size_t count = Total();
      std::vector<std::shared_ptr<AnswerContent>> ready(count);
      {
        std::lock_guard held(state_->lock_);
        for (std::size_t i = 0; i < count; ++i) {
          if (state_->finished_ || state_->answered_[i]) ready[i] = state_->work_->ContentOf(i);
        }
      }
      runtime::unique_safearray result;
      HRESULT hr = MakeResultArray(bounds_, result);
      if (FAILED(hr)) return hr;
      if (count != 0) {
        VARIANT* elements = nullptr;
        if (FAILED(::SafeArrayAccessData(result.get(), reinterpret_cast<void**>(&elements)))) return E_UNEXPECTED;
        for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
          if (!ready[i]) continue;  // not answered yet: Empty
          _Answer* answer = nullptr;
          hr = CreateAnswerObject(std::move(ready[i]), &answer);
          if (SUCCEEDED(hr)) {
            V_VT(&elements[i]) = VT_DISPATCH;
            V_DISPATCH(&elements[i]) = answer;
          }
        }
        ::SafeArrayUnaccessData(result.get());
        if (FAILED(hr)) return hr;
      }
      V_VT(answers) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(answers) = result.release();
      return S_OK;
    });
  }

 private:
  std::size_t Total() const { return state_->work_->Total(); }

  BatchOwner& owner_;
  IUnknown* ownerReference_;  // held: a Resolver let go lets its batches finish
  std::shared_ptr<AsyncBatch> state_;
  std::vector<SAFEARRAYBOUND> bounds_;
  ULONGLONG lastProgress_;
  LONG delivered_ = 0;
  ULONG ownHolds_ = 0;  // references the Batch holds on itself (OwnHold, Invoke)
  bool delivering_ = false;
  bool ended_ = false;
};

namespace {

LRESULT CALLBACK NewsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message != NEWS_MESSAGE) return ::DefWindowProcW(window, message, wParam, lParam);
  auto* batch = reinterpret_cast<BatchObject*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (batch == nullptr) return 0;
  // Held for the reports: a listener may let the Batch go from inside one.
  BatchObject::OwnHold hold(*batch);
  try {
    batch->Deliver();
  } catch (...) {
    // Out of memory in a report: the next look, or Wait, tries again.
  }
  return 0;
}

// The worker: runs the work, then lets the module go (the thread held it, so
// that FreeLibrary cannot unload the code it runs).
struct WorkerStart {
  std::shared_ptr<AsyncBatch> State;
  HMODULE Module;
};

}  // namespace

DWORD WINAPI BatchThread(void* parameter);

DWORD WINAPI BatchThread(void* parameter) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    module = start->Module;
    start->State->Work();
  }
  ObjectDestroyed();
  ::FreeLibraryAndExitThread(module, 0);
}

AsyncBatch::AsyncBatch()
    : wake_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), stopped_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!wake_ || !stopped_) throw std::bad_alloc();
}

void AsyncBatch::Cancel() noexcept {
  cancelled_.store(true, std::memory_order_release);
  ::SetEvent(wake_.get());
  bool started = false;
  {
    std::lock_guard held(lock_);
    started = started_;
  }
  if (started) ::WaitForSingleObject(stopped_.get(), CANCEL_WAIT_MS);
}

bool AsyncBatch::Finished() {
  std::lock_guard held(lock_);
  return finished_;
}

std::size_t AsyncBatch::Done() {
  std::lock_guard held(lock_);
  return done_;
}

void AsyncBatch::Answered(std::size_t element) {
  std::lock_guard held(lock_);
  answered_[element] = true;
  ++done_;
  news_.push_back(element);
  Nudge();
}

bool AsyncBatch::Cancelled() { return cancelled_.load(std::memory_order_acquire); }

void AsyncBatch::Nudge() {
  if (nudged_ || window_ == nullptr) return;
  // One note at a time: the window takes everything that came when it looks.
  nudged_ = ::PostMessageW(window_, NEWS_MESSAGE, 0, 0) != FALSE;
}

void AsyncBatch::Work() noexcept {
  try {
    work_->Run(*this);
  } catch (...) {
    // Out of memory on the worker: what is unanswered ends as cancelled.
    cancelled_.store(true, std::memory_order_release);
    try {
      work_->Abandon();
    } catch (...) {
    }
  }
  std::lock_guard held(lock_);
  finished_ = true;
  ::SetEvent(stopped_.get());
  Nudge();
}

HRESULT StartAsyncBatch(BatchOwner& owner, const std::shared_ptr<AsyncBatch>& state, std::unique_ptr<BatchWork> work,
                        std::shared_ptr<exchange::ServerMemory> memory, std::vector<SAFEARRAYBOUND> bounds,
                        _Batch** batch) noexcept {
  if (batch == nullptr) return E_POINTER;
  *batch = nullptr;
  try {
    state->answered_.assign(work->Total(), false);
    state->work_ = std::move(work);
    state->memory_ = std::move(memory);
    runtime::com_ptr<BatchObject> object(new BatchObject(owner, state, std::move(bounds)));
    if (!object->MakeWindow()) return HRESULT_FROM_WIN32(::GetLastError());

    // The thread holds the module (FreeLibraryAndExitThread lets it go) and
    // counts as a live object, so DllCanUnloadNow says no while it runs.
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&BatchThread),
                              &module)) {
      return HRESULT_FROM_WIN32(::GetLastError());
    }
    auto start = std::make_unique<WorkerStart>(WorkerStart{state, module});
    {
      std::lock_guard held(state->lock_);
      state->started_ = true;
    }
    ObjectCreated();
    runtime::unique_handle thread(::CreateThread(nullptr, 0, BatchThread, start.get(), 0, nullptr));
    if (!thread) {
      const HRESULT failed = HRESULT_FROM_WIN32(::GetLastError());
      ObjectDestroyed();
      ::FreeLibrary(module);
      {
        std::lock_guard held(state->lock_);
        state->started_ = false;
      }
      return failed;
    }
    start.release();  // the thread's now
    *batch = static_cast<_Batch*>(object.detach());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace vavizav::hosting
