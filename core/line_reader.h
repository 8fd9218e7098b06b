#pragma once
#include <cstdio>
#include <string_view>
#include <vector>

namespace velmora {

// Reads a text file line by line as bytes, whatever its code page. A line ends
// at CR LF, at a lone CR or at a lone LF; a final terminator adds no line, so
// "a\r\n" is one line and "a\r\n\r\n" is two (the second empty). Memory holds
// one line at a time, however long the file.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file), buffer_(kChunk) {}

  // The next line without its terminator, valid until the next call. False at
  // the end of the file or on a read error (then failed() is true).
  bool Next(std::string_view& line);
  bool failed() const { return error_; }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  bool Fill();

  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool error_ = false;
  bool skipLineFeed_ = false;  // the last line ended at a CR; a LF right after it belongs to it
};

}  // namespace velmora
