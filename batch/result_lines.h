#pragma once
// The result file's lines as a run writes them, for what is built from a run
// besides the file (a map, scenarios): the same bytes, read back, so that
// whatever follows agrees with the file to the digit.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora::batch {

// The twelve columns: the eight echoed fields, then the four results.
inline constexpr std::size_t kResultColumns = 12;

struct ResultLine {
  std::uint64_t number = 0;  // in the file, the header being 1
  std::string_view text;     // the whole line, without its CR LF
  // As written: the echo, then the results (empty when there is none).
  std::array<std::string_view, kResultColumns> fields;
  // The kept fields from the ninth on of the input line, without the comma
  // before them; empty without kept columns.
  std::string_view kept;
  // Mode 0 writes the delay damage alone; a line that could not be computed
  // has no result at all.
  bool computed() const { return !fields[kResultColumns - 1].empty(); }
};

// Calls `each(const ResultLine&)` for every CR LF-ended line of `block` (a
// run's lines, see BatchOptions::resultBlocks), numbering them from
// `firstNumber`; stops when it answers false, and answers whether it went
// through.
template <typename Each>
bool ForEachResultLine(std::string_view block, std::uint64_t firstNumber, Each&& each) {
  ResultLine line;
  line.number = firstNumber;
  while (!block.empty()) {
    const std::size_t end = block.find("\r\n");
    line.text = block.substr(0, end);
    block.remove_prefix(end == std::string_view::npos ? block.size() : end + 2);
    std::string_view rest = line.text;
    for (std::size_t i = 0; i < kResultColumns; ++i) {
      const std::size_t comma = rest.find(',');
      line.fields[i] = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    line.kept = rest;
    if (!each(static_cast<const ResultLine&>(line))) return false;
    ++line.number;
  }
  return true;
}

}  // namespace velmora::batch
