// ResolveManyAsync: a batch that runs on a thread of the component while the
// caller goes on, and the Batch object the caller follows it by. The worker
// touches no COM object: it fills the answers' contents and posts a note to a
// message-only window of the caller's thread, whose procedure (run whenever
// that thread dispatches messages: Batch.Wait, DoEvents, a host's idle loop)
// makes the Answer objects and the reports. So reports fire on the caller's
// thread only.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hosting/answer_objects.h"
#include "hosting/batch_work.h"
#include "runtime/handles.h"
#include "vavizav.h"

namespace vavizav::hosting {

class AsyncBatch;

// What a batch needs of the Resolver that started it, on the Resolver's thread.
class BatchOwner {
 public:
  virtual IUnknown* OwnerUnknown() noexcept = 0;
  virtual bool WantsAnswers() noexcept = 0;
  virtual void ReportAnswered(LONG index, const std::shared_ptr<AnswerContent>& content) = 0;
  virtual void ReportProgress(LONG done, LONG total) = 0;
  // The batch has ended (or was let go): what it learnt of the servers is
  // the Resolver's now, and it is no longer among its running batches.
  virtual void BatchEnded(AsyncBatch& batch) = 0;

 protected:
  ~BatchOwner() = default;
};

// The state a running batch shares between its worker, its Batch object and
// the window that carries its news.
class AsyncBatch final : public BatchSink {
 public:
  AsyncBatch();
  AsyncBatch(const AsyncBatch&) = delete;
  AsyncBatch& operator=(const AsyncBatch&) = delete;

  // Ends the batch: nothing of it is sent once this returns (it waits for the
  // worker to stop, a moment at most), and no report follows.
  void Cancel() noexcept;
  bool Finished();
  std::size_t Done();
  // The servers' memory the worker learns into: a copy of the Resolver's.
  const exchange::ServerMemory& Learnt() const { return *memory_; }
  // Once finished: why a server could not be used (BatchWork::Problem).
  const std::wstring& Problem() const { return work_->Problem(); }

  // BatchSink, on the worker's thread.
  void Answered(std::size_t element) override;
  bool Cancelled() override;

 private:
  friend class BatchObject;
  friend HRESULT StartAsyncBatch(BatchOwner& owner, const std::shared_ptr<AsyncBatch>& state,
                                 std::unique_ptr<BatchWork> work, std::shared_ptr<exchange::ServerMemory> memory,
                                 std::vector<SAFEARRAYBOUND> bounds, _Batch** batch) noexcept;
 public:
  // For the work's settings: set once the batch is cancelled.
  HANDLE WakeEvent() const noexcept { return wake_.get(); }
  // The worker's part, on its thread.
  void Work() noexcept;

 private:
  void Nudge();  // with lock_ held

  std::mutex lock_;
  std::unique_ptr<BatchWork> work_;
  std::shared_ptr<exchange::ServerMemory> memory_;
  std::vector<std::size_t> news_;  // answered, not yet reported
  std::vector<bool> answered_;
  std::size_t done_ = 0;
  bool finished_ = false;
  bool nudged_ = false;
  HWND window_ = nullptr;  // cleared before the window goes
  std::atomic<bool> cancelled_{false};
  bool started_ = false;  // a worker runs it: Cancel waits for it to stop
  runtime::unique_handle wake_;     // set by Cancel: the worker's wait looks at once
  runtime::unique_handle stopped_;  // set when the worker has ended
};

// Starts `work` (made with `state`'s wake event in its settings, learning into
// `memory`, a copy of the Resolver's) on a thread of its own and hands out the
// Batch that follows it; `bounds` is the shape of Names.
HRESULT StartAsyncBatch(BatchOwner& owner, const std::shared_ptr<AsyncBatch>& state, std::unique_ptr<BatchWork> work,
                        std::shared_ptr<exchange::ServerMemory> memory, std::vector<SAFEARRAYBOUND> bounds,
                        _Batch** batch) noexcept;

}  // namespace vavizav::hosting
