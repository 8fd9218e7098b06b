// velmora._engine: the engine under the Python module (python/velmora). The
// calculation runs on columns of singles without the interpreter's lock; the
// texts, messages and files are those of velmora-batch.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "batch/batch.h"
#include "batch/explain_row.h"
#include "batch/files.h"
#include "batch/gap_table_search.h"
#include "batch/messages.h"
#include "platform/platform.h"
#include "batch/row.h"
#include "batch/summary.h"
#include "core/gap_table.h"
#include "core/line_reader.h"
#include "core/messages.h"
#include "core/models.h"
#include "core/number_text.h"
#include "core/version.h"
#include "input/checks.h"

namespace py = pybind11;

namespace velmora {
namespace {

// The first error a step reported; the completion notes are not kept.
class FirstError : public Reporter {
 public:
  void error(std::string_view message) override {
    if (!failed) text = std::string(message);
    failed = true;
  }
  void info(std::string_view) override {}
  bool failed = false;
  std::string text;
};

// Which Python exception a message of the tool becomes: files that cannot be
// read or written are OSError, everything the user gave wrongly ValueError.
[[noreturn]] void Raise(const std::string& message) {
  const bool os = message.rfind(msg::kGapTableUnreadable, 0) == 0 || message == msg::kInputUnreadable ||
                  message == msg::kOutputUnwritable || message == msg::kSummaryUnwritable;
  PyErr_SetString(os ? PyExc_OSError : PyExc_ValueError, message.c_str());
  throw py::error_already_set();
}

Mode ModeOf(bool withRiskPremium) { return withRiskPremium ? Mode::WithRiskPremium : Mode::WithoutRiskPremium; }

std::filesystem::path PathOf(const std::string& utf8) { return platform::PathFromUtf8(utf8); }

// Where the installed tool would be, relative to this module: the table is
// looked for as velmora-batch looks for it (beside the program, the user's
// own, the installed example), so that both find the same file.
std::filesystem::path ProgramFolder() {
  const std::filesystem::path module = platform::ModuleFile();
  if (module.empty()) return {};
  return (module.parent_path() / VELMORA_MODULE_TO_BINDIR).lexically_normal();
}

// The texts the tool's check reads, as std::string_views into `texts`.
CommonSettingTexts Views(const std::array<std::string, 4>& texts) {
  return {texts[0], texts[1], texts[2], texts[3]};
}

// Table and settings, as every command of the tool takes them; raises with
// the tool's message. Runs with the interpreter's lock.
struct Prepared {
  GapTable table;
  std::filesystem::path tableFile;
  CommonSettings settings;
};

void Prepare(const std::optional<std::string>& gapTable, Mode mode, const std::array<std::string, 4>& texts,
             Prepared& p) {
  FirstError reporter;
  if (gapTable) {
    p.tableFile = PathOf(*gapTable);
  } else if (!LocateGapTable(ProgramFolder(), UserSettingsFolder(), p.tableFile, reporter)) {
    Raise(reporter.text);
  }
  if (!LoadGapTable(p.tableFile, p.table, reporter)) Raise(reporter.text);
  if (!CheckCommonSettings(Views(texts), mode, p.settings, reporter)) Raise(reporter.text);
  p.tableFile = batch::Absolute(p.tableFile);
}

// A column of singles, read in place: any stride, so that a field of a
// structured array is no copy either.
struct Column {
  const char* base = nullptr;
  py::ssize_t stride = 0;
  float at(py::ssize_t row) const {
    float value;
    std::memcpy(&value, base + row * stride, sizeof value);
    return value;
  }
};

// Why one household was not computed, as --explain says it.
struct Refusal {
  py::ssize_t row;
  std::string why;
};

// Rows [begin, end): the row check and the model of the mode, as the batch
// computes one line. Not-computed rows get NaN and their reason.
void ComputeRows(const std::array<Column, 8>& columns, std::size_t held, py::ssize_t begin, py::ssize_t end, Mode mode,
                 const std::array<std::string, 4>& texts, const Prepared& p, const std::array<float*, 4>& out,
                 std::vector<Refusal>& refusals) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  const bool withPremium = mode == Mode::WithRiskPremium;
  HouseholdInput household;
  ModelResult result;
  RowRejection why;
  std::array<float, 8> values{};
  values.fill(kNaN);
  for (py::ssize_t row = begin; row < end; ++row) {
    for (std::size_t k = 0; k < held; ++k) values[k] = columns[k].at(row);
    bool computed = CheckHouseholdValues(values, mode, household, &why);
    if (computed) {
      computed = withPremium ? ComputeWithRiskPremium(household, p.settings, p.table, result)
                             : ComputeWithoutRiskPremium(household, p.settings, p.table, result);
    }
    if (computed) {
      out[0][row] = withPremium ? result.PreferenceFactor : kNaN;
      out[1][row] = withPremium ? result.WillingnessToPay : kNaN;
      out[2][row] = withPremium ? result.OptimalCoverage : kNaN;
      out[3][row] = result.DelayDamage;
      continue;
    }
    for (float* column : out) column[row] = kNaN;
    if (!CheckHouseholdValues(values, mode, household, &why)) {
      Explanation e;
      e.rejected = why;
      refusals.push_back({row, ExplanationFailure(e)});
    } else {
      // The trace finds the step; only for the rare household that fails.
      const Explanation e = ExplainHousehold(household, mode, Views(texts), p.settings, p.table, p.tableFile);
      refusals.push_back({row, ExplanationFailure(e)});
    }
  }
}

py::tuple Compute(const std::vector<py::object>& columnObjects, py::ssize_t rows, bool withRiskPremium,
                  const std::array<std::string, 4>& texts, const std::optional<std::string>& gapTable,
                  unsigned threads) {
  const Mode mode = ModeOf(withRiskPremium);
  Prepared p;
  Prepare(gapTable, mode, texts, p);
  if (columnObjects.size() < 7 || columnObjects.size() > 8) throw py::value_error("7 or 8 columns");
  // The arrays stay referenced here while the lock is released.
  std::vector<py::array_t<float>> arrays;
  std::array<Column, 8> columns{};
  for (std::size_t k = 0; k < columnObjects.size(); ++k) {
    if (!py::isinstance<py::array_t<float>>(columnObjects[k])) {
      throw py::value_error("column " + std::to_string(k + 1) + " is not a float32 array");
    }
    auto array = py::reinterpret_borrow<py::array_t<float>>(columnObjects[k]);
    if (array.ndim() != 1 || array.shape(0) != rows) {
      throw py::value_error("column " + std::to_string(k + 1) + " is not 1-D of " + std::to_string(rows) + " rows");
    }
    columns[k] = {reinterpret_cast<const char*>(array.data()), array.strides(0)};
    arrays.push_back(std::move(array));
  }
  const std::size_t held = columnObjects.size();
  if (held < 8 && mode == Mode::WithRiskPremium) throw py::value_error("mode 1 reads eight columns");

  std::array<py::array_t<float>, 4> results = {py::array_t<float>(rows), py::array_t<float>(rows),
                                               py::array_t<float>(rows), py::array_t<float>(rows)};
  std::array<float*, 4> out{};
  for (std::size_t c = 0; c < 4; ++c) out[c] = results[c].mutable_data();

  const unsigned workers =
      static_cast<unsigned>(std::max<py::ssize_t>(1, std::min<py::ssize_t>(BatchThreads(threads), rows / 4096 + 1)));
  std::vector<std::vector<Refusal>> refusals(workers);
  std::vector<std::exception_ptr> failures(workers);
  {
    py::gil_scoped_release unlocked;
    // Each row depends on nothing but itself: any split gives the same bits.
    const auto part = [&](unsigned w) {
      const py::ssize_t begin = rows * w / workers;
      const py::ssize_t end = rows * (w + 1) / workers;
      try {
        ComputeRows(columns, held, begin, end, mode, texts, p, out, refusals[w]);
      } catch (...) {
        failures[w] = std::current_exception();  // memory, raised once all have ended
      }
    };
    std::vector<std::thread> helpers;
    for (unsigned w = 1; w < workers; ++w) {
      try {
        helpers.emplace_back(part, w);
      } catch (const std::system_error&) {
        part(w);  // the system gives no more threads: this one does the part
      }
    }
    part(0);
    for (auto& helper : helpers) helper.join();
  }
  for (const auto& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  py::list reasons;
  for (const auto& part : refusals) {
    for (const Refusal& r : part) reasons.append(py::make_tuple(r.row, py::str(r.why)));
  }
  return py::make_tuple(py::make_tuple(results[0], results[1], results[2], results[3]), reasons);
}

// Where the first eight fields of a split line end (the line's own eighth
// comma follows when it has more); a field the line lacks has no place in it.
std::size_t EchoSize(std::string_view line, const std::array<std::string_view, batch::kEchoFields>& fields,
                     std::size_t held) {
  return static_cast<std::size_t>(fields[held - 1].data() + fields[held - 1].size() - line.data());
}

// The input file as the tool reads it: its file checks first (for the mode),
// then every data line split as the batch splits it, the eight fields as
// singles (NaN for a field that is not a number) and the rest as bytes.
py::dict ReadCsv(const std::string& input, bool withRiskPremium) {
  const std::filesystem::path path = PathOf(input);
  FirstError reporter;
  // The check needs an output name only to refuse the input's own.
  std::filesystem::path unused = path;
  unused += ".velmora-read";
  bool checked = false;
  {
    py::gil_scoped_release unlocked;
    checked = CheckBatchFiles(path, unused, ModeOf(withRiskPremium), reporter);
  }
  if (!checked) Raise(reporter.text);

  std::vector<std::array<float, 8>> values;
  std::vector<std::vector<std::string>> rest;
  std::string header;
  bool utf8 = false;
  bool readFailed = false;
  {
    py::gil_scoped_release unlocked;
    // The check has found a regular file whose every line fits; the batch's
    // line ends (CR LF, CR, LF; no line after a final terminator).
    std::FILE* stream = platform::OpenStream(path);
    {
      if (stream == nullptr) {
        readFailed = true;
      } else {
        LineReader reader(stream);
        std::string_view line;
        if (reader.Next(line)) {
          header = std::string(line);
          if (header.rfind("\xEF\xBB\xBF", 0) == 0) {
            utf8 = true;
            header.erase(0, 3);
          }
          std::array<std::string_view, batch::kEchoFields> fields;
          while (reader.Next(line)) {
            const std::size_t held = batch::SplitEight(line, fields);
            std::array<float, 8> v{};
            for (std::size_t k = 0; k < 8; ++k) {
              if (!TextToNumber(fields[k], v[k])) v[k] = std::numeric_limits<float>::quiet_NaN();
            }
            values.push_back(v);
            std::vector<std::string> more;
            const std::size_t echo = EchoSize(line, fields, held);
            if (echo < line.size()) {
              std::string_view tail = line.substr(echo + 1);
              for (;;) {
                const std::size_t comma = tail.find(',');
                more.emplace_back(tail.substr(0, comma));
                if (comma == std::string_view::npos) break;
                tail.remove_prefix(comma + 1);
              }
            }
            rest.push_back(std::move(more));
          }
        }
        readFailed = reader.failed();
        std::fclose(stream);
      }
    }
  }
  if (readFailed) Raise(msg::kInputUnreadable);

  const auto rows = static_cast<py::ssize_t>(values.size());
  py::list columns;
  for (std::size_t k = 0; k < 8; ++k) {
    py::array_t<float> column(rows);
    float* out = column.mutable_data();
    for (py::ssize_t r = 0; r < rows; ++r) out[r] = values[static_cast<std::size_t>(r)][k];
    columns.append(column);
  }
  py::list more;
  for (const auto& fields : rest) {
    py::list line;
    for (const auto& field : fields) line.append(py::bytes(field));
    more.append(line);
  }
  // The titles from the ninth on, as --keep-columns keeps them.
  py::list titles;
  {
    std::array<std::string_view, batch::kEchoFields> fields;
    const std::string_view h(header);
    const std::size_t held = batch::SplitEight(h, fields);
    const std::size_t echo = EchoSize(h, fields, held);
    if (echo < h.size()) {
      std::string_view tail = h.substr(echo + 1);
      for (;;) {
        const std::size_t comma = tail.find(',');
        titles.append(py::bytes(std::string(tail.substr(0, comma))));
        if (comma == std::string_view::npos) break;
        tail.remove_prefix(comma + 1);
      }
    }
  }
  py::dict answer;
  answer["values"] = columns;
  answer["rest"] = more;
  answer["titles"] = titles;
  answer["utf8"] = utf8;
  return answer;
}

// Ctrl+C (KeyboardInterrupt) cancels a run as it cancels velmora-batch: the
// engine asks between blocks of lines, on the calling thread.
class InterruptibleProgress : public BatchProgress {
 public:
  bool lineDone(std::uint64_t, std::uint64_t, std::uint64_t) override {
    py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() == 0) return true;
    interrupted = true;  // the exception stays set for the caller
    return false;
  }
  bool interrupted = false;
};

// The tool's batch command, as velmora-batch runs it; the summary's JSON.
std::string RunCsv(const std::string& input, const std::string& output, bool withRiskPremium,
                   const std::array<std::string, 4>& texts, const std::optional<std::string>& gapTable,
                   unsigned threads, bool keepColumns, const std::string& encoding) {
  BatchCommand command;
  command.input = PathOf(input);
  command.output = PathOf(output);
  command.mode = ModeOf(withRiskPremium);
  command.settingTexts = Views(texts);
  command.options.threads = threads;
  command.options.keepColumns = keepColumns;
  if (encoding == "cp932") {
    command.options.encoding = OutputEncoding::Cp932;
  } else if (encoding == "utf-8") {
    command.options.encoding = OutputEncoding::Utf8;
  }
  FirstError reporter;
  if (gapTable) {
    command.gapTableFile = PathOf(*gapTable);
  } else if (!LocateGapTable(ProgramFolder(), UserSettingsFolder(), command.gapTableFile, reporter)) {
    Raise(reporter.text);
  }
  CommonSettings settings;
  GapTable table;
  BatchSummary summary;
  BatchOutcome outcome;
  InterruptibleProgress progress;
  {
    py::gil_scoped_release unlocked;
    outcome = RunBatchCommand(command, settings, table, reporter, &progress, &summary);
  }
  if (progress.interrupted) throw py::error_already_set();
  if (outcome != BatchOutcome::Completed) Raise(reporter.text);
  return BatchSummaryJson(summary);
}

void WriteSummary(const std::string& file, const std::string& json) {
  batch::ResultFile out;
  if (!out.Create(PathOf(file)) || !out.Write(json) || !out.Commit()) Raise(msg::kSummaryUnwritable);
}

std::string Explain(const std::string& row, bool withRiskPremium, const std::array<std::string, 4>& texts,
                    const std::optional<std::string>& gapTable) {
  const Mode mode = ModeOf(withRiskPremium);
  Prepared p;
  Prepare(gapTable, mode, texts, p);
  return ExplanationJson(ExplainRow(row, mode, Views(texts), p.settings, p.table, p.tableFile));
}

// Singles from a column of objects, each as the tool reads a field: a text
// (str or bytes) by the tool's conversion, a number rounded once, anything
// else (None, a text that is not a number) NaN.
py::array_t<float> SinglesFromObjects(const py::array& objects) {
  const py::ssize_t rows = objects.shape(0);
  py::array_t<float> singles(rows);
  float* out = singles.mutable_data();
  py::ssize_t row = 0;
  for (const py::handle item : objects) {
    float value = std::numeric_limits<float>::quiet_NaN();
    if (PyUnicode_Check(item.ptr())) {
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(item.ptr(), &size);
      if (text == nullptr) throw py::error_already_set();
      if (!TextToNumber(std::string_view(text, static_cast<std::size_t>(size)), value)) {
        value = std::numeric_limits<float>::quiet_NaN();
      }
    } else if (PyBytes_Check(item.ptr())) {
      if (!TextToNumber(std::string_view(PyBytes_AS_STRING(item.ptr()),
                                         static_cast<std::size_t>(PyBytes_GET_SIZE(item.ptr()))),
                        value)) {
        value = std::numeric_limits<float>::quiet_NaN();
      }
    } else if (!item.is_none() && !PyBool_Check(item.ptr())) {
      const double number = PyFloat_AsDouble(item.ptr());
      if (number == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
      } else {
        value = static_cast<float>(number);
      }
    }
    out[row++] = value;
  }
  return singles;
}

// The result header's twelve titles, UTF-8.
std::vector<std::string> HeaderTitles() {
  std::vector<std::string> titles;
  std::string_view header = msg::kResultHeader;
  for (;;) {
    const std::size_t comma = header.find(',');
    titles.emplace_back(header.substr(0, comma));
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return titles;
}

}  // namespace
}  // namespace velmora

PYBIND11_MODULE(_engine, m) {
  using namespace velmora;
  m.doc() = "The Velmora engine under the velmora module; use velmora, not this.";
  m.attr("version") = kVersion;
  m.attr("header_titles") = HeaderTitles();
  m.def("compute", &Compute, py::arg("columns"), py::arg("rows"), py::arg("with_risk_premium"), py::arg("settings"),
        py::arg("gap_table"), py::arg("threads"));
  m.def("singles_from_objects", &SinglesFromObjects, py::arg("objects"));
  m.def("read_csv", &ReadCsv, py::arg("path"), py::arg("with_risk_premium"));
  m.def("run_csv", &RunCsv, py::arg("input"), py::arg("output"), py::arg("with_risk_premium"), py::arg("settings"),
        py::arg("gap_table"), py::arg("threads"), py::arg("keep_columns"), py::arg("encoding"));
  m.def("write_summary", &WriteSummary, py::arg("file"), py::arg("json"));
  m.def("explain", &Explain, py::arg("row"), py::arg("with_risk_premium"), py::arg("settings"),
        py::arg("gap_table"));
  m.def("same_file", [](const std::string& a, const std::string& b) {
    return batch::SameFile(PathOf(a), PathOf(b));
  });
}
