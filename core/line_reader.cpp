#include "line_reader.h"

#include <cstdint>
#include <cstring>

namespace velmora {
namespace {

// Index of the first CR or LF in [from, to), or `to`. Batch files are mostly
// short lines, so eight bytes are tested at a time before the exact byte is
// looked for.
std::size_t FindTerminator(const char* base, std::size_t from, std::size_t to) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  std::size_t i = from;
  for (; i + 8 <= to; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, base + i, 8);
    const std::uint64_t lf = word ^ (kOnes * '\n');
    const std::uint64_t cr = word ^ (kOnes * '\r');
    if ((((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHighs) break;
  }
  for (; i < to; ++i) {
    if (base[i] == '\n' || base[i] == '\r') return i;
  }
  return to;
}

}  // namespace

// Moves the unread bytes to the front, grows the buffer when a line fills it,
// and reads more. False when nothing more can come.
bool LineReader::Fill() {
  if (eof_ || error_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  end_ += got;
  if (got == 0) {
    if (std::ferror(file_)) {
      error_ = true;
    } else {
      eof_ = true;
    }
    return false;
  }
  return true;
}

bool LineReader::Next(std::string_view& line) {
  if (error_) return false;
  if (skipLineFeed_) {
    if (begin_ == end_) Fill();
    if (begin_ < end_ && buffer_[begin_] == '\n') ++begin_;
    skipLineFeed_ = false;
  }
  std::size_t scanned = begin_;
  for (;;) {
    const char* base = buffer_.data();
    const std::size_t i = FindTerminator(base, scanned, end_);
    if (i < end_) {
      const char c = base[i];
      line = std::string_view(base + begin_, i - begin_);
      begin_ = i + 1;
      skipLineFeed_ = c == '\r';
      return true;
    }
    const std::size_t consumed = begin_;
    scanned = end_;
    if (!Fill()) {
      if (error_) return false;
      if (begin_ == end_) return false;
      line = std::string_view(buffer_.data() + begin_, end_ - begin_);
      begin_ = end_;
      return true;
    }
    scanned -= consumed;  // Fill moved the unread bytes to the front
  }
}

}  // namespace velmora
