#include "form/batch_control.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <vector>

#include "batch/messages.h"

namespace velmora::form {
namespace {

// The check reads the whole input but only counts fields: about a tenth of
// the command's time. It fills the first tenth, the run the rest.
constexpr double kCheckShare = 0.1;
// The bar's steps.
constexpr int kPermille = 1000;

// Keeps messages from the worker for the window's thread.
class HeldMessages : public Reporter {
 public:
  void error(std::string_view m) override { keep(true, m); }
  void info(std::string_view m) override { keep(false, m); }
  struct Message {
    bool isError;
    std::string text;
  };
  std::vector<Message> take() {
    const std::lock_guard lock(mutex_);
    return std::move(messages_);
  }

 private:
  void keep(bool isError, std::string_view m) {
    const std::lock_guard lock(mutex_);
    messages_.push_back({isError, std::string(m)});
  }
  std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace

std::string ShareText(const BatchShare& share) {
  const int permille = std::clamp(static_cast<int>(share.fraction * kPermille), 0, kPermille);
  std::string text = std::to_string(permille * 100 / kPermille) + "%";
  if (share.secondsLeft) {
    const double left = *share.secondsLeft;
    text += left < 90.0 ? "　残り約 " + std::to_string(static_cast<long long>(left + 0.5)) + " 秒"
                        : "　残り約 " + std::to_string(static_cast<long long>(left / 60.0 + 0.5)) + " 分";
  }
  return text;
}

struct BatchControl::Run {
  BatchRequest request;
  BatchCommand command;
  BatchProgress progress;
  HeldMessages messages;
  BatchSummary summary;
  BatchOutcome outcome = BatchOutcome::Failed;
  std::string failure;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  double shown = 0.0;
};

BatchControl::BatchControl() = default;

BatchControl::~BatchControl() {
  if (run_) run_->progress.cancel();
  if (worker_.joinable()) worker_.join();
}

bool BatchControl::start(const BatchRequest& request, CommonSettings& settings, GapTable& table,
                         std::function<void()> ended) {
  if (running()) return false;
  run_ = std::make_unique<Run>();
  Run& run = *run_;
  run.request = request;
  // The command reads views of the texts this run owns.
  BatchCommand& c = run.command;
  c.input = request.input;
  c.output = request.output;
  c.mode = request.mode;
  for (std::size_t i = 0; i < 4; ++i) c.settingTexts[i] = run.request.settingTexts[i];
  c.decimalSeparator = run.request.decimalSeparator;
  c.gapTableFile = request.gapTableFile;
  c.options.keepColumns = request.keepColumns;
  // The summary's histogram reads every delay damage the run wrote.
  c.options.keepDelayDamages = true;
  worker_ = std::thread([&run, &settings, &table, ended = std::move(ended)] {
    try {
      run.outcome = RunBatchCommand(run.command, settings, table, run.messages, &run.progress, &run.summary);
    } catch (const std::exception& e) {
      run.outcome = BatchOutcome::Failed;
      run.failure = e.what();
    } catch (...) {
      run.outcome = BatchOutcome::Failed;
      run.failure = "?";
    }
    if (ended) ended();
  });
  return true;
}

BatchShare BatchControl::share() {
  BatchShare share;
  if (!run_) return share;
  Run& run = *run_;
  // The phase first: a new pass resets its counts before it shows itself,
  // and a value from the wrong pass is lower and left out below.
  const BatchPhase phase = run.progress.phase();
  const std::uint64_t total = run.progress.bytesTotal();
  if (phase != BatchPhase::Idle && total != 0) {
    const double part = std::clamp(static_cast<double>(run.progress.bytesRead()) / static_cast<double>(total), 0.0, 1.0);
    const double fraction = phase == BatchPhase::Checking ? part * kCheckShare : kCheckShare + part * (1 - kCheckShare);
    run.shown = std::max(run.shown, fraction);
  }
  share.fraction = run.shown;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count();
  // An estimate from the first second on, in the bar's steps.
  const int permille = static_cast<int>(run.shown * kPermille);
  if (elapsed >= 1.0 && permille > 0 && permille < kPermille) {
    share.secondsLeft = elapsed * (kPermille - permille) / permille;
  }
  return share;
}

void BatchControl::cancel() {
  if (run_) run_->progress.cancel();
}

BatchOutcome BatchControl::finish(Reporter& reporter, bool quiet,
                                  const std::function<std::string(const BatchSummary&)>& details) {
  if (!run_) return BatchOutcome::Failed;
  if (worker_.joinable()) worker_.join();
  std::unique_ptr<Run> run = std::move(run_);
  if (run->outcome == BatchOutcome::Completed) lastSummary_ = std::move(run->summary);
  if (!quiet) {
    for (const HeldMessages::Message& m : run->messages.take()) {
      if (m.isError) {
        reporter.error(m.text);
      } else if (m.text == msg::kBatchCompleted && run->outcome == BatchOutcome::Completed) {
        reporter.infoWithDetails(m.text, details ? details(*lastSummary_) : BatchSummaryLine(*lastSummary_));
      } else {
        reporter.info(m.text);
      }
    }
    if (!run->failure.empty()) reporter.error(run->failure);
  }
  return run->outcome;
}

}  // namespace velmora::form
