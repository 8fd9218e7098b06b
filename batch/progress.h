#pragma once
// Progress and cancellation of the batch check and run, shared between the
// engine and whoever watches it, and how the engine spreads its work.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stop_token>

#include "batch/options.h"

namespace velmora {

namespace batch {
class Pipeline;
}

enum class BatchPhase { Idle, Checking, Running };

// Threads. The engine calls lineDone() only on the thread that called
// CheckBatchFiles, RunBatch or RunBatchCommand, never on its own worker
// threads and never while it holds a lock of its own, so an override may let a
// window process its events. It is called after each block of lines that
// thread has worked on (every few milliseconds), and once more at the end of
// a pass: when the check has read every line, and when the run's result is on
// disk just before it takes the output's place. Answering false cancels, as
// cancel() does; a cancel requested before a pass stops it before any work.
//
// Everything else may be used from any thread at any time. A window that runs
// the command on a thread of its own polls phase(), lines(), bytesRead() and
// bytesTotal() and calls cancel(); the engine's workers see a cancel before
// their next block. A cancelled run keeps any earlier output and leaves no
// temporary file. A cancelled object stays cancelled: use one per command.
class BatchProgress {
 public:
  BatchProgress() = default;
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;
  virtual ~BatchProgress() = default;

  // Of the current pass: `linesDone` data lines, in input order, and
  // `bytesRead` of `bytesTotal` input bytes. Answer false to cancel.
  virtual bool lineDone(std::uint64_t linesDone, std::uint64_t bytesRead, std::uint64_t bytesTotal) {
    (void)linesDone;
    (void)bytesRead;
    (void)bytesTotal;
    return true;
  }

  void cancel() noexcept { stop_.request_stop(); }
  bool cancelled() const noexcept { return stop_.stop_requested(); }
  std::stop_token stopToken() const noexcept { return stop_.get_token(); }

  BatchPhase phase() const noexcept { return phase_.load(std::memory_order_relaxed); }
  // Data lines checked (check) or written (run) so far, in input order.
  std::uint64_t lines() const noexcept { return lines_.load(std::memory_order_relaxed); }
  // Input bytes taken from the file so far, header included: a few chunks
  // ahead of lines() while the threads work on them.
  std::uint64_t bytesRead() const noexcept { return bytesRead_.load(std::memory_order_relaxed); }
  std::uint64_t bytesTotal() const noexcept { return bytesTotal_.load(std::memory_order_relaxed); }

 private:
  friend class batch::Pipeline;
  friend bool BatchPassEnded(BatchProgress* progress, std::uint64_t bytesRead);
  friend void BatchPassStarted(BatchProgress* progress, BatchPhase phase, std::uint64_t bytesTotal);

  // Called on the calling thread: the hook, and whether the pass goes on.
  bool Ask() {
    if (!lineDone(lines(), bytesRead(), bytesTotal())) cancel();
    return !cancelled();
  }

  std::stop_source stop_;
  std::atomic<BatchPhase> phase_{BatchPhase::Idle};
  std::atomic<std::uint64_t> lines_{0};
  std::atomic<std::uint64_t> bytesRead_{0};
  std::atomic<std::uint64_t> bytesTotal_{0};
};

// A pass begins: the counts start again from zero.
void BatchPassStarted(BatchProgress* progress, BatchPhase phase, std::uint64_t bytesTotal);
// A pass has read its whole input: the last word of the hook. False when the
// pass is cancelled. True without a hook.
bool BatchPassEnded(BatchProgress* progress, std::uint64_t bytesRead);

// The thread count a run uses for `requested` (0: one per core, at least 1).
unsigned BatchThreads(unsigned requested);

}  // namespace velmora
