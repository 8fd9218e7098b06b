#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace velmora::test {
namespace fs = std::filesystem;

std::string AsPrinted(std::string_view utf8) { return std::string(utf8); }

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n - 1;  // the iterator's own
}

std::optional<unsigned> UnprivilegedUser() {
  if (::geteuid() != 0) return std::nullopt;
  return 65534u;
}

namespace {

// Whether others may pass through every folder from the root down to `folder`.
bool OthersCanEnter(const fs::path& folder) {
  fs::path walked;
  for (const auto& part : folder) {
    walked /= part;
    struct stat st {};
    if (::stat(walked.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
  }
  return true;
}

}  // namespace

UnprivilegedCopy::UnprivilegedCopy(const fs::path& program, const std::vector<std::string>& probe) {
  const auto user = UnprivilegedUser();
  const std::string who = user ? "user " + std::to_string(*user) : "this user";
  std::vector<fs::path> bases;
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (!ec) bases.push_back(fs::absolute(temp, ec));
  for (const char* base : {"/tmp", "/var/tmp", "/dev/shm"}) bases.emplace_back(base);
  unusable_ = "no temporary folder that " + who + " can enter";
  for (const auto& base : bases) {
    if (user && !OthersCanEnter(base)) continue;
    std::string name = (base / "velmora-unprivileged-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) continue;
    folder_ = name;
    program_ = folder_ / program.filename();
    const fs::path table = program.parent_path() / "EGapDis.txt";
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec, ec);
    fs::copy_file(program, program_, ec);
    fs::permissions(program_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec, ec);
    if (fs::exists(table)) {
      fs::copy_file(table, folder_ / table.filename(), ec);
      fs::permissions(folder_ / table.filename(),
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                      ec);
    }
    CopySanitizerSuppressions();
    // Started once: a folder on a noexec mount, or a system where root may
    // not change its user, shows here and not as a fault of the program.
    // How the program then ends is for the test to judge.
    const RunResult r = RunProgram(program_, probe, options());
    if (r.startFailure.empty()) {
      unusable_.clear();
      return;
    }
    unusable_ = "cannot run a program in " + base.string() + " as " + who + ": " + r.startFailure;
    fs::remove_all(folder_, ec);
    folder_.clear();
    if (r.startFailure.rfind("changing user", 0) == 0) break;  // no other folder helps
  }
}

UnprivilegedCopy::~UnprivilegedCopy() {
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

fs::path UnprivilegedCopy::Folder(const std::string& name) const {
  const fs::path folder = folder_ / name;
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all);
  return folder;
}

RunOptions UnprivilegedCopy::options() const {
  RunOptions options;
  options.userId = UnprivilegedUser();
  options.environment = environment_;
  return options;
}

void UnprivilegedCopy::CopySanitizerSuppressions() {
  environment_.clear();
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* value = std::getenv(name);
    if (value == nullptr) continue;
    std::string options = value;
    const std::string key = "suppressions=";
    const std::size_t at = options.find(key);
    if (at == std::string::npos) continue;
    const std::size_t start = at + key.size();
    const std::size_t end = std::min(options.find(':', start), options.size());
    const fs::path copy = folder_ / (std::string(name) + ".supp");
    std::error_code ec;
    fs::copy_file(options.substr(start, end - start), copy, fs::copy_options::overwrite_existing, ec);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read, ec);
    options.replace(start, end - start, copy.string());
    environment_.push_back(std::string(name) + "=" + options);
  }
}

std::vector<std::string> OpenFilesUnder(const fs::path& folder, int pid) {
  std::vector<std::string> open;
  const std::string prefix = folder.string() + "/";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    const std::string target = fs::read_symlink(e.path(), linkError).string();
    if (!linkError && target.compare(0, prefix.size(), prefix) == 0) open.push_back(target);
  }
  std::sort(open.begin(), open.end());
  return open;
}

std::vector<std::string> OpenFilesUnder(const fs::path& folder) { return OpenFilesUnder(folder, ::getpid()); }

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options) {
  RunResult result;
  // Output goes to files, not pipes: a child that writes a lot cannot block.
  char outName[] = "/tmp/velmora-run-out-XXXXXX";
  char errName[] = "/tmp/velmora-run-err-XXXXXX";
  const int outFd = ::mkstemp(outName);
  const int errFd = ::mkstemp(errName);

  std::vector<std::string> argStrings{program.string()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The extra entries take the place of inherited ones of the same name.
  const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                      [&](const std::string& extra) { return nameOf(extra) == nameOf(*e); });
    if (!replaced) envStrings.emplace_back(*e);
  }
  envStrings.insert(envStrings.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (options.standardInputBytes) {
    if (::pipe(pipeFds) != 0) return result;
    // The pipe holds 64 KiB: written before the child starts, no thread needed.
    const std::string& bytes = *options.standardInputBytes;
    if (::write(pipeFds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return result;
    ::close(pipeFds[1]);
  }
  // The child reports here which step failed before the program started,
  // and errno; closed on a successful execve.
  int reportFds[2] = {-1, -1};
  if (::pipe2(reportFds, O_CLOEXEC) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const fs::path input = options.standardInput.empty() ? fs::path("/dev/null") : options.standardInput;
    const int in = options.standardInputBytes ? pipeFds[0] : ::open(input.c_str(), O_RDONLY);
    ::dup2(in, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    if (options.fileSizeLimit) {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = *options.fileSizeLimit;
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit) {
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = *options.addressSpaceLimit;
      ::setrlimit(RLIMIT_AS, &limit);
    }
    const auto fail = [&](int step, int status) {
      const int report[2] = {step, errno};
      [[maybe_unused]] const auto written = ::write(reportFds[1], report, sizeof report);
      ::_exit(status);
    };
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) fail(1, 127);
    if (options.userId) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(*options.userId) != 0 || ::setuid(*options.userId) != 0)
        fail(0, 126);
    }
    ::execve(argv[0], argv.data(), envp.data());
    fail(1, 127);
  }
  ::close(reportFds[1]);
  const auto start = std::chrono::steady_clock::now();
  bool signalled = false;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!signalled && ((options.signalAfter && elapsed >= *options.signalAfter) ||
                       (options.signalWhen && options.signalWhen(pid)))) {
      result.signalled = ::kill(pid, options.signal) == 0;
      signalled = true;
    }
    if (elapsed >= options.timeout) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.hung = true;
      break;
    }
    if (options.whileRunning) options.whileRunning(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(options.whileRunning || options.signalWhen ? 1 : 5));
  }
  if (pipeFds[0] >= 0) ::close(pipeFds[0]);
  int report[2] = {0, 0};
  if (::read(reportFds[0], report, sizeof report) == static_cast<ssize_t>(sizeof report)) {
    result.startFailure = std::string(report[0] == 0 ? "changing user to " + std::to_string(*options.userId)
                                                     : "starting " + program.string()) +
                          ": " + std::strerror(report[1]);
  }
  ::close(reportFds[0]);
  if (!result.hung) {
    result.exited = WIFEXITED(status);
    if (result.exited) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  ::close(outFd);
  ::close(errFd);
  result.out = ReadFile(outName);
  result.err = ReadFile(errName);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

}  // namespace velmora::test
