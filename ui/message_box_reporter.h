#pragma once
#include <QPointer>
#include <QWidget>

#include "core/reporter.h"

namespace velmora {

// Shows every message as a modal box owned by the window: caption "Velmora",
// OK only, the error icon for failures and the information icon for notes.
class MessageBoxReporter : public Reporter {
 public:
  explicit MessageBoxReporter(QWidget* owner = nullptr) : owner_(owner) {}
  void error(std::string_view message) override;
  void info(std::string_view message) override;
  // The details stay folded until the user asks for them.
  void infoWithDetails(std::string_view message, std::string_view details) override;

 private:
  QPointer<QWidget> owner_;
};

}  // namespace velmora
