#pragma once
#include <QFont>

namespace velmora {

// The font every control, menu and message box uses: a Japanese face from
// Noto Sans CJK, sized so that the item labels fit their fixed widths.
QFont JapaneseFont();

}  // namespace velmora
