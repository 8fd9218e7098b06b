#pragma once
#include <string_view>

namespace velmora {

// Where a step that fails tells the user why. The window shows a modal message
// box (caption "Velmora"), the batch tool prints to stderr, tests record.
// Texts are UTF-8.
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void error(std::string_view message) = 0;
  virtual void info(std::string_view message) = 0;
  // A note with more to read on request (the window's message box keeps it
  // behind its details button). Where there is no such place, the note alone.
  virtual void infoWithDetails(std::string_view message, std::string_view details) {
    (void)details;
    info(message);
  }
};

}  // namespace velmora
