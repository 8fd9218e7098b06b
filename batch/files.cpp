#include "batch/files.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "batch/messages.h"

namespace velmora::batch {
namespace fs = std::filesystem;

namespace {

ssize_t ReadSource(void* cookie, char* buffer, std::size_t size) {
  auto* source = static_cast<InputFile::Source*>(cookie);
  for (;;) {
    const ssize_t got = ::read(source->fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) source->bytesRead += static_cast<std::uint64_t>(got);
    return got;
  }
}

int CloseSource(void* cookie) {
  auto* source = static_cast<InputFile::Source*>(cookie);
  const int result = ::close(source->fd);
  source->fd = -1;
  return result;
}

}  // namespace

InputFile::~InputFile() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
  } else if (source_.fd >= 0) {
    ::close(source_.fd);
  }
}

bool InputFile::Open(const fs::path& path) {
  // The batch reads its input twice (check, then run), which only a regular
  // file allows: a pipe would be empty the second time. Opening without
  // blocking keeps a named pipe without a writer from hanging the program.
  source_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source_.fd < 0) return false;
  struct stat st {};
  if (::fstat(source_.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  bytesTotal_ = static_cast<std::uint64_t>(st.st_size);
  ::fcntl(source_.fd, F_SETFL, ::fcntl(source_.fd, F_GETFL) & ~O_NONBLOCK);
  // The stream counts what it reads, for progress.
  cookie_io_functions_t functions{};
  functions.read = ReadSource;
  functions.close = CloseSource;
  stream_ = ::fopencookie(&source_, "r", functions);
  if (stream_ == nullptr) return false;
  std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
  return true;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

ResultFile::~ResultFile() { Discard(); }

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
  static unsigned counter = 0;
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
  used_ = 0;
  failed_ = false;
  return true;
}

void ResultFile::WriteAll(const char* data, std::size_t size) {
  while (size > 0 && !failed_) {
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
}

void ResultFile::Flush() {
  if (fd_ >= 0 && used_ > 0) WriteAll(buffer_.data(), used_);
  used_ = 0;
}

void ResultFile::AppendSlow(const char* data, std::size_t size) {
  Flush();
  if (size <= buffer_.size()) {
    std::memcpy(buffer_.data(), data, size);
    used_ = size;
  } else {
    WriteAll(data, size);  // a very long echo goes straight through
  }
}

bool ResultFile::Commit() {
  if (fd_ < 0) return false;
  Flush();
  // A full disk may only show when the data reaches it.
  if (!failed_ && ::fsync(fd_) != 0 && errno != EINVAL) failed_ = true;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) failed_ = true;
  if (!failed_ && std::rename(temp_.c_str(), target_.c_str()) != 0) failed_ = true;
  if (failed_) {
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
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

const std::string& ResultHeaderCp932() {
  static const std::string header = [] {
    std::string out;
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    std::string in = msg::kResultHeader;
    std::string buffer(in.size() * 2, '\0');
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    if (::iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) && srcLeft == 0) {
      out.assign(buffer.data(), buffer.size() - dstLeft);
    }
    ::iconv_close(cd);
    return out;
  }();
  return header;
}

}  // namespace velmora::batch
