#include "ui/text_box.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>

namespace velmora {

void TextBox::showFromStart(const QString& text) {
  setText(text);
  setCursorPosition(0);
  const bool cut = fontMetrics().horizontalAdvance(text) > shownWidth();
  setToolTip(cut ? text : QString());
}

int TextBox::shownWidth() const {
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
  // QLineEdit keeps 2 px free on either side of the text.
  return contents.marginsRemoved(textMargins()).width() - 2 * 2;
}

void TextBox::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const QString text = event->text();
  // A key whose access key is disabled or unknown would otherwise arrive
  // here as its letter. Ctrl+Alt is how Windows reports AltGr; X reports
  // AltGr as the group switch, not as Alt.
  if ((mods & Qt::AltModifier) && !(mods & Qt::ControlModifier) && !text.isEmpty() && text.at(0).isPrint()) {
    event->ignore();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace velmora
