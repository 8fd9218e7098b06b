#include "form/held_messages.h"

namespace velmora::form {

void HeldMessages::keep(Kind kind, std::string_view text, std::string_view details) {
  const std::lock_guard lock(mutex_);
  messages_.push_back({kind, std::string(text), std::string(details)});
}

void HeldMessages::passOn(Reporter& target, const std::function<bool()>& stillWanted) {
  std::vector<Message> kept;
  {
    const std::lock_guard lock(mutex_);
    kept.swap(messages_);
  }
  // Not under the lock: showing a message may wait for the user.
  for (const Message& m : kept) {
    if (stillWanted && !stillWanted()) return;
    switch (m.kind) {
      case Kind::Error: target.error(m.text); break;
      case Kind::Info: target.info(m.text); break;
      case Kind::Details: target.infoWithDetails(m.text, m.details); break;
    }
  }
}

}  // namespace velmora::form
