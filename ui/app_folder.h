#pragma once
#include <QString>

namespace velmora {

// The folder of the executable with exactly one trailing separator: where
// EGapDis.txt is read and where the file dialogs start.
QString AppFolder();

// `folder` with one native separator appended unless it already ends in one
// (a root folder).
QString WithTrailingSeparator(const QString& folder);

}  // namespace velmora
