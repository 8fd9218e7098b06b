#pragma once
// The batch's scanning of an input's lines, as the check and the run cut and
// read them. Internal to the engine (and to what reads its chunks again);
// what runs once per line stays inline, since it runs billions of times.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "batch/pipeline.h"
#include "batch/row.h"
#include "core/line_reader.h"
#include "core/records.h"

namespace velmora::batch {

// Fields of a line, counting only up to `enough`: commas plus one, and 0 for
// an empty line. Fields are short, so a plain scan beats memchr per field.
inline std::size_t CountFields(std::string_view line, std::size_t enough) {
  if (line.empty()) return 0;
  std::size_t count = 1;
  for (const char c : line) {
    if (c == ',' && ++count >= enough) break;
  }
  return count;
}

inline bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What a scan finds in an input's bytes (Chunk::found).
enum Found : unsigned { kFoundNonAscii = 1, kFoundNotUtf8 = 2 };

inline unsigned FoundIn(std::string_view bytes) {
  if (IsAscii(bytes)) return 0;
  return kFoundNonAscii | (IsUtf8(bytes) ? 0u : unsigned{kFoundNotUtf8});
}

// UTF-8 without the mark: something outside ASCII, and all of it UTF-8.
inline bool FoundUtf8(unsigned found) { return found == kFoundNonAscii; }

// What the check or the run found wrong with Chunk::firstBadLine.
enum BadLine { kTooFewFields = 0, kNotAscii = 1 };

// The part of a line (or of the header) that the result echoes: up to the
// end of its eighth field. The rest, from the eighth comma on, is the line's
// own fields from the ninth on.
inline std::size_t EchoSize(std::string_view line) {
  std::array<std::string_view, kEchoFields> fields;
  const std::size_t held = SplitEight(line, fields);
  return static_cast<std::size_t>(fields[held - 1].data() + fields[held - 1].size() - line.data());
}

// Calls `line` for every line of a chunk until it answers false. Lines end
// at CR LF, a lone CR or a lone LF; only the file's last line may end at the
// end of the chunk.
template <class Line>
void ForEachLine(const Chunk& chunk, Line&& line) {
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

// The check's work: counts the lines and finds the first one short of fields
// (and, with kAsciiOnly, the first whose echo, or whole line when `wholeLine`,
// holds a byte outside ASCII).
template <bool kAsciiOnly>
void CheckChunk(Chunk& chunk, std::size_t minimum, bool wholeLine);
extern template void CheckChunk<false>(Chunk&, std::size_t, bool);
extern template void CheckChunk<true>(Chunk&, std::size_t, bool);

// The check's work when the input's code page is to be found (no byte order
// mark, and kept columns or a chosen code page): the first line short of
// fields stops the check; the first line whose echo (or whole line when
// `wholeLine`) holds a byte outside ASCII is only noted, since whether it
// may be written is known at the end of the file.
void ScanChunk(Chunk& chunk, std::size_t minimum, bool wholeLine);

}  // namespace velmora::batch
