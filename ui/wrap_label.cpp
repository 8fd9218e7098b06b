#include "ui/wrap_label.h"

#include <QPainter>
#include <QTextLayout>

namespace velmora {
namespace {

// Full-width punctuation whose ink sits in one half of the em box.
bool OpensRight(QChar c) { return c == QChar(0xFF08) || c == QChar(0x300C); }  // （「
bool ClosesLeft(QChar c) {
  return c == QChar(0xFF09) || c == QChar(0x300D) || c == QChar(0xFF1A);  // ）」：
}

}  // namespace

WrapLabel::WrapLabel(const QString& text, Qt::Alignment horizontal, QWidget* parent) : QLabel(text, parent) {
  setAlignment(horizontal | Qt::AlignTop);
  setWordWrap(true);
  setTextFormat(Qt::PlainText);
}

int WrapLabel::linePitch() const { return QFontInfo(font()).pixelSize() + 2; }

bool WrapLabel::tightens() const {
  const QFontMetricsF metrics(font());
  const bool oneLineHigh = height() < 2 * QFontInfo(font()).pixelSize();
  return oneLineHigh && metrics.horizontalAdvance(text()) > width();
}

qreal WrapLabel::lineWidth(const QString& line) const {
  const QFontMetricsF metrics(font());
  if (!tightens()) return metrics.horizontalAdvance(line);
  qreal w = 0;
  for (QChar c : line) {
    const qreal advance = metrics.horizontalAdvance(c);
    w += (OpensRight(c) || ClosesLeft(c)) ? advance / 2 : advance;
  }
  return w;
}

QStringList WrapLabel::shownLines() const {
  if (tightens()) return {text()};
  QStringList lines;
  QTextLayout layout(text(), font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  for (;;) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(width());
    lines << text().mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines;
}

void WrapLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  const QFontMetricsF metrics(font());
  const int pitch = linePitch();
  const bool tight = tightens();
  // Ideographs reach about 0.9 em above the baseline and little below it.
  qreal baseline = pitch - qMax(1.0, metrics.descent() / 2) - 1;
  for (const QString& line : shownLines()) {
    const qreal w = lineWidth(line);
    qreal x = 0;
    if (alignment() & Qt::AlignRight) x = width() - w;
    if (alignment() & Qt::AlignHCenter) x = (width() - w) / 2;
    if (!tight) {
      painter.drawText(QPointF(x, baseline), line);
    } else {
      for (QChar c : line) {
        const qreal advance = metrics.horizontalAdvance(c);
        if (OpensRight(c)) {
          painter.drawText(QPointF(x - advance / 2, baseline), QString(c));
          x += advance / 2;
        } else {
          painter.drawText(QPointF(x, baseline), QString(c));
          x += ClosesLeft(c) ? advance / 2 : advance;
        }
      }
    }
    baseline += pitch;
  }
}

}  // namespace velmora
