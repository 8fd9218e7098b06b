// The whole batch run on arbitrary input bytes, in both modes: the file check
// and the run must agree with the lines of the input, and the result file must
// keep its shape whatever the input holds.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "core/number_text.h"
#include "fuzz_common.h"
#include "../tests/hostile/result_header.h"

using namespace velmora;

namespace {

// Lines as the program must see them: CR LF, a lone CR or a lone LF ends a
// line, and a final terminator adds none.
std::vector<std::string_view> Lines(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') continue;
    out.push_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) out.push_back(s.substr(start));
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const auto comma = line.find(',', start);
    if (comma == std::string_view::npos) break;
    out.push_back(line.substr(start, comma - start));
    start = comma + 1;
  }
  out.push_back(line.substr(start));
  return out;
}

std::string ReadAll(const std::filesystem::path& p) {
  std::string out;
  std::FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) fuzz::Fail("result file missing after a completed run");
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

const GapTable& Table() {
  static const GapTable table = [] {
    GapTable t;
    fuzz::CountingReporter r;
    if (!LoadGapTable(VELMORA_EXAMPLE_GAP_TABLE, t, r)) fuzz::Fail("example gap table does not load");
    return t;
  }();
  return table;
}

void RunMode(Mode mode, const std::filesystem::path& input, std::string_view bytes) {
  const auto output = fuzz::ScratchDir() / "result.csv";
  std::filesystem::remove(output);
  CommonSettings settings;
  fuzz::CountingReporter reporter;
  if (!CheckCommonSettings({"0.610", "0.025", "0.040", "3.140"}, mode, settings, reporter)) fuzz::Fail("defaults");

  const auto lines = Lines(bytes);
  const std::size_t minimum = mode == Mode::WithRiskPremium ? 8 : 7;
  bool enoughFields = !lines.empty();
  for (std::size_t i = 1; i < lines.size(); ++i)
    enoughFields = enoughFields && !lines[i].empty() && Fields(lines[i]).size() >= minimum;
  const bool checked = CheckBatchFiles(input, output, mode, reporter);
  VELMORA_CHECK(checked == enoughFields);
  VELMORA_CHECK(reporter.errors == (checked ? 0 : 1));

  fuzz::CountingReporter runReporter;
  const BatchOutcome outcome = RunBatch(input, output, mode, settings, Table(), runReporter);
  // A regular file that can be read always runs to the end, good lines or not.
  VELMORA_CHECK(outcome == BatchOutcome::Completed);
  VELMORA_CHECK(runReporter.errors == 0 && runReporter.infos == 0);

  const std::string result = ReadAll(output);
  VELMORA_CHECK(result.compare(0, test::kResultHeaderLine.size(), test::kResultHeaderLine) == 0);
  std::string_view rest = std::string_view(result).substr(test::kResultHeaderLine.size());
  const std::size_t dataLines = lines.empty() ? 0 : lines.size() - 1;
  std::size_t written = 0;
  while (!rest.empty()) {
    const auto end = rest.find("\r\n");
    VELMORA_CHECK(end != std::string_view::npos);  // every line ends in CR LF
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 2);
    VELMORA_CHECK(written < dataLines);
    VELMORA_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    const auto fields = Fields(line);
    VELMORA_CHECK(fields.size() == 12);
    // The echo: the input's first eight fields, untouched.
    std::string padded(lines[written + 1]);
    padded += ",,,,,,,";
    const auto inputFields = Fields(padded);
    for (std::size_t i = 0; i < 8; ++i) VELMORA_CHECK(fields[i] == inputFields[i]);
    // Results: empty, or finite number texts in the shape of the mode.
    int numbers = 0;
    for (std::size_t i = 8; i < 12; ++i) {
      if (fields[i].empty()) continue;
      float v = 0.0f;
      VELMORA_CHECK(TextToNumber(fields[i], v));
      VELMORA_CHECK(std::isfinite(v));
      ++numbers;
    }
    if (mode == Mode::WithRiskPremium) {
      VELMORA_CHECK(numbers == 0 || numbers == 4);
    } else {
      VELMORA_CHECK(fields[8].empty() && fields[9].empty() && fields[10].empty());
    }
    ++written;
  }
  VELMORA_CHECK(written == dataLines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzz::WriteScratch("input.csv", data, size);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RunMode(Mode::WithoutRiskPremium, input, bytes);
  RunMode(Mode::WithRiskPremium, input, bytes);
  // Nothing but the two files: no temporary result left behind.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(fuzz::ScratchDir())) ++entries;
  VELMORA_CHECK(entries == 2);
  return 0;
}
