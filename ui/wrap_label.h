#pragma once
#include <QLabel>

namespace velmora {

// A caption label that wraps its text within its fixed width at a line pitch
// of the font's size rather than the CJK face's tall line spacing, so that a
// two-line item label fits its 25 px height. A one-line label too narrow for
// its text sets full-width brackets and the colon in half their width (their
// other half is blank), so "（倍）" fits its 25 px.
class WrapLabel : public QLabel {
  Q_OBJECT
 public:
  WrapLabel(const QString& text, Qt::Alignment horizontal, QWidget* parent);

  // The lines the label shows, as broken for its current width and font.
  QStringList shownLines() const;
  // Width the line needs as drawn (tightened when the label does so).
  qreal lineWidth(const QString& line) const;
  int linePitch() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool tightens() const;
};

}  // namespace velmora
