#include "line_reader.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <new>

namespace velmora {

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

// Moves the unread bytes to the front, grows the buffer when a line fills it,
// and reads more. False when nothing more can come.
bool LineReader::Fill() {
  if (eof_ || error_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) {
    try {
      buffer_.resize(buffer_.size() * 2);
    } catch (const std::bad_alloc&) {
      tooLong_ = true;  // the line does not fit in memory: refused like any over-long line
      return false;
    }
  }
  char* const into = buffer_.data() + end_;
  const std::size_t room = buffer_.size() - end_;
  std::size_t got = 0;
  if (stream_ != nullptr) {
    stream_->read(into, static_cast<std::streamsize>(room));
    got = static_cast<std::size_t>(stream_->gcount());
  } else {
    got = std::fread(into, 1, room, file_);
  }
  if (got > 0 && observer_) observer_(into, got);
  end_ += got;
  if (got == 0) {
    if (stream_ != nullptr ? stream_->bad() : std::ferror(file_) != 0) {
      error_ = true;
    } else {
      eof_ = true;
    }
    return false;
  }
  return true;
}

void LineReader::SkipLineFeed() {
  if (!skipLineFeed_) return;
  if (begin_ == end_) Fill();
  if (begin_ < end_ && buffer_[begin_] == '\n') ++begin_;
  skipLineFeed_ = false;
}

bool LineReader::Skip() {
  if (failed()) return false;
  SkipLineFeed();
  bool any = false;
  for (;;) {
    // A heading may be gigabytes long: the library's search is the fastest
    // pass over it, and each search here runs once per chunk.
    const char* base = buffer_.data();
    const void* lf = std::memchr(base + begin_, '\n', end_ - begin_);
    const std::size_t lfAt = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : end_;
    const void* cr = std::memchr(base + begin_, '\r', lfAt - begin_);
    const std::size_t i = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) : lfAt;
    if (i < end_) {
      skipLineFeed_ = buffer_[i] == '\r';
      begin_ = i + 1;
      return true;
    }
    any = any || begin_ < end_;
    begin_ = end_ = 0;  // nothing of this line is kept
    if (!Fill()) return !error_ && any;
  }
}

bool LineReader::Next(std::string_view& line) {
  if (failed()) return false;
  SkipLineFeed();
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
    if (end_ - begin_ > maxLine_) {
      tooLong_ = true;
      return false;
    }
    const std::size_t consumed = begin_;
    scanned = end_;
    if (!Fill()) {
      if (failed()) return false;
      if (begin_ == end_) return false;
      line = std::string_view(buffer_.data() + begin_, end_ - begin_);
      begin_ = end_;
      return true;
    }
    scanned -= consumed;  // Fill moved the unread bytes to the front
  }
}

}  // namespace velmora
