#include "ui/app_folder.h"

#include <QCoreApplication>
#include <QDir>

namespace velmora {

QString WithTrailingSeparator(const QString& folder) {
  QString native = QDir::toNativeSeparators(folder);
  if (!native.endsWith(QDir::separator())) native += QDir::separator();
  return native;
}

QString AppFolder() { return WithTrailingSeparator(QCoreApplication::applicationDirPath()); }

}  // namespace velmora
