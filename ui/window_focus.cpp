#include "ui/window_focus.h"

#include <QApplication>
#include <QTimer>

namespace velmora {
namespace {

// Asks for the activation unless another dialog is up or the window is gone
// (the program may be ending).
void Activate(QWidget* window) {
  if (window == nullptr || !window->isVisible() || QApplication::activeModalWidget() != nullptr) return;
  if (QApplication::activeWindow() == window) return;
  window->raise();
  window->activateWindow();
}

}  // namespace

RegainFocus::RegainFocus(QWidget* window) : window_(window != nullptr ? window->window() : nullptr) {
  if (window_ != nullptr) focus_ = window_->focusWidget();
}

RegainFocus::~RegainFocus() {
  if (window_ == nullptr || !window_->isVisible()) return;
  // The window's own focus first: it is the one the window gives back when
  // it is activated.
  if (focus_ != nullptr && focus_->isEnabled() && focus_->isVisible() && focus_->window() == window_) {
    focus_->setFocus(Qt::ActiveWindowFocusReason);
  }
  Activate(window_);
  // The dialog's own window goes away only as the events turn, and the
  // window manager then picks a window of its own choosing: ask once more.
  QTimer::singleShot(0, window_, [window = window_] { Activate(window); });
}

}  // namespace velmora
