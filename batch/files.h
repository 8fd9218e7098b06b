#pragma once
// The two files of a batch run, at the level of bytes. The system calls under
// them are platform/platform.h's, one source file per operating system.
#include <cstdint>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace velmora::batch {

// A file a run names: read (the input, the gap table) or written (the
// result, the summary, any other file a run writes).
struct RunFile {
  std::filesystem::path path;
  bool written = false;
};

// The first two of a run's files (their indexes, in list order) that name one
// file while at least one of them is written, however they are spelt: ./a
// and a, an absolute path, a symbolic link, a file that does not exist yet.
// Checked before anything is computed, so that no file of the run takes the
// place of another.
std::optional<std::pair<std::size_t, std::size_t>> FindSharedFile(std::span<const RunFile> files);

// Whether two paths name one file: equal texts, or two texts for one file
// (./a and a, a link), which replacing one would lose the other.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The path made absolute, as the summaries name their files; as given when
// it cannot be.
std::filesystem::path Absolute(const std::filesystem::path& path);

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
  platform::File file_ = platform::kNoFile;
  std::uint64_t bytesTotal_ = 0;
};

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
  // regular file, is write-protected or (Windows) is held open by another
  // program, a missing folder, no temporary file.
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
  platform::File file_ = platform::kNoFile;
  bool failed_ = false;
  bool finished_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t writtenBack_ = 0;  // handed to the disk before the final sync
  std::filesystem::path temp_;
  std::filesystem::path target_;
};

}  // namespace velmora::batch
