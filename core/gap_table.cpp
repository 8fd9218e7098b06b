#include "gap_table.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <string_view>

#include "line_reader.h"
#include "messages.h"
#include "number_text.h"

namespace velmora {
namespace {

// One entry line; false when the line cannot be used.
bool ReadEntry(std::string_view line, int& key, float& value) {
  const auto comma = line.find(',');
  if (comma == std::string_view::npos) return false;
  const std::string_view gapText = line.substr(0, comma);
  std::string_view valueText = line.substr(comma + 1);
  valueText = valueText.substr(0, valueText.find(','));
  double gap = 0.0;
  if (!TextToNumber(gapText, gap) || !TextToNumber(valueText, value)) return false;
  const double scaled = std::nearbyint(gap * 10.0);  // halves to even
  if (scaled < GapTable::kMinKey || scaled > GapTable::kMaxKey) return false;
  key = static_cast<int>(scaled);
  return true;
}

}  // namespace

bool LoadGapTable(const std::filesystem::path& file, GapTable& table, Reporter& reporter) {
  return LoadGapTable(file, table, reporter, {});
}

bool LoadGapTable(const std::filesystem::path& file, GapTable& table, Reporter& reporter,
                  const std::function<void(const char*, std::size_t)>& onBytes) {
  // Opened by the path itself, which is UTF-16 on Windows (fopen would take
  // the ANSI code page).
  std::ifstream stream(file, std::ios::binary);
  bool failed = !stream.is_open();
  if (!failed) {
    LineReader reader(stream);
    if (onBytes) reader.SetObserver(onBytes);
    std::string_view line;
    if (!reader.Next(line)) {
      failed = true;  // not even a heading
    } else {
      while (reader.Next(line)) {
        int key = 0;
        float value = 0.0f;
        if (ReadEntry(line, key, value)) {
          table.at(key) = value;
        } else {
          failed = true;
        }
      }
    }
    failed = failed || reader.failed();
  }
  if (failed) reporter.error(msg::kGapTableUnreadable);
  return !failed;
}

float GapLookup(const GapTable& table, float gap) {
  if (!(gap <= 100.0f && gap >= -20.0f)) return 0.0f;
  const double key = std::nearbyint(static_cast<double>(gap) * 10.0);
  return table.at(static_cast<int>(key));
}

}  // namespace velmora
