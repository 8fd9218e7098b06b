#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"

namespace velmora {

// Keeps the messages of a command that is still running, so that they can be
// shown once the window has left its busy state. Messages may arrive from
// any thread; they are passed on in the order they came.
class DeferredReporter : public Reporter {
 public:
  void error(std::string_view message) override;
  void info(std::string_view message) override;

  // Passes every kept message to `target`, in order, and forgets it. Stops
  // (and drops the rest) as soon as `stillWanted` answers false.
  void passOn(Reporter& target, const std::function<bool()>& stillWanted = [] { return true; });

 private:
  struct Message {
    bool isError;
    std::string text;
  };
  std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace velmora
