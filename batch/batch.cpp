#include "batch/batch.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/files.h"
#include "batch/messages.h"
#include "batch/pipeline.h"
#include "batch/row.h"
#include "platform/sha256.h"
#include "core/line_reader.h"
#include "core/models.h"
#include "core/number_text.h"
#include "core/version.h"

namespace velmora {
namespace {

using batch::IsUtf8;
using batch::kEchoFields;
using batch::SplitEight;

static_assert(LineReader::kMaxLine == std::size_t{128} << 20, "the limit msg::kLineTooLong names");

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

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What a scan finds in an input's bytes (batch::Chunk::found).
enum Found : unsigned { kFoundNonAscii = 1, kFoundNotUtf8 = 2 };

unsigned FoundIn(std::string_view bytes) {
  if (IsAscii(bytes)) return 0;
  return kFoundNonAscii | (IsUtf8(bytes) ? 0u : unsigned{kFoundNotUtf8});
}

// UTF-8 without the mark: something outside ASCII, and all of it UTF-8.
bool FoundUtf8(unsigned found) { return found == kFoundNonAscii; }

// The refusal of a byte outside ASCII that would be echoed into a result of
// another code page than the input's.
std::string MixedMessage(std::uint64_t line, bool inputUtf8) {
  return std::to_string(line) +
         (inputUtf8 ? msg::kLineEncodingMixedUtf8Input : msg::kLineEncodingMixedCp932Input);
}

// The part of a line (or of the header) that the result echoes: up to the
// end of its eighth field. The rest, from the eighth comma on, is the line's
// own fields from the ninth on.
std::size_t EchoSize(std::string_view line) {
  std::array<std::string_view, kEchoFields> fields;
  const std::size_t held = SplitEight(line, fields);
  return static_cast<std::size_t>(fields[held - 1].data() + fields[held - 1].size() - line.data());
}

// Whether the result is written in UTF-8 (else CP932).
bool WritesUtf8(OutputEncoding encoding, bool inputUtf8) {
  return encoding == OutputEncoding::FromInput ? inputUtf8 : encoding == OutputEncoding::Utf8;
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

// What the check found wrong with chunk.firstBadLine.
enum BadLine { kTooFewFields = 0, kNotAscii = 1 };

// The check's work: counts the lines and finds the first one short of fields
// (and, with kAsciiOnly, the first whose echo, or whole line when `wholeLine`,
// holds a byte outside ASCII).
template <bool kAsciiOnly>
void CheckChunk(batch::Chunk& chunk, std::size_t minimum, bool wholeLine) {
  std::uint64_t lines = 0;
  ForEachLine(chunk, [&](std::string_view line) {
    if (CountFields(line, minimum) < minimum) {
      chunk.firstBadLine = lines;
      chunk.badReason = kTooFewFields;
    } else if constexpr (kAsciiOnly) {
      if (!IsAscii(wholeLine ? line : line.substr(0, EchoSize(line)))) {
        chunk.firstBadLine = lines;
        chunk.badReason = kNotAscii;
      }
    }
    ++lines;
    return chunk.firstBadLine == batch::kNoLine;
  });
  chunk.lines = lines;
}

// The check's work when the input's code page is to be found (no byte order
// mark, and kept columns or a chosen code page): the first line short of
// fields stops the check; the first line whose echo (or whole line when
// `wholeLine`) holds a byte outside ASCII is only noted, since whether it
// may be written is known at the end of the file.
void ScanChunk(batch::Chunk& chunk, std::size_t minimum, bool wholeLine) {
  std::uint64_t lines = 0;
  ForEachLine(chunk, [&](std::string_view line) {
    if (CountFields(line, minimum) < minimum) {
      chunk.firstBadLine = lines;
      chunk.badReason = kTooFewFields;
    } else if (chunk.firstForeignLine == batch::kNoLine &&
               !IsAscii(wholeLine ? line : line.substr(0, EchoSize(line)))) {
      chunk.firstForeignLine = lines;
    }
    ++lines;
    return chunk.firstBadLine == batch::kNoLine;
  });
  chunk.lines = lines;
  chunk.found = FoundIn(std::string_view(chunk.text.data(), chunk.text.size()));
}

// What a run does beyond the twelve columns; none of it in the usual run.
struct RunExtras {
  bool keepColumns = false;
  bool asciiOnly = false;  // the result's code page is not the input's
  bool figures = false;
};

// A result column as the file holds it.
struct ColumnTotals {
  std::uint64_t count = 0;
  ExactSum sum;
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();

  void Add(double value) {
    ++count;
    sum.Add(value);
    min = std::min(min, value);
    max = std::max(max, value);
  }
  void Add(const ColumnTotals& other) {
    count += other.count;
    sum.Add(other.sum);
    min = std::min(min, other.min);
    max = std::max(max, other.max);
  }
};

struct RunFigures {
  std::uint64_t computed = 0;
  std::uint64_t rowRejected = 0;
  std::uint64_t modelFailed = 0;
  std::array<ColumnTotals, 4> columns;
  bool keepDelayDamages = false;
  std::vector<double> delayDamages;

  void Add(const RunFigures& other) {
    computed += other.computed;
    rowRejected += other.rowRejected;
    modelFailed += other.modelFailed;
    for (std::size_t c = 0; c < columns.size(); ++c) columns[c].Add(other.columns[c]);
    delayDamages.insert(delayDamages.end(), other.delayDamages.begin(), other.delayDamages.end());
  }
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

// What the check or the run reports when something under it threw.
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

std::filesystem::path Absolute(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute;
}

}  // namespace

namespace {

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
  const std::size_t minimum = MinimumFields(mode);
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

BatchOutcome Run(const std::filesystem::path& input, const std::filesystem::path& output, Mode mode,
                 const CommonSettings& settings, const GapTable& table, Reporter& reporter, BatchProgress* progress,
                 const BatchOptions& options, BatchSummary* summary) {
  // Checked again here: the result replaces the output only at the end, but it
  // must never replace the input.
  if (input.native() == output.native() || platform::SameFile(input, output)) {
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
    summary->computed = figures.computed;
    summary->rowRejected = figures.rowRejected;
    summary->modelFailed = figures.modelFailed;
    summary->delayDamages = std::move(figures.delayDamages);
    for (std::size_t c = 0; c < summary->columns.size(); ++c) {
      const ColumnTotals& totals = figures.columns[c];
      ColumnFigures& column = summary->columns[c];
      column = {};
      column.count = totals.count;
      column.sum = totals.sum.Value();
      if (totals.count > 0) {
        column.min = totals.min;
        column.max = totals.max;
        column.mean = totals.sum.Mean(totals.count);
      }
    }
  }
  return BatchOutcome::Completed;
}

}  // namespace

// Whatever throws under the check or the run (memory, the digest, a hook)
// ends it with its own message; the files are closed and the temporary file
// removed on the way out.
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

BatchOutcome RunBatchCommand(const BatchCommand& command, CommonSettings& settings, GapTable& table,
                             Reporter& reporter, BatchProgress* progress, BatchSummary* summary) {
  if (!LoadGapTable(command.gapTableFile, table, reporter)) return BatchOutcome::Failed;
  // The table's digest as near its load as can be.
  std::optional<std::string> tableDigest;
  if (summary != nullptr) {
    try {
      tableDigest = Sha256OfFile(command.gapTableFile);
    } catch (...) {  // the digest itself failed, not the file
      reporter.error(FailureMessage(std::current_exception()));
      return BatchOutcome::Failed;
    }
  }
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
