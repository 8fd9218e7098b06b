#include "ui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/japanese_font.h"

namespace velmora {
namespace {

// A name to save under must lie in a folder that exists: the run could not
// write there. Whatever dialog Qt shows (its own or the desktop's), a name
// outside one is refused with a message and the dialog comes back as left.
bool InExistingFolder(const QFileInfo& chosen) { return QFileInfo(chosen.absolutePath()).isDir(); }

void SayFolderMissing(QFileDialog& dialog, const QFileInfo& chosen) {
  const QString text = kFolderNotFound.arg(QDir::toNativeSeparators(chosen.absolutePath()));
  QMessageBox box(QMessageBox::Warning, dialog.windowTitle(), text, QMessageBox::Ok, dialog.parentWidget());
  box.setFont(JapaneseFont());
  box.exec();
}

QString Run(QFileDialog& dialog) {
  dialog.setFont(JapaneseFont());
  dialog.setOption(QFileDialog::ReadOnly, false);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return {};
    const QString chosen = dialog.selectedFiles().value(0);
    if (chosen.isEmpty()) return {};
    const QFileInfo info(chosen);
    if (dialog.acceptMode() == QFileDialog::AcceptOpen || InExistingFolder(info)) {
      return QDir::toNativeSeparators(info.absoluteFilePath());
    }
    SayFolderMissing(dialog, info);
    // The window was closed meanwhile (the program is ending): no dialog
    // comes back.
    if (dialog.parentWidget() && !dialog.parentWidget()->isVisible()) return {};
  }
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

}  // namespace velmora
