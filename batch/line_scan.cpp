#include "batch/line_scan.h"

#include <cstdint>

namespace velmora::batch {

template <bool kAsciiOnly>
void CheckChunk(Chunk& chunk, std::size_t minimum, bool wholeLine) {
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
    return chunk.firstBadLine == kNoLine;
  });
  chunk.lines = lines;
}

template void CheckChunk<false>(Chunk&, std::size_t, bool);
template void CheckChunk<true>(Chunk&, std::size_t, bool);

void ScanChunk(Chunk& chunk, std::size_t minimum, bool wholeLine) {
  std::uint64_t lines = 0;
  ForEachLine(chunk, [&](std::string_view line) {
    if (CountFields(line, minimum) < minimum) {
      chunk.firstBadLine = lines;
      chunk.badReason = kTooFewFields;
    } else if (chunk.firstForeignLine == kNoLine && !IsAscii(wholeLine ? line : line.substr(0, EchoSize(line)))) {
      chunk.firstForeignLine = lines;
    }
    ++lines;
    return chunk.firstBadLine == kNoLine;
  });
  chunk.lines = lines;
  chunk.found = FoundIn(std::string_view(chunk.text.data(), chunk.text.size()));
}

}  // namespace velmora::batch
