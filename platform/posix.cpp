// The system calls on Linux and other POSIX systems.
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/platform.h"
#include "platform/sha256.h"

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

namespace {

// The whole text through iconv; false on any byte it cannot convert.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = result.data();
  std::size_t dstLeft = result.size();
  const std::size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  const bool ok = done != static_cast<std::size_t>(-1) && srcLeft == 0 && done == 0;
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - dstLeft);
  out = std::move(result);
  return true;
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) { return Convert("UTF-8", "CP932", cp932, utf8); }
bool Utf8ToCp932(std::string_view utf8, std::string& cp932) { return Convert("CP932", "UTF-8", utf8, cp932); }

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

fs::path ModuleFile() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ModuleFile), &info) == 0 || info.dli_fname == nullptr) return {};
  return fs::path(info.dli_fname);
}

bool StandardErrorIsTerminal() { return ::isatty(2) == 1; }

const char* const kUserSettingsFolderText = "~/.config/Velmora/";

// --- The console ----------------------------------------------------------

void WriteOut(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }
void WriteError(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stderr); }
void WriteOutUtf8(std::string_view utf8) { WriteOut(utf8); }

// --- The end of the program -----------------------------------------------

namespace {

std::atomic<int>* interruptTarget = nullptr;
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
void OnInterrupt(int signal) { interruptTarget->store(signal, std::memory_order_relaxed); }

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
// [0] read by the watcher, [1] written by the handler.
int g_endingSocket[2] = {-1, -1};

extern "C" void OnEndingSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // Non-blocking: when the socket is full, a signal is already waiting.
  [[maybe_unused]] const ssize_t written = ::send(g_endingSocket[1], &number, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
  errno = savedErrno;
}

}  // namespace

void IgnoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

void CatchInterrupts(std::atomic<int>& interrupted) {
  // A file size limit must show as a write failure, not end the program.
  IgnoreFileSizeSignal();
  interruptTarget = &interrupted;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // Started with the signal ignored (nohup, a background job): keep it so.
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

struct EndingRequests::State {
  std::function<void(int)> ended;
  struct sigaction previous[std::size(kEndingSignals)];
  bool installed[std::size(kEndingSignals)] = {};
  std::thread watcher;
};

// The handler only writes the signal's number to a socket; the watcher reads
// it and calls on, outside the handler.
EndingRequests::EndingRequests(std::function<void(int)> ended) : state_(std::make_unique<State>()) {
  state_->ended = std::move(ended);
  // Without the socket the signals keep their default action.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_endingSocket) != 0) return;
  ::fcntl(g_endingSocket[1], F_SETFL, ::fcntl(g_endingSocket[1], F_GETFL) | O_NONBLOCK);
  state_->watcher = std::thread([state = state_.get()] {
    for (;;) {
      unsigned char number = 0;
      const ssize_t got = ::read(g_endingSocket[0], &number, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got != 1) return;  // the destructor shut the socket
      state->ended(number);
    }
  });
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    struct sigaction current {};
    ::sigaction(kEndingSignals[i], nullptr, &current);
    // Started with the signal ignored (nohup, a background job): keep it so.
    if (current.sa_handler == SIG_IGN) continue;
    state_->installed[i] = ::sigaction(kEndingSignals[i], &action, &state_->previous[i]) == 0;
  }
}

EndingRequests::~EndingRequests() {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    if (state_->installed[i]) ::sigaction(kEndingSignals[i], &state_->previous[i], nullptr);
  }
  if (state_->watcher.joinable()) {
    ::shutdown(g_endingSocket[1], SHUT_WR);
    state_->watcher.join();
  }
  for (int& fd : g_endingSocket) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void EndAsAsked(int number) {
  ::signal(number, SIG_DFL);
  ::raise(number);
}

}  // namespace velmora::platform

// --- SHA-256: OpenSSL's libcrypto (EVP interface) -------------------------

namespace velmora {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr) throw std::bad_alloc();
  if (EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (size > 0 && EVP_DigestUpdate(state_->context, data, size) != 1) throw std::runtime_error("SHA-256 failed");
}

std::string Sha256::HexDigest() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1) throw std::runtime_error("SHA-256 failed");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

std::optional<std::string> Sha256OfFile(const std::filesystem::path& file) {
  std::uint64_t size = 0;
  const int in = static_cast<int>(platform::OpenInput(file, size));
  if (in < 0) return std::nullopt;
  // Closed on every way out, a failing digest's exception included.
  const std::unique_ptr<const int, void (*)(const int*)> closer(&in, [](const int* fd) { ::close(*fd); });
  Sha256 digest;
  std::array<char, 1 << 16> buffer;
  for (;;) {
    const std::ptrdiff_t got = platform::Read(in, buffer.data(), buffer.size());
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    digest.Update(buffer.data(), static_cast<std::size_t>(got));
  }
  return digest.HexDigest();
}

}  // namespace velmora
