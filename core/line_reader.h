#pragma once
#include <cstddef>
#include <cstdio>
#include <functional>
#include <iosfwd>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The first CR or LF in [from, to), or `to`. Batch files are mostly short
// lines, so eight bytes are tested at a time.
std::size_t FindTerminator(const char* base, std::size_t from, std::size_t to);

// Reads a text file line by line as bytes, whatever its code page. A line ends
// at CR LF, at a lone CR or at a lone LF; a final terminator adds no line, so
// "a\r\n" is one line and "a\r\n\r\n" is two (the second empty). Memory holds
// one line at a time, however long the file, and never more than `maxLine`
// bytes of it: a longer line is no household and no table entry, and holding
// it could exhaust memory.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = std::size_t{128} << 20;

  explicit LineReader(std::FILE* file, std::size_t maxLine = kMaxLine)
      : file_(file), maxLine_(maxLine), buffer_(kChunk) {}
  // The same over a standard stream (a std::ifstream opened by path, which
  // takes the path as the system spells it); a read error is a failure, the
  // stream's bad().
  explicit LineReader(std::istream& stream, std::size_t maxLine = kMaxLine)
      : file_(nullptr), stream_(&stream), maxLine_(maxLine), buffer_(kChunk) {}

  // The next line without its terminator, valid until the next call. False at
  // the end of the file, on a read error and for a line longer than `maxLine`
  // (then failed() is true).
  bool Next(std::string_view& line);
  // Passes over the next line, whatever its length, without holding it (a
  // heading that is never read). False when there is no line.
  bool Skip();
  bool failed() const { return error_ || tooLong_; }
  // Sees every byte taken from the file, in order, as it is read (a digest
  // of exactly what was read, without reading the file twice).
  void SetObserver(std::function<void(const char*, std::size_t)> observer) { observer_ = std::move(observer); }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  bool Fill();
  void SkipLineFeed();

  std::FILE* file_;
  std::istream* stream_ = nullptr;
  std::function<void(const char*, std::size_t)> observer_;
  std::size_t maxLine_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool error_ = false;
  bool tooLong_ = false;
  bool skipLineFeed_ = false;  // the last line ended at a CR; a LF right after it belongs to it
};

}  // namespace velmora
