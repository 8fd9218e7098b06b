#pragma once
// The two files of a batch run, at the level of bytes and system calls: the
// only part of the batch that knows the operating system (files.cpp, POSIX).
#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace velmora::batch {

// An input file opened for reading. Closed by the destructor on every path.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { Close(); }

  // False unless the path names a regular file that can be opened.
  bool Open(const std::filesystem::path& path);
  // Up to `size` bytes: the count, 0 at the end, -1 on a read error.
  std::ptrdiff_t Read(char* into, std::size_t size);
  void Close();
  // The size when opened.
  std::uint64_t bytesTotal() const { return bytesTotal_; }

 private:
  int fd_ = -1;
  std::uint64_t bytesTotal_ = 0;
};

// Whether two paths name one file (same device and inode); false when either
// cannot be looked at.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The result file. Bytes go to a temporary file beside the file the output
// path finally names (through symbolic links) and take its place only on
// Commit; otherwise the destructor removes the temporary file and the earlier
// output stays as it was. Used by one thread at a time.
class ResultFile {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile() { Discard(); }

  // False when the output cannot be written: an existing output that is not a
  // regular file or is write-protected, a missing folder, no temporary file.
  bool Create(const std::filesystem::path& output);
  // Writes the bytes through; false once any write has failed.
  bool Write(const char* data, std::size_t size);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Everything on disk and the file closed; false, with the temporary file
  // removed, when any of it failed.
  bool Finish();
  // After Finish: takes the output's place. False, with the temporary file
  // removed, when it cannot.
  bool Commit();
  // Removes the temporary file; the output stays as it was.
  void Discard();

 private:
  int fd_ = -1;
  bool failed_ = false;
  bool finished_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t writtenBack_ = 0;  // handed to the disk before the final sync
  std::filesystem::path temp_;
  std::filesystem::path target_;
};

}  // namespace velmora::batch
