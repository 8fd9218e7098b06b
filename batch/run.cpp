// The batch run: the input streamed through the model of the mode into the
// result file, on as many threads as asked, the same bytes for every count.
#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "batch/batch.h"
#include "batch/batch_internal.h"
#include "batch/figures.h"
#include "batch/files.h"
#include "batch/line_scan.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "batch/row.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "core/models.h"
#include "core/number_text.h"

namespace velmora {
namespace {

using batch::Absolute;
using batch::EchoSize;
using batch::FailureMessage;
using batch::ForEachLine;
using batch::IsAscii;
using batch::kEchoFields;
using batch::kNotAscii;
using batch::MixedMessage;
using batch::RunFigures;
using batch::SplitEight;
using batch::WritesUtf8;

char* PutNumber(char* out, float value) { return out + FormatBatchNumberTo(value, out); }

// What a run does beyond the twelve columns; none of it in the usual run.
struct RunExtras {
  bool keepColumns = false;
  bool asciiOnly = false;  // the result's code page is not the input's
  bool figures = false;
};

// Writes a result and, when figures are kept, adds the value its text reads
// back as: the figures are those of the file.
template <bool kExtras>
char* PutResult(char* out, float value, RunFigures* figures, std::size_t column) {
  char* const text = out;
  out = PutNumber(out, value);
  if constexpr (kExtras) {
    if (figures != nullptr) {
      double written = 0.0;
      std::from_chars(text, out, written);
      figures->columns[column].Add(written);
      if (column == 3 && figures->keepDelayDamages) figures->delayDamages.push_back(written);
    }
  }
  return out;
}

// The run's work: the result lines of a chunk. kExtras = false is the usual
// run, which pays for none of the extras.
template <bool kExtras>
void ComputeChunk(batch::Chunk& chunk, Mode mode, const CommonSettings& settings, const GapTable& table,
                  const RunExtras& extras, RunFigures* figures) {
  batch::Buffer& block = chunk.block;
  // Room for a chunk of usual lines at once: a result line is rarely twice
  // its input. A chunk of a long line holds a long echo at most.
  block.Reserve(2 * std::min<std::size_t>(chunk.text.size(), std::size_t{1} << 20) + 4096);
  std::array<std::string_view, kEchoFields> fields;
  HouseholdInput household;
  ModelResult values;
  const bool withPremium = mode == Mode::WithRiskPremium;
  std::uint64_t lines = 0;
  ForEachLine(chunk, [&](std::string_view line) {
    const std::size_t held = SplitEight(line, fields);
    const auto echoSize = static_cast<std::size_t>(fields[held - 1].data() + fields[held - 1].size() - line.data());
    std::size_t kept = 0;  // the line's own fields from the ninth on, with the comma before them
    if constexpr (kExtras) {
      if (extras.keepColumns) kept = line.size() - echoSize;
      // Checked before the run; a file changed since then is refused all the same.
      if (extras.asciiOnly && !IsAscii(line.substr(0, echoSize + kept))) {
        chunk.firstBadLine = lines;
        chunk.badReason = kNotAscii;
        return false;
      }
    }
    // The echo, the missing commas of the echo, then the four result columns.
    char* const start = block.Reserve(echoSize + kEchoFields + 4 * (kBatchNumberMax + 1) + 2 + kept);
    std::memcpy(start, line.data(), echoSize);
    char* out = start + echoSize;
    for (std::size_t i = held; i < kEchoFields; ++i) *out++ = ',';
    const bool parsed = ParseHouseholdRow(std::span<const std::string_view>(fields), mode, household);
    bool computed = parsed;
    if (computed && withPremium) {
      computed = ComputeWithRiskPremium(household, settings, table, values);
      if (computed) {
        *out++ = ',';
        out = PutResult<kExtras>(out, values.PreferenceFactor, figures, 0);
        *out++ = ',';
        out = PutResult<kExtras>(out, values.WillingnessToPay, figures, 1);
        *out++ = ',';
        out = PutResult<kExtras>(out, values.OptimalCoverage, figures, 2);
        *out++ = ',';
        out = PutResult<kExtras>(out, values.DelayDamage, figures, 3);
      }
    } else if (computed) {
      computed = ComputeWithoutRiskPremium(household, settings, table, values);
      if (computed) {
        std::memcpy(out, ",,,,", 4);
        out = PutResult<kExtras>(out + 4, values.DelayDamage, figures, 3);
      }
    }
    // A household the model cannot compute keeps its line, with no results.
    if (!computed) {
      std::memcpy(out, ",,,,", 4);
      out += 4;
    }
    if constexpr (kExtras) {
      if (kept > 0) {
        std::memcpy(out, line.data() + echoSize, kept);
        out += kept;
      }
      if (figures != nullptr) {
        if (computed) {
          ++figures->computed;
        } else if (parsed) {
          ++figures->modelFailed;
        } else {
          ++figures->rowRejected;
        }
      }
    }
    *out++ = '\r';
    *out++ = '\n';
    block.Advance(static_cast<std::size_t>(out - start));
    ++lines;
    return true;
  });
  chunk.lines = lines;
}

BatchOutcome Run(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                 const CommonSettings& settings, const GapTable& table, Reporter& reporter, BatchProgress* progress,
                 const BatchOptions& options, BatchSummary* summary) {
  // Checked again here: the result replaces the output only at the end, but it
  // must never replace the input.
  if (batch::SameFile(input, output)) {
    reporter.error(msg::kSameFiles);
    return BatchOutcome::Failed;
  }
  if (progress != nullptr && progress->cancelled()) return BatchOutcome::Cancelled;
  batch::ResultFile result;
  const bool toFile = options.writeResultFile;
  if (toFile && !result.Create(output)) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  // The digests of a summary: the input as read, the result as written.
  std::optional<Sha256> inputDigest;
  std::optional<Sha256> outputDigest;
  if (summary != nullptr) {
    inputDigest.emplace();
    outputDigest.emplace();
  }
  const auto write = [&](const char* bytes, std::size_t size) {
    if (outputDigest) outputDigest->Update(bytes, size);
    return !toFile || result.Write(bytes, size);
  };
  const RunExtras extras{options.keepColumns, false, summary != nullptr};
  RunFigures figures;
  std::mutex figuresMutex;
  bool utf8 = false;
  batch::PipelineEnd end = batch::PipelineEnd::Completed;
  std::exception_ptr error;
  std::uint64_t consumed = 0;
  std::uint64_t linesBefore = 0;
  std::uint64_t mixedLine = 0;  // a line the code page refuses, the header being 1
  bool mixedInputUtf8 = false;
  {
    batch::InputFile file;
    if (!file.Open(input)) {
      reporter.error(msg::kInputUnreadable);
      return BatchOutcome::Failed;
    }
    BatchPassStarted(progress, BatchPhase::Running, file.bytesTotal());
    batch::ChunkReader reader(file, options.chunkBytes, LineReader::kMaxLine);
    if (inputDigest) reader.HashInto(&*inputDigest);
    // The header, read only for its titles.
    batch::Buffer header;
    const batch::ChunkReader::Status headerRead = reader.ReadHeader(options.keepColumns ? &header : nullptr);
    if (headerRead == batch::ChunkReader::Status::LineTooLong) {
      reporter.error(std::string("1") + msg::kHeaderTooLong);
      return BatchOutcome::Failed;
    }
    if (headerRead == batch::ChunkReader::Status::ReadFailed) {
      reporter.error(msg::kInputUnreadable);
      return BatchOutcome::Failed;
    }
    const bool chosen = options.keepColumns || options.encoding != OutputEncoding::FromInput;
    const bool inputUtf8 = reader.StartsWithByteOrderMark() || (options.inputIsUtf8 && chosen);
    utf8 = WritesUtf8(options.encoding, inputUtf8);
    mixedInputUtf8 = inputUtf8;
    RunExtras lineExtras = extras;
    lineExtras.asciiOnly = utf8 != inputUtf8;
    std::string head = utf8 ? std::string("\xEF\xBB\xBF") + msg::kResultHeader : std::string(msg::kResultHeaderCp932);
    if (options.keepColumns) {
      const std::string_view titles(header.data(), header.size());
      head += titles.substr(EchoSize(titles));
    }
    head += "\r\n";
    if (!write(head.data(), head.size())) {
      reporter.error(msg::kOutputUnwritable);
      return BatchOutcome::Failed;
    }
    std::function<void(batch::Chunk&)> work = [&](batch::Chunk& chunk) {
      ComputeChunk<false>(chunk, mode, settings, table, lineExtras, nullptr);
    };
    if (lineExtras.keepColumns || lineExtras.asciiOnly || lineExtras.figures) {
      work = [&](batch::Chunk& chunk) {
        if (!lineExtras.figures) {
          ComputeChunk<true>(chunk, mode, settings, table, lineExtras, nullptr);
          return;
        }
        // Exact sums, counts and bounds: merged in any order, the same figures.
        RunFigures own;
        own.keepDelayDamages = options.keepDelayDamages;
        ComputeChunk<true>(chunk, mode, settings, table, lineExtras, &own);
        const std::lock_guard lock(figuresMutex);
        figures.Add(own);
      };
    }
    // One block at a time, in input order; a failed write stops the run.
    const std::function<bool(const batch::Chunk&)> deliver = [&](const batch::Chunk& chunk) {
      if (chunk.firstBadLine != batch::kNoLine) {
        mixedLine = linesBefore + chunk.firstBadLine + 2;
        return false;
      }
      if (options.resultBlocks) {
        options.resultBlocks(linesBefore + 2, std::string_view(chunk.block.data(), chunk.block.size()));
      }
      linesBefore += chunk.lines;
      return write(chunk.block.data(), chunk.block.size());
    };
    if (headerRead == batch::ChunkReader::Status::Chunk) {
      end = batch::RunPipeline(reader, BatchThreads(options.threads), work, deliver, progress, &error,
                               options.bytesInFlight);
    }
    consumed = reader.consumed();
  }  // the input is closed before the result is put in place
  switch (end) {
    case batch::PipelineEnd::Completed:
      break;
    case batch::PipelineEnd::Cancelled:
      return BatchOutcome::Cancelled;
    case batch::PipelineEnd::Stopped:
      if (mixedLine != 0) {
        reporter.error(MixedMessage(mixedLine, mixedInputUtf8));
      } else {
        reporter.error(msg::kOutputUnwritable);
      }
      return BatchOutcome::Failed;
    case batch::PipelineEnd::LineTooLong:  // the input has changed since its check
      reporter.error(std::to_string(linesBefore + 2) + msg::kLineTooLong);
      return BatchOutcome::Failed;
    case batch::PipelineEnd::ReadFailed:
      reporter.error(msg::kInputUnreadable);
      return BatchOutcome::Failed;
    case batch::PipelineEnd::Failed:
      reporter.error(FailureMessage(error));
      return BatchOutcome::Failed;
  }
  if (toFile && !result.Finish()) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  // The last moment a cancel is heeded: once the result has taken the
  // output's place, the run has completed.
  if (!BatchPassEnded(progress, consumed)) return BatchOutcome::Cancelled;
  if (toFile && !result.Commit()) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  if (summary != nullptr) {
    summary->input = Absolute(input);
    summary->inputBytes = consumed;
    summary->inputSha256 = inputDigest->HexDigest();
    summary->output = Absolute(output);
    summary->outputSha256 = outputDigest->HexDigest();
    summary->encoding = utf8 ? OutputEncoding::Utf8 : OutputEncoding::Cp932;
    summary->keptColumns = options.keepColumns;
    summary->dataLines = linesBefore;
    batch::PutFigures(figures, *summary);
  }
  return BatchOutcome::Completed;
}

}  // namespace

// Whatever throws under the run (memory, the digest, a hook) ends it with its
// own message; the files are closed and the temporary file removed on the
// way out.
BatchOutcome RunBatch(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                      const CommonSettings& settings, const GapTable& table, Reporter& reporter,
                      BatchProgress* progress, const BatchOptions& options, BatchSummary* summary) {
  try {
    return Run(input, output, mode, settings, table, reporter, progress, options, summary);
  } catch (...) {
    reporter.error(FailureMessage(std::current_exception()));
    return BatchOutcome::Failed;
  }
}

}  // namespace velmora
