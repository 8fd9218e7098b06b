#pragma once
#include <QLineEdit>

namespace velmora {

// The window's single-line box. Alt with a key never types into it: the
// access keys of the buttons and menus belong to them, also while they are
// disabled. AltGr (and Windows' Ctrl+Alt form of it) still types.
class TextBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit TextBox(QWidget* parent) : QLineEdit(parent) {}

  // Shows `text` from its first character; when the box cannot show all of
  // it, the whole text is the box's tool tip.
  void showFromStart(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int shownWidth() const;
};

}  // namespace velmora
