// velmora-batch on POSIX: main(), texts as bytes, signals.
#include <csignal>
#include <cstdio>

#include "cli/platform.h"

namespace velmora::cli {
namespace {

std::atomic<int>* interruptTarget = nullptr;
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
void OnInterrupt(int signal) { interruptTarget->store(signal, std::memory_order_relaxed); }

}  // namespace

void WriteOut(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }
void WriteError(std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stderr); }
void WriteOutUtf8(std::string_view utf8) { WriteOut(utf8); }

void CatchInterrupts(std::atomic<int>& interrupted) {
  // A file size limit must show as a write failure, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
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

}  // namespace velmora::cli

int main(int argc, char** argv) { return velmora::cli::ToolMain(argc, argv); }
