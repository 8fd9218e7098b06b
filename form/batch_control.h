#pragma once
// 一括計算 from a window: the command on a worker thread of its own while the
// window stays live, its progress as a share and the time left, 中止 and close
// cancelling it, and its messages held until the window takes them back.
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "batch/batch.h"
#include "batch/summary.h"
#include "core/reporter.h"

namespace velmora::form {

struct BatchRequest {
  std::filesystem::path input;
  std::filesystem::path output;
  Mode mode = Mode::WithRiskPremium;
  std::array<std::string, 4> settingTexts;
  std::string decimalSeparator = ".";
  std::filesystem::path gapTableFile;
  bool keepColumns = false;
};

struct BatchShare {
  double fraction = 0.0;                // 0..1, only ever moving on
  std::optional<double> secondsLeft;    // from the first second on, while neither 0% nor done
};

// The share shown `seconds` after the start of a run that has done
// `fraction` of its work: the time left from the first second on, while
// neither 0% nor done (in the bar's thousand steps).
BatchShare ShareAfter(double fraction, double seconds);

// "45%" and, once known, "　残り約 12 秒" (under 90 seconds) or "　残り約 3 分",
// rounded to the nearest, as the tool gives its estimate.
std::string ShareText(const BatchShare& share);

// What a window adds to its runs. Both are called on the window's thread;
// what they throw ends the run with its message, and the window stays usable.
struct BatchHooks {
  // Before the run starts: may give the command a consumer of its result
  // lines (BatchOptions::resultBlocks), which then runs on the run's threads.
  std::function<void(BatchCommand&)> starting;
  // Once a run completed, with the command, the settings and the table it
  // ran with and its summary; before its messages.
  std::function<void(const BatchCommand&, const CommonSettings&, const GapTable&, const BatchSummary&)> completed;
};

class BatchControl {
 public:
  BatchControl();
  ~BatchControl();  // cancels a running command and waits for it
  BatchControl(const BatchControl&) = delete;
  BatchControl& operator=(const BatchControl&) = delete;

  // Starts the command on a worker. `settings` and `table` are the window's:
  // the worker fills them, and nobody else may touch them until finish().
  // `ended` is called on the worker once it is done; the window then calls
  // finish() on its own thread. False when a command still runs.
  // Without a thread to be had, the run takes the caller's. What
  // hooks.starting throws passes on, and nothing runs.
  bool start(const BatchRequest& request, CommonSettings& settings, GapTable& table, std::function<void()> ended);
  bool running() const { return run_ != nullptr; }
  void setHooks(BatchHooks hooks) { hooks_ = std::move(hooks); }
  // From the window's thread, at any time while running.
  BatchShare share();
  void cancel();
  // Waits for the worker, passes its messages on to `reporter` (the
  // completion message with the summary line as its details) unless
  // `quiet`, and answers the outcome. A failure inside the worker comes back
  // as Failed, with its message, and one in hooks.completed as its message
  // after the run's: the window stays usable.
  BatchOutcome finish(Reporter& reporter, bool quiet = false,
                      const std::function<std::string(const BatchSummary&)>& details = {});
  // The summary of the last command that completed.
  const std::optional<BatchSummary>& lastSummary() const { return lastSummary_; }

 private:
  struct Run;
  std::unique_ptr<Run> run_;
  std::thread worker_;
  BatchHooks hooks_;
  std::optional<BatchSummary> lastSummary_;
};

}  // namespace velmora::form
