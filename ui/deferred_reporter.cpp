#include "ui/deferred_reporter.h"

#include <utility>

namespace velmora {

void DeferredReporter::error(std::string_view message) {
  const std::lock_guard lock(mutex_);
  messages_.push_back({true, std::string(message)});
}

void DeferredReporter::info(std::string_view message) {
  const std::lock_guard lock(mutex_);
  messages_.push_back({false, std::string(message)});
}

void DeferredReporter::passOn(Reporter& target, const std::function<bool()>& stillWanted) {
  std::vector<Message> kept;
  {
    const std::lock_guard lock(mutex_);
    kept.swap(messages_);
  }
  // Not under the lock: showing a message may wait for the user.
  for (const Message& m : kept) {
    if (!stillWanted()) return;
    if (m.isError) {
      target.error(m.text);
    } else {
      target.info(m.text);
    }
  }
}

}  // namespace velmora
