#pragma once
// The two files of a batch run, at the level of bytes and system calls.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::batch {

// An input file opened for reading, with a count of the bytes taken from it so
// far (for progress). Closed by the destructor on every path.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // False unless the path names a regular file that can be opened.
  bool Open(const std::filesystem::path& path);
  std::FILE* stream() const { return stream_; }
  std::uint64_t bytesRead() const { return source_.bytesRead; }
  std::uint64_t bytesTotal() const { return bytesTotal_; }

  struct Source {
    int fd = -1;
    std::uint64_t bytesRead = 0;
  };

 private:
  Source source_;
  std::FILE* stream_ = nullptr;
  std::uint64_t bytesTotal_ = 0;
};

// Whether two paths name one file (same device and inode); false when either
// cannot be looked at.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The result file. Bytes go to a temporary file beside the file the output
// path finally names (through symbolic links) and take its place only on
// Commit; otherwise the destructor removes the temporary file and the earlier
// output stays as it was.
class ResultFile {
 public:
  ResultFile() : buffer_(kBufferSize) {}
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();

  // False when the output cannot be written: an existing output that is not a
  // regular file or is write-protected, a missing folder, no temporary file.
  bool Create(const std::filesystem::path& output);

  void Append(const char* data, std::size_t size) {
    if (size <= buffer_.size() - used_) {
      std::memcpy(buffer_.data() + used_, data, size);
      used_ += size;
    } else {
      AppendSlow(data, size);
    }
  }
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  // Room for at least `size` bytes at the end of the buffer; Advance() commits
  // what was written there.
  char* Reserve(std::size_t size) {
    if (size > buffer_.size() - used_) Flush();
    if (size > buffer_.size()) buffer_.resize(size);
    return buffer_.data() + used_;
  }
  void Advance(std::size_t size) { used_ += size; }

  // Whether every write so far succeeded.
  bool good() const { return !failed_; }
  // Writes what is buffered, closes, and renames over the output. False, with
  // the temporary file removed, when any of it failed.
  bool Commit();

 private:
  static constexpr std::size_t kBufferSize = 1 << 20;
  void AppendSlow(const char* data, std::size_t size);
  void Flush();
  void WriteAll(const char* data, std::size_t size);
  void Discard();

  std::vector<char> buffer_;
  std::size_t used_ = 0;
  int fd_ = -1;
  bool failed_ = false;
  std::filesystem::path temp_;
  std::filesystem::path target_;
};

// The result header in CP932, converted once.
const std::string& ResultHeaderCp932();

}  // namespace velmora::batch
