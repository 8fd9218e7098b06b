#include "form/batch_control.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <system_error>

#include "batch/batch.h"
#include "batch/messages.h"
#include "form/held_messages.h"

namespace velmora::form {
namespace {

// The check reads the whole input but only counts fields: about a tenth of
// the command's time. It fills the first tenth, the run the rest.
constexpr double kCheckShare = 0.1;
// The bar's steps.
constexpr int kPermille = 1000;

}  // namespace

BatchShare ShareAfter(double fraction, double seconds) {
  BatchShare share;
  share.fraction = std::clamp(fraction, 0.0, 1.0);
  const int permille = static_cast<int>(share.fraction * kPermille);
  if (seconds >= 1.0 && permille > 0 && permille < kPermille) {
    share.secondsLeft = seconds * (kPermille - permille) / permille;
  }
  return share;
}

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
  CommonSettings* settings = nullptr;
  GapTable* table = nullptr;
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
  auto owned = std::make_unique<Run>();
  Run& run = *owned;
  run.request = request;
  run.settings = &settings;
  run.table = &table;
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
  if (hooks_.starting) hooks_.starting(c);
  run_ = std::move(owned);
  auto work = [&run, ended = std::move(ended)] {
    try {
      run.outcome = RunBatchCommand(run.command, *run.settings, *run.table, run.messages, &run.progress, &run.summary);
    } catch (...) {
      run.outcome = BatchOutcome::Failed;
      run.failure = batch::FailureMessage(std::current_exception());
    }
    if (ended) ended();
  };
  try {
    worker_ = std::thread(work);
  } catch (const std::system_error&) {
    // No thread to be had: the run takes this one, and the window waits.
    work();
  }
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
  return ShareAfter(run.shown, std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count());
}

void BatchControl::cancel() {
  if (run_) run_->progress.cancel();
}

BatchOutcome BatchControl::finish(Reporter& reporter, bool quiet,
                                  const std::function<std::string(const BatchSummary&)>& details) {
  if (!run_) return BatchOutcome::Failed;
  if (worker_.joinable()) worker_.join();
  std::unique_ptr<Run> run = std::move(run_);
  std::string afterwards;  // what went wrong once the run had completed
  if (run->outcome == BatchOutcome::Completed) {
    lastSummary_ = std::move(run->summary);
    try {
      if (hooks_.completed && !quiet) hooks_.completed(run->command, *run->settings, *run->table, *lastSummary_);
    } catch (...) {
      afterwards = batch::FailureMessage(std::current_exception());
    }
  }
  if (quiet) return run->outcome;
  // The completion message keeps the summary behind it.
  struct WithSummary : Reporter {
    Reporter& target;
    std::string details;
    WithSummary(Reporter& t, std::string d) : target(t), details(std::move(d)) {}
    void error(std::string_view m) override { target.error(m); }
    void info(std::string_view m) override {
      if (m == msg::kBatchCompleted && !details.empty()) {
        target.infoWithDetails(m, details);
      } else {
        target.info(m);
      }
    }
  };
  std::string summaryDetails;
  if (run->outcome == BatchOutcome::Completed) {
    summaryDetails = details ? details(*lastSummary_) : BatchSummaryLine(*lastSummary_);
  }
  WithSummary withSummary(reporter, std::move(summaryDetails));
  run->messages.passOn(withSummary);
  if (!run->failure.empty()) reporter.error(run->failure);
  if (!afterwards.empty()) reporter.error(afterwards);
  return run->outcome;
}

}  // namespace velmora::form
