#pragma once
#include <QPointer>
#include <QWidget>

namespace velmora {

// Brings a window back once a dialog it opened has closed: active again, and
// its keyboard focus on the control that had it, so that its access keys
// work at once. Window managers do not always hand the activation back
// (after a file dialog's overwrite question, for one). Put one on the stack
// around the dialog.
class RegainFocus {
 public:
  explicit RegainFocus(QWidget* window);
  ~RegainFocus();
  RegainFocus(const RegainFocus&) = delete;
  RegainFocus& operator=(const RegainFocus&) = delete;

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> focus_;
};

}  // namespace velmora
