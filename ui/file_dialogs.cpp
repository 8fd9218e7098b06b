#include "ui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>

#include "ui/japanese_font.h"

namespace velmora {
namespace {

QString Run(QFileDialog& dialog) {
  dialog.setFont(JapaneseFont());
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QString chosen = dialog.selectedFiles().value(0);
  return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(QFileInfo(chosen).absoluteFilePath());
}

}  // namespace

QString QtFileDialogs::showOpenDialog(QWidget* owner, const QString& filter, const QString& folder) {
  QFileDialog dialog(owner, QStringLiteral("ファイルを開く"), folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return Run(dialog);
}

QString QtFileDialogs::showSaveDialog(QWidget* owner, const QString& filter, const QString& folder,
                                      const QString& defaultName) {
  QFileDialog dialog(owner, QStringLiteral("ファイルを保存する"), folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The overwrite question concerns the name as typed; ".csv" is appended
  // only afterwards, so no default suffix here.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.selectFile(defaultName);
  return Run(dialog);
}

QString WithCsvExtension(const QString& path) {
  if (path.right(4).toLower() == QLatin1String(".csv")) return path;
  return path + QStringLiteral(".csv");
}

}  // namespace velmora
