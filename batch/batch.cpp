// The batch command: the chain from the gap table to the completion message,
// and what its check and run share.
#include "batch/batch.h"

#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "batch/batch_internal.h"
#include "batch/files.h"
#include "batch/messages.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "core/version.h"

namespace velmora {

static_assert(LineReader::kMaxLine == std::size_t{128} << 20, "the limit msg::kLineTooLong names");

namespace batch {

std::string MixedMessage(std::uint64_t line, bool inputUtf8) {
  return std::to_string(line) +
         (inputUtf8 ? msg::kLineEncodingMixedUtf8Input : msg::kLineEncodingMixedCp932Input);
}

std::string FailureMessage(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return msg::kOutOfMemory;
  } catch (const std::exception& e) {
    return std::string(msg::kRunFailed) + e.what();
  } catch (...) {
  }
  return std::string(msg::kRunFailed) + "?";
}

}  // namespace batch

using batch::Absolute;
using batch::FailureMessage;

BatchOutcome RunBatchCommand(const BatchCommand& command, CommonSettings& settings, GapTable& table,
                             Reporter& reporter, BatchProgress* progress, BatchSummary* summary) {
  // The table's digest of the very bytes loaded, not of a second reading
  // that another program may have changed in between.
  std::optional<Sha256> digest;
  if (summary != nullptr) {
    try {
      digest.emplace();
    } catch (...) {  // the digest itself failed, not the file
      reporter.error(FailureMessage(std::current_exception()));
      return BatchOutcome::Failed;
    }
  }
  std::function<void(const char*, std::size_t)> onBytes;
  if (digest) onBytes = [&digest](const char* bytes, std::size_t size) { digest->Update(bytes, size); };
  if (!LoadGapTable(command.gapTableFile, table, reporter, onBytes)) return BatchOutcome::Failed;
  std::optional<std::string> tableDigest;
  if (digest) tableDigest = digest->HexDigest();
  if (!CheckCommonSettings(command.settingTexts, command.mode, settings, reporter, command.decimalSeparator)) {
    return BatchOutcome::Failed;
  }
  BatchOptions options = command.options;
  if (!CheckBatchFiles(command.input, command.output, command.mode, reporter, progress, options,
                       &options.inputIsUtf8)) {
    return progress != nullptr && progress->cancelled() ? BatchOutcome::Cancelled : BatchOutcome::Failed;
  }
  BatchSummary run;
  const BatchOutcome outcome = RunBatch(command.input, command.output, command.mode, settings, table, reporter,
                                        progress, options, summary != nullptr ? &run : nullptr);
  if (outcome != BatchOutcome::Completed) return outcome;
  if (summary != nullptr) {
    run.version = kVersion;
    run.mode = command.mode;
    for (std::size_t k = 0; k < run.settingTexts.size(); ++k) run.settingTexts[k] = command.settingTexts[k];
    run.settings = settings;
    run.gapTable = Absolute(command.gapTableFile);
    run.gapTableSha256 = tableDigest.value_or("");
    *summary = std::move(run);
  }
  // Kept columns of a UTF-8 input without the mark made the result UTF-8.
  if (options.inputIsUtf8 && options.keepColumns && options.encoding == OutputEncoding::FromInput) {
    reporter.info(std::string(msg::kBatchCompleted) + "\n" + msg::kWrittenAsUtf8);
  } else {
    reporter.info(msg::kBatchCompleted);
  }
  return outcome;
}

}  // namespace velmora
