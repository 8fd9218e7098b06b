#include "ui/japanese_font.h"

#include <QStringList>

namespace velmora {

QFont JapaneseFont() {
  QFont font(QStringLiteral("Noto Sans CJK JP"));
  QStringList families;
  families << QStringLiteral("Noto Sans CJK JP") << QStringLiteral("Noto Sans JP")
           << QStringLiteral("Droid Sans Fallback");
  font.setFamilies(families);
  // 11 px: the longest single-line label, "世帯金融資産残高：", is nine full
  // width characters in a 105 px label.
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace velmora
