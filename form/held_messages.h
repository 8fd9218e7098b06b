#pragma once
// Messages kept for later: a command that runs on a thread of its own, or a
// window that is busy, hands them on once the user can read them.
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"

namespace velmora::form {

// Messages may arrive from any thread; they are handed on in the order they
// came.
class HeldMessages : public Reporter {
 public:
  void error(std::string_view message) override { keep(Kind::Error, message, {}); }
  void info(std::string_view message) override { keep(Kind::Info, message, {}); }
  void infoWithDetails(std::string_view message, std::string_view details) override {
    keep(Kind::Details, message, details);
  }

  // Hands every kept message to `target`, in order, and forgets it. Stops
  // (and drops the rest) as soon as `stillWanted` answers false.
  void passOn(Reporter& target, const std::function<bool()>& stillWanted = {});

 private:
  enum class Kind { Error, Info, Details };
  struct Message {
    Kind kind;
    std::string text, details;
  };
  void keep(Kind kind, std::string_view text, std::string_view details);
  std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace velmora::form
