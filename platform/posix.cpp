// The batch's system calls on Linux and other POSIX systems.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/platform.h"

namespace velmora::platform {
namespace fs = std::filesystem;

namespace {
int Fd(File file) { return static_cast<int>(file); }
}  // namespace

// Paths are bytes here: a name that is no valid UTF-8 still names its file.
fs::path PathFromUtf8(std::string_view utf8) { return fs::path(std::string(utf8)); }
std::string Utf8FromPath(const fs::path& path) { return path.string(); }

std::FILE* OpenStream(const fs::path& path) { return std::fopen(path.c_str(), "rb"); }

std::string Utf8FromCp932(std::string_view cp932) {
  std::string out;
  const iconv_t converter = ::iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    for (const char c : cp932) out += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : "\xEF\xBF\xBD";
    return out;
  }
  std::string in(cp932);
  char* from = in.data();
  std::size_t left = in.size();
  char buffer[1024];
  while (left > 0) {
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = ::iconv(converter, &from, &left, &to, &room);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";  // not CP932 (or cut short): one byte replaced, the rest goes on
      ++from;
      --left;
    }
  }
  ::iconv_close(converter);
  return out;
}

File OpenInput(const fs::path& path, std::uint64_t& size) {
  // Opening without blocking keeps a named pipe without a writer from hanging
  // the program; only a regular file is kept.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Read from start to end once: let the system read ahead generously.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

std::ptrdiff_t Read(File file, char* into, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(Fd(file), into, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool SameFile(const fs::path& a, const fs::path& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileIdentity IdentifyFile(const fs::path& path) {
  FileIdentity id;
  fs::path target = path;
  for (int hops = 0; hops <= 40; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      std::error_code ec;
      const fs::path link = fs::read_symlink(target, ec);
      if (ec) return id;
      target = link.is_absolute() ? link : target.parent_path() / link;
      continue;
    }
    if (::stat(target.c_str(), &st) == 0) {
      id.known = id.exists = true;
      id.volume = static_cast<std::uint64_t>(st.st_dev);
      id.index = static_cast<std::uint64_t>(st.st_ino);
      return id;
    }
    // Not there yet: the folder it would be created in, and its name there.
    const fs::path name = target.filename();
    if (errno != ENOENT || name.empty() || name == "." || name == "..") return id;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return id;
    id.known = true;
    id.volume = static_cast<std::uint64_t>(st.st_dev);
    id.index = static_cast<std::uint64_t>(st.st_ino);
    id.name = name;
    return id;
  }
  return id;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.exists == b.exists && a.volume == b.volume && a.index == b.index &&
         a.name == b.name;
}

bool FindOutputPlace(const fs::path& output, OutputPlace& place) {
  // Follow symbolic links by hand, so that a link is replaced at its target
  // (and stays a link), a dangling one included.
  place = OutputPlace{output};
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(place.target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) {
      // Renaming over a folder, a device or a pipe would not write into it.
      if (!S_ISREG(st.st_mode)) return false;
      // A write-protected result file stays protected.
      if (::access(place.target.c_str(), W_OK) != 0) return false;
      place.exists = true;
      place.attributes = st.st_mode & 07777;
      return true;
    }
    std::error_code ec;
    const fs::path link = fs::read_symlink(place.target, ec);
    if (ec || hops == 40) return false;
    place.target = link.is_absolute() ? link : place.target.parent_path() / link;
  }
}

File CreateNew(const fs::path& path, bool& exists) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  exists = fd < 0 && errno == EEXIST;
  return fd < 0 ? kNoFile : fd;
}

// The replaced file's permissions, as emptying it would keep them.
void KeepAttributes(File file, const OutputPlace& place) {
  if (place.exists) ::fchmod(Fd(file), static_cast<mode_t>(place.attributes));
}

bool Write(File file, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(Fd(file), data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

void StartWriteBack([[maybe_unused]] File file, [[maybe_unused]] std::uint64_t from,
                    [[maybe_unused]] std::uint64_t size) {
#if defined(__linux__)
  ::sync_file_range(Fd(file), static_cast<off_t>(from), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
#endif
}

bool FlushToDisk(File file) { return ::fsync(Fd(file)) == 0 || errno == EINVAL; }

bool Close(File file) { return ::close(Fd(file)) == 0; }

bool Replace(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name on disk too, as the Windows commit writes through: a crash
  // soon after must not bring the earlier output back.
  const fs::path folder = to.parent_path().empty() ? fs::path(".") : to.parent_path();
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

void Remove(const fs::path& path) { ::unlink(path.c_str()); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

fs::path ProgramFolder() {
  std::error_code ec;
  const auto self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

fs::path UserSettingsFolder() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return fs::path(config) / "Velmora";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return fs::path(home) / ".config" / "Velmora";
  return {};
}

bool StandardErrorIsTerminal() { return ::isatty(2) == 1; }

}  // namespace velmora::platform
