#include "batch/batch.h"

#include <array>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "batch/files.h"
#include "batch/messages.h"
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

}  // namespace

bool CheckBatchFiles(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                     Reporter& reporter) {
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
  if (input.native() == output.native() || batch::SameFile(input, output)) {
    reporter.error(msg::kSameFiles);
    return false;
  }
  batch::InputFile file;
  if (!file.Open(input)) {
    reporter.error(msg::kInputUnreadable);
    return false;
  }
  LineReader reader(file.stream());
  // The header is never read, so it may be of any length.
  if (!reader.Skip()) {
    reporter.error(reader.failed() ? msg::kInputUnreadable : msg::kInputFormatInvalid);
    return false;
  }
  const std::size_t minimum = MinimumFields(mode);
  std::uint64_t lineNumber = 1;
  std::string_view line;
  while (reader.Next(line)) {
    ++lineNumber;
    if (CountFields(line, minimum) < minimum) {
      reporter.error(std::to_string(lineNumber) + msg::kLineFormatInvalid);
      return false;
    }
  }
  if (reader.tooLong()) {  // far longer than any household: not this file's format
    reporter.error(std::to_string(lineNumber + 1) + msg::kLineFormatInvalid);
    return false;
  }
  if (reader.failed()) {
    reporter.error(msg::kInputUnreadable);
    return false;
  }
  return true;
}

BatchOutcome RunBatch(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                      const CommonSettings& settings, const GapTable& table, Reporter& reporter,
                      BatchProgress* progress) {
  // Checked again here: the result replaces the output only at the end, but it
  // must never replace the input.
  if (input.native() == output.native() || batch::SameFile(input, output)) {
    reporter.error(msg::kSameFiles);
    return BatchOutcome::Failed;
  }
  batch::ResultFile result;
  const std::string& header = batch::ResultHeaderCp932();
  if (header.empty() || !result.Create(output)) {
    reporter.error(msg::kOutputUnwritable);
    return BatchOutcome::Failed;
  }
  result.Append(header);
  result.Append("\r\n", 2);

  batch::InputFile file;
  if (!file.Open(input)) {
    reporter.error(msg::kInputUnreadable);
    return BatchOutcome::Failed;
  }
  LineReader reader(file.stream());
  std::string_view line;
  std::array<std::string_view, kEchoFields> fields;
  HouseholdInput household;
  ModelResult values;
  std::uint64_t lines = 0;
  const bool withPremium = mode == Mode::WithRiskPremium;

  if (reader.Skip()) {  // the header, unread
    while (reader.Next(line)) {
      const std::size_t held = SplitEight(line, fields);
      const std::size_t echoSize = static_cast<std::size_t>(fields[held - 1].data() + fields[held - 1].size() - line.data());
      result.Append(line.data(), echoSize);
      // The missing commas of the echo, then the four result columns.
      char* const start = result.Reserve(kEchoFields + 4 * (kBatchNumberMax + 1) + 2);
      char* out = start;
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
      result.Advance(static_cast<std::size_t>(out - start));
      ++lines;
      if (!result.good()) break;
      if (progress != nullptr && !progress->lineDone(lines, file.bytesRead(), file.bytesTotal())) {
        return BatchOutcome::Cancelled;
      }
    }
  }
  if (reader.failed()) {
    reporter.error(msg::kInputUnreadable);
    return BatchOutcome::Failed;
  }
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
  if (!CheckBatchFiles(command.input, command.output, command.mode, reporter)) return BatchOutcome::Failed;
  const BatchOutcome outcome =
      RunBatch(command.input, command.output, command.mode, settings, table, reporter, progress);
  if (outcome == BatchOutcome::Completed) reporter.info(msg::kBatchCompleted);
  return outcome;
}

}  // namespace velmora
