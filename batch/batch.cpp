#include "batch/batch.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "batch/files.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "core/line_reader.h"
#include "core/models.h"
#include "core/number_text.h"

namespace velmora {
namespace {

constexpr std::size_t kEchoFields = 8;

std::size_t MinimumFields(Mode mode) { return mode == Mode::WithRiskPremium ? 8 : 7; }

// Fields of a line, counting only up to `enough`: commas plus one, and 0 for
// an empty line. Fields are short, so a plain scan beats memchr per field.
std::size_t CountFields(std::string_view line, std::size_t enough) {
  if (line.empty()) return 0;
  std::size_t count = 1;
  for (const char c : line) {
    if (c == ',' && ++count >= enough) break;
  }
  return count;
}

// The line as if seven commas were appended and it were split at every comma:
// the first eight texts, and how many of them the line itself holds (the echo
// then needs 8 - held commas after the line's own first eight fields).
std::size_t SplitEight(std::string_view line, std::array<std::string_view, kEchoFields>& fields) {
  const char* p = line.data();
  const char* const end = p + line.size();
  const char* start = p;
  std::size_t held = 0;
  for (; p != end; ++p) {
    if (*p != ',') continue;
    fields[held++] = std::string_view(start, static_cast<std::size_t>(p - start));
    start = p + 1;
    if (held == kEchoFields) break;
  }
  if (held < kEchoFields) fields[held++] = std::string_view(start, static_cast<std::size_t>(end - start));
  for (std::size_t i = held; i < kEchoFields; ++i) fields[i] = std::string_view();
  return held;
}

char* PutNumber(char* out, float value) { return out + FormatBatchNumberTo(value, out); }

// Calls `line` for every line of a chunk. Lines end at CR LF, a lone CR or a
// lone LF; only the file's last line may end at the end of the chunk.
template <class Line>
void ForEachLine(const batch::Chunk& chunk, Line&& line) {
  const char* const base = chunk.text.data();
  const std::size_t size = chunk.text.size();
  std::size_t start = 0;
  while (start < size) {
    const std::size_t end = FindTerminator(base, start, size);
    if (!line(std::string_view(base + start, end - start))) return;
    if (end == size) return;
    start = end + 1;
    if (base[end] == '\r' && start < size && base[start] == '\n') ++start;
  }
}

// The check's work: counts the lines and finds the first one short of fields.
void CheckChunk(batch::Chunk& chunk, std::size_t minimum) {
  std::uint64_t lines = 0;
  ForEachLine(chunk, [&](std::string_view line) {
    if (CountFields(line, minimum) < minimum) chunk.firstBadLine = lines;
    ++lines;
    return chunk.firstBadLine == batch::kNoLine;
  });
  chunk.lines = lines;
}

// The run's work: the result lines of a chunk.
void ComputeChunk(batch::Chunk& chunk, Mode mode, const CommonSettings& settings, const GapTable& table) {
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
    // The echo, the missing commas of the echo, then the four result columns.
    char* const start = block.Reserve(echoSize + kEchoFields + 4 * (kBatchNumberMax + 1) + 2);
    std::memcpy(start, line.data(), echoSize);
    char* out = start + echoSize;
    for (std::size_t i = held; i < kEchoFields; ++i) *out++ = ',';
    bool computed = ParseHouseholdRow(std::span<const std::string_view>(fields), mode, household);
    if (computed && withPremium) {
      computed = ComputeWithRiskPremium(household, settings, table, values);
      if (computed) {
        *out++ = ',';
        out = PutNumber(out, values.PreferenceFactor);
        *out++ = ',';
        out = PutNumber(out, values.WillingnessToPay);
        *out++ = ',';
        out = PutNumber(out, values.OptimalCoverage);
        *out++ = ',';
        out = PutNumber(out, values.DelayDamage);
      }
    } else if (computed) {
      computed = ComputeWithoutRiskPremium(household, settings, table, values);
      if (computed) {
        std::memcpy(out, ",,,,", 4);
        out = PutNumber(out + 4, values.DelayDamage);
      }
    }
    // A household the model cannot compute keeps its line, with no results.
    if (!computed) {
      std::memcpy(out, ",,,,", 4);
      out += 4;
    }
    *out++ = '\r';
    *out++ = '\n';
    block.Advance(static_cast<std::size_t>(out - start));
    ++lines;
    return true;
  });
  chunk.lines = lines;
}

}  // namespace

