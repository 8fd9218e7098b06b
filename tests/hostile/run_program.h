#pragma once
// Runs a program of the project as a user would, and tells how it ended.
// run_program.cpp on POSIX (fork and exec), run_program_windows.cpp on
// Windows (CreateProcessW); the limits and the user are POSIX's only.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace velmora::test {

struct RunOptions {
  // RLIMIT_FSIZE for the child, in bytes (SIGXFSZ ignored, so writes fail
  // with EFBIG instead of killing it).
  std::optional<unsigned long long> fileSizeLimit;
  // RLIMIT_AS for the child, in bytes: memory runs out at this size.
  std::optional<unsigned long long> addressSpaceLimit;
  // The child is killed after this long, and the run counts as a hang. Far
  // above what any case takes, even under the sanitizers on a busy machine;
  // a time limit is no speed test (that is the benchmarks' work).
  std::chrono::milliseconds timeout{60000};
  // Extra "NAME=value" entries on top of the inherited environment.
  std::vector<std::string> environment;
  // File to connect to standard input (default: the null device)...
  std::filesystem::path standardInput;
  // ...or these bytes through a pipe, closed after them (at most 64 KiB).
  std::optional<std::string> standardInputBytes;
  // Run the child as this user and group, without supplementary groups (a
  // test running as root needs it to meet file permissions at all).
  std::optional<unsigned> userId;
  // A signal sent after this long, if the child is still running. On
  // Windows only SIGINT, as Ctrl+C in a console of the child's own.
  std::optional<std::chrono::milliseconds> signalAfter;
  // ...or at the first look (about every millisecond) at which this answers
  // true, given the child's process id.
  std::function<bool(int pid)> signalWhen;
  int signal = 0;
  // The child's current folder (default: this process's).
  std::filesystem::path workingDirectory;
  // Called about every millisecond with the child's process id while it runs.
  std::function<void(int pid)> whileRunning;
};

struct RunResult {
  bool exited = false;  // ended by exit(), not by a signal
  int exitCode = -1;
  int signal = 0;       // the signal that ended it, when !exited
  bool hung = false;    // killed at the timeout
  bool signalled = false;  // RunOptions::signal was sent
  // Why the program never started (changing user or execve failed), with
  // the system's reason; empty when it ran.
  std::string startFailure;
  std::string out;
  std::string err;
};

// The arguments are UTF-8.
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// UTF-8 text as the tool writes it to a redirected output: the same bytes on
// POSIX; CP932 with CR LF line ends on Windows.
std::string AsPrinted(std::string_view utf8);

// Names in a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

#if !defined(_WIN32)

// The user a permission test runs the program as: none (this one) unless
// this is root, then "nobody".
std::optional<unsigned> UnprivilegedUser();

// A program and the gap table beside it, copied into a temporary folder that
// the unprivileged user can enter and run from: the checkout may lie where
// that user cannot go (root's own home is closed to others). So are the
// suppression files that a sanitizer build's *SAN_OPTIONS name. The folder, and
// whatever a test puts in it, is removed at the end.
class UnprivilegedCopy {
 public:
  // `probe`: arguments with which the program ends at once (it is started
  // once, to see that it can be).
  UnprivilegedCopy(const std::filesystem::path& program, const std::vector<std::string>& probe);
  ~UnprivilegedCopy();
  UnprivilegedCopy(const UnprivilegedCopy&) = delete;
  UnprivilegedCopy& operator=(const UnprivilegedCopy&) = delete;

  // Empty when the copy starts as the unprivileged user; otherwise why it
  // cannot, for the test to skip with.
  const std::string& unusable() const { return unusable_; }
  const std::filesystem::path& program() const { return program_; }
  // A new folder in the copy's, open to everyone, for a test's files.
  std::filesystem::path Folder(const std::string& name) const;
  // Runs the copy as the unprivileged user.
  RunOptions options() const;

 private:
  std::filesystem::path folder_;
  std::vector<std::string> environment_;  // *SAN_OPTIONS naming the copies

  void CopySanitizerSuppressions();
  std::filesystem::path program_;
  std::string unusable_;
};

// Files under `folder` that process `pid` holds open.
std::vector<std::string> OpenFilesUnder(const std::filesystem::path& folder, int pid);

// Number of open descriptors of this process.
int OpenDescriptors();

// Files under `folder` that this process holds open.
std::vector<std::string> OpenFilesUnder(const std::filesystem::path& folder);
#endif

}  // namespace velmora::test
