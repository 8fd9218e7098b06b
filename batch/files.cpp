#include "batch/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>

namespace velmora::batch {
namespace fs = std::filesystem;

void InputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool InputFile::Open(const fs::path& path) {
  Close();
  // The batch reads its input twice (check, then run), which only a regular
  // file allows: a pipe would be empty the second time. Opening without
  // blocking keeps a named pipe without a writer from hanging the program.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  bytesTotal_ = static_cast<std::uint64_t>(st.st_size);
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  // Read from start to end once: let the system read ahead generously.
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

std::ptrdiff_t InputFile::Read(char* into, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, into, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool SameFile(const fs::path& a, const fs::path& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool ResultFile::Create(const fs::path& output) {
  // Follow symbolic links by hand, so that a link is replaced at its target
  // (and stays a link), a dangling one included.
  fs::path target = output;
  bool exists = false;
  mode_t mode = 0;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      break;
    }
    if (!S_ISLNK(st.st_mode)) {
      // Renaming over a folder, a device or a pipe would not write into it.
      if (!S_ISREG(st.st_mode)) return false;
      // A write-protected result file stays protected.
      if (::access(target.c_str(), W_OK) != 0) return false;
      exists = true;
      mode = st.st_mode & 07777;
      break;
    }
    std::error_code ec;
    const fs::path link = fs::read_symlink(target, ec);
    if (ec || hops == 40) return false;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  if (target.filename().empty()) return false;

  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  static std::atomic<unsigned> counter{0};
  const auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Not derived from the output's name: a name near the 255-byte limit
    // would leave no room for a suffix.
    std::string name(".velmora-");
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string((seed + ++counter * 7919ULL) % 1000000007ULL);
    name += ".tmp";
    const fs::path candidate = folder / name;
    fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = candidate;
      break;
    }
    if (errno != EEXIST) return false;
  }
  if (fd_ < 0) return false;
  if (exists) ::fchmod(fd_, mode);  // the replaced file's permissions, as emptying it would keep them
  target_ = target;
  failed_ = false;
  finished_ = false;
  written_ = writtenBack_ = 0;
  return true;
}

bool ResultFile::Write(const char* data, std::size_t size) {
  while (size > 0 && !failed_) {
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      break;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
    written_ += static_cast<std::uint64_t>(done);
  }
#if defined(__linux__)
  // Start the disk on every few MiB now, while the threads compute, so that
  // the sync at the end (which no thread can share) has little left to do.
  constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
  if (!failed_ && written_ - writtenBack_ >= kWriteBackStep) {
    ::sync_file_range(fd_, static_cast<off_t>(writtenBack_), static_cast<off_t>(written_ - writtenBack_),
                      SYNC_FILE_RANGE_WRITE);
    writtenBack_ = written_;
  }
#endif
  return !failed_;
}

bool ResultFile::Finish() {
  if (fd_ < 0) return finished_;
  // A full disk may only show when the data reaches it.
  if (!failed_ && ::fsync(fd_) != 0 && errno != EINVAL) failed_ = true;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) failed_ = true;
  if (failed_) {
    Discard();
    return false;
  }
  finished_ = true;
  return true;
}

bool ResultFile::Commit() {
  if (!finished_ && !Finish()) return false;
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void ResultFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  finished_ = false;
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace velmora::batch
