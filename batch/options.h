#pragma once
// How a batch check and run work, and what the result file holds beyond the
// twelve columns. The defaults give the result file as it has always been.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace velmora {

// The code page of a result file. FromInput: UTF-8 (with a byte order mark)
// when the input starts with the UTF-8 byte order mark, or with kept columns
// when it is UTF-8 without the mark; CP932 otherwise.
enum class OutputEncoding { FromInput, Cp932, Utf8 };

struct BatchOptions {
  // Threads that work on the file, the calling thread included; 0: one per
  // core. 1 runs everything on the calling thread.
  unsigned threads = 0;
  // Input bytes per chunk of whole lines (a longer line makes its chunk
  // longer). Memory holds a few chunks per thread; tests use tiny ones.
  std::size_t chunkBytes = std::size_t{256} << 10;
  // Input bytes in memory at once, in chunks read and not yet written: no
  // chunk is read while this many are; so at most this plus one longest line
  // (and their results), however long the lines and however many threads.
  std::size_t bytesInFlight = std::size_t{64} << 20;
  // Each result line ends with the input line's own fields from the ninth on,
  // byte for byte, and the header with the input header's titles from the
  // ninth on (the header is then read, up to the longest line allowed).
  bool keepColumns = false;
  // Echoed bytes are never converted: a result in another code page than the
  // input's is refused by the check when an echoed field (or a kept title)
  // holds a byte outside ASCII.
  OutputEncoding encoding = OutputEncoding::FromInput;
  // What the check found, for the run (RunBatchCommand passes it on): the
  // input has no byte order mark, and its bytes outside ASCII are all UTF-8
  // sequences. With kept columns or a chosen encoding the input then counts
  // as UTF-8; otherwise the result is as it has always been.
  bool inputIsUtf8 = false;
  // With a summary: it also holds every DelayDamage value written (read back
  // from its text), for a histogram. Memory grows with the computed lines.
  bool keepDelayDamages = false;
  // Given, a run hands it the result's lines as written, block by block in
  // input order (one call at a time, on any of the run's threads), with the
  // file line number of the block's first line; batch/result_lines.h reads
  // them. What it gathered is the run's only when the run completes.
  std::function<void(std::uint64_t firstNumber, std::string_view block)> resultBlocks;
  // False: no result file at all (the output is only checked against the
  // input); the lines go to resultBlocks alone. For what is built from a run
  // and written elsewhere (scenarios).
  bool writeResultFile = true;
};

}  // namespace velmora