bool CheckBatchFiles(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                     Reporter& reporter, BatchProgress* progress, const BatchOptions& options) {
  if (input.empty()) {
    reporter.error(msg::kSelectInputFile);
    return false;
  }
  if (output.empty()) {
    reporter.error(msg::kSelectOutputFile);
    return false;
  }
  // Besides equal texts, two texts naming one file (./a and a, a link): the
  // run would otherwise replace the input with its results.
  if (input.native() == output.native() || platform::SameFile(input, output)) {
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
  // The header is never read, so it may be of any length.
  switch (reader.SkipHeader()) {
    case batch::ChunkReader::Status::End:
      reporter.error(msg::kInputFormatInvalid);
      return false;
    case batch::ChunkReader::Status::Chunk:
      break;
    default:
      reporter.error(msg::kInputUnreadable);
      return false;
  }
  const std::size_t minimum = MinimumFields(mode);
  std::uint64_t linesBefore = 0;  // data lines delivered so far, in order
  std::uint64_t badLine = 0;      // line number in the file, the header being 1
  const std::function<void(batch::Chunk&)> work = [minimum](batch::Chunk& chunk) { CheckChunk(chunk, minimum); };
  const std::function<bool(const batch::Chunk&)> deliver = [&](const batch::Chunk& chunk) {
    if (chunk.firstBadLine != batch::kNoLine) {
      badLine = linesBefore + chunk.firstBadLine + 2;
      return false;
    }
    linesBefore += chunk.lines;
    return true;
  };
  switch (batch::RunPipeline(reader, BatchThreads(options.threads), work, deliver, progress)) {
    case batch::PipelineEnd::Completed:
      break;
    case batch::PipelineEnd::Cancelled:
      return false;
    case batch::PipelineEnd::Stopped:
      reporter.error(std::to_string(badLine) + msg::kLineFormatInvalid);
      return false;
    case batch::PipelineEnd::LineTooLong:  // far longer than any household: not this file's format
      reporter.error(std::to_string(linesBefore + 2) + msg::kLineFormatInvalid);
      return false;
    case batch::PipelineEnd::ReadFailed:
    case batch::PipelineEnd::Failed:
      reporter.error(msg::kInputUnreadable);
      return false;
  }
  return BatchPassEnded(progress, reader.consumed());
}

BatchOutcome RunBatch(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                      const CommonSettings& settings, const GapTable& table, Reporter& reporter,
                      BatchProgress* progress, const BatchOptions& options) {
  // Checked again here: the result replaces the output only at the end, but it
  // must never replace the input.
  if (input.native() == output.native() || platform::SameFile(input, output)) {
    reporter.error(msg::kSameFiles);
    return BatchOutcome::Failed;
  }
  if (progress != nullptr && progress->cancelled()) return BatchOutcome::Cancelled;
  batch::ResultFile result;
  if (!result.Create(output) || !result.Write(msg::kResultHeaderCp932) || !result.Write("\r\n", 2)) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  batch::PipelineEnd end = batch::PipelineEnd::Completed;
  std::uint64_t consumed = 0;
  {
    batch::InputFile file;
    if (!file.Open(input)) {
      reporter.error(msg::kInputUnreadable);
      return BatchOutcome::Failed;
    }
    BatchPassStarted(progress, BatchPhase::Running, file.bytesTotal());
    batch::ChunkReader reader(file, options.chunkBytes, LineReader::kMaxLine);
    const std::function<void(batch::Chunk&)> work = [&](batch::Chunk& chunk) {
      ComputeChunk(chunk, mode, settings, table);
    };
    // One block at a time, in input order; a failed write stops the run.
    const std::function<bool(const batch::Chunk&)> deliver = [&result](const batch::Chunk& chunk) {
      return result.Write(chunk.block.data(), chunk.block.size());
    };
    switch (reader.SkipHeader()) {  // the header, unread
      case batch::ChunkReader::Status::Chunk:
        end = batch::RunPipeline(reader, BatchThreads(options.threads), work, deliver, progress);
        break;
      case batch::ChunkReader::Status::End:
        break;
      default:
        end = batch::PipelineEnd::ReadFailed;
        break;
    }
    consumed = reader.consumed();
  }  // the input is closed before the result is put in place
  switch (end) {
    case batch::PipelineEnd::Completed:
      break;
    case batch::PipelineEnd::Cancelled:
      return BatchOutcome::Cancelled;
    case batch::PipelineEnd::Stopped:
      reporter.error(msg::kOutputUnwritable);
      return BatchOutcome::Failed;
    case batch::PipelineEnd::ReadFailed:
    case batch::PipelineEnd::LineTooLong:
    case batch::PipelineEnd::Failed:
      reporter.error(msg::kInputUnreadable);
      return BatchOutcome::Failed;
  }
  if (!result.Finish()) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  // The last moment a cancel is heeded: once the result has taken the
  // output's place, the run has completed.
  if (!BatchPassEnded(progress, consumed)) return BatchOutcome::Cancelled;
  if (!result.Commit()) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  return BatchOutcome::Completed;
}

BatchOutcome RunBatchCommand(const BatchCommand& command, CommonSettings& settings, GapTable& table,
                             Reporter& reporter, BatchProgress* progress) {
  if (!LoadGapTable(command.gapTableFile, table, reporter)) return BatchOutcome::Failed;
  if (!CheckCommonSettings(command.settingTexts, command.mode, settings, reporter, command.decimalSeparator)) {
    return BatchOutcome::Failed;
  }
  if (!CheckBatchFiles(command.input, command.output, command.mode, reporter, progress, command.options)) {
    return progress != nullptr && progress->cancelled() ? BatchOutcome::Cancelled : BatchOutcome::Failed;
  }
  const BatchOutcome outcome = RunBatch(command.input, command.output, command.mode, settings, table, reporter,
                                        progress, command.options);
  if (outcome == BatchOutcome::Completed) reporter.info(msg::kBatchCompleted);
  return outcome;
}

}  // namespace velmora
