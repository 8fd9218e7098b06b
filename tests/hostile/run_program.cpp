#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace velmora::test {
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n - 1;  // the iterator's own
}

std::optional<unsigned> UnprivilegedUser() {
  if (::geteuid() != 0) return std::nullopt;
  return 65534u;
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
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
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
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = options.standardInputBytes ? pipeFds[0] : ::open(options.standardInput.c_str(), O_RDONLY);
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
    if (options.userId) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(*options.userId) != 0 || ::setuid(*options.userId) != 0)
        ::_exit(126);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  const auto start = std::chrono::steady_clock::now();
  bool signalled = false;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (options.signalAfter && !signalled && elapsed >= *options.signalAfter) {
      ::kill(pid, options.signal);
      signalled = true;
    }
    if (elapsed >= options.timeout) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.hung = true;
      break;
    }
    if (options.whileRunning) options.whileRunning(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(options.whileRunning ? 1 : 5));
  }
  if (pipeFds[0] >= 0) ::close(pipeFds[0]);
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
