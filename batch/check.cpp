// The check of the batch's two files before a run: the names, the header and
// every data line, on as many threads as the run.
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "batch/batch.h"
#include "batch/batch_internal.h"
#include "batch/files.h"
#include "batch/line_scan.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "core/line_reader.h"

namespace velmora {
namespace {

using batch::CheckChunk;
using batch::EchoSize;
using batch::FailureMessage;
using batch::FoundIn;
using batch::FoundUtf8;
using batch::IsAscii;
using batch::kNotAscii;
using batch::kTooFewFields;
using batch::MixedMessage;
using batch::ScanChunk;
using batch::WritesUtf8;

bool CheckFiles(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                Reporter& reporter, BatchProgress* progress, const BatchOptions& options, bool* inputIsUtf8) {
  if (input.empty()) {
    reporter.error(msg::kSelectInputFile);
    return false;
  }
  if (output.empty()) {
    reporter.error(msg::kSelectOutputFile);
    return false;
  }
  // The run would otherwise replace the input with its results.
  if (batch::SameFile(input, output)) {
    reporter.error(msg::kSameFiles);
    return false;
  }
  if (progress != nullptr && progress->cancelled()) return false;
  batch::InputFile file;
  if (!file.Open(input)) {
    reporter.error(msg::kInputUnreadable);
    return false;
  }
  BatchPassStarted(progress, BatchPhase::Checking, file.bytesTotal());
  batch::ChunkReader reader(file, options.chunkBytes, LineReader::kMaxLine);
  // The header is read only for its titles; otherwise it may be of any length.
  batch::Buffer header;
  switch (reader.ReadHeader(options.keepColumns ? &header : nullptr)) {
    case batch::ChunkReader::Status::End:
      reporter.error(msg::kInputFormatInvalid);
      return false;
    case batch::ChunkReader::Status::Chunk:
      break;
    case batch::ChunkReader::Status::LineTooLong:
      reporter.error(std::string("1") + msg::kHeaderTooLong);
      return false;
    default:
      reporter.error(msg::kInputUnreadable);
      return false;
  }
  // Echoed bytes are never converted: in another code page than the input's
  // only ASCII may be echoed, or the result would mix two code pages. An
  // input without the mark is UTF-8 when all its bytes outside ASCII are;
  // that is known at its end, and matters only to kept columns or a chosen
  // code page.
  const bool mark = reader.StartsWithByteOrderMark();
  const bool scan = !mark && (options.keepColumns || options.encoding != OutputEncoding::FromInput);
  const std::string_view titles(header.data(), header.size());
  const std::string_view keptTitles = options.keepColumns ? titles.substr(EchoSize(titles)) : std::string_view();
  const bool asciiOnly = !scan && WritesUtf8(options.encoding, mark) != mark;
  if (asciiOnly && !IsAscii(keptTitles)) {
    reporter.error(MixedMessage(1, mark));
    return false;
  }
  const std::size_t minimum = HouseholdFields(mode);
  const bool wholeLine = options.keepColumns;
  std::uint64_t linesBefore = 0;  // data lines delivered so far, in order
  std::uint64_t badLine = 0;      // line number in the file, the header being 1
  int badReason = kTooFewFields;
  std::uint64_t foreignLine = IsAscii(keptTitles) ? 0 : 1;  // the first line a scan noted, 0 for none
  unsigned found = FoundIn(titles);
  std::function<void(batch::Chunk&)> work = [minimum](batch::Chunk& chunk) {
    CheckChunk<false>(chunk, minimum, false);
  };
  if (asciiOnly) {
    work = [minimum, wholeLine](batch::Chunk& chunk) { CheckChunk<true>(chunk, minimum, wholeLine); };
  } else if (scan) {
    work = [minimum, wholeLine](batch::Chunk& chunk) { ScanChunk(chunk, minimum, wholeLine); };
  }
  const std::function<bool(const batch::Chunk&)> deliver = [&](const batch::Chunk& chunk) {
    if (chunk.firstBadLine != batch::kNoLine) {
      badLine = linesBefore + chunk.firstBadLine + 2;
      badReason = chunk.badReason;
      return false;
    }
    if (foreignLine == 0 && chunk.firstForeignLine != batch::kNoLine) {
      foreignLine = linesBefore + chunk.firstForeignLine + 2;
    }
    found |= chunk.found;
    linesBefore += chunk.lines;
    return true;
  };
  std::exception_ptr error;
  switch (batch::RunPipeline(reader, BatchThreads(options.threads), work, deliver, progress, &error,
                             options.bytesInFlight)) {
    case batch::PipelineEnd::Completed:
      if (scan) {
        const bool inputUtf8 = FoundUtf8(found);
        if (WritesUtf8(options.encoding, inputUtf8) != inputUtf8 && foreignLine != 0) {
          reporter.error(MixedMessage(foreignLine, inputUtf8));
          return false;
        }
        if (inputIsUtf8 != nullptr) *inputIsUtf8 = inputUtf8;
      }
      break;
    case batch::PipelineEnd::Cancelled:
      return false;
    case batch::PipelineEnd::Stopped:
      reporter.error(badReason == kNotAscii ? MixedMessage(badLine, mark)
                                            : std::to_string(badLine) + msg::kLineFormatInvalid);
      return false;
    case batch::PipelineEnd::LineTooLong:  // far longer than any household
      reporter.error(std::to_string(linesBefore + 2) + msg::kLineTooLong);
      return false;
    case batch::PipelineEnd::ReadFailed:
      reporter.error(msg::kInputUnreadable);
      return false;
    case batch::PipelineEnd::Failed:
      reporter.error(FailureMessage(error));
      return false;
  }
  return BatchPassEnded(progress, reader.consumed());
}
}  // namespace

// Whatever throws under the check (memory, a hook) ends it with its own
// message; the file is closed on the way out.
bool CheckBatchFiles(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                     Reporter& reporter, BatchProgress* progress, const BatchOptions& options, bool* inputIsUtf8) {
  if (inputIsUtf8 != nullptr) *inputIsUtf8 = false;
  try {
    return CheckFiles(input, output, mode, reporter, progress, options, inputIsUtf8);
  } catch (...) {
    reporter.error(FailureMessage(std::current_exception()));
    return false;
  }
}

}  // namespace velmora
