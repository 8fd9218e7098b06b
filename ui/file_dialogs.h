#pragma once
#include <QString>

#include "form/file_dialogs.h"

class QWidget;

namespace velmora {

inline const QString kCsvFilter = QStringLiteral("CSVファイル(*.csv)");
inline const QString kDefaultOutputName = QStringLiteral("Output.csv");
// Shown when a name to save under lies in a folder that does not exist (%1).
inline const QString kFolderNotFound =
    QStringLiteral("%1") + QString::fromUtf8(form::kFolderNotFound.data(), qsizetype(form::kFolderNotFound.size()));

// The two file dialogs of the batch frame. Each answers a full path, or the
// empty text when the user cancels. Tests answer them with a stand-in.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // An existing file in an existing folder, starting in `folder`.
  virtual QString showOpenDialog(QWidget* owner, const QString& filter, const QString& folder) = 0;
  // A name in an existing folder, starting in `folder` with `defaultName`
  // filled in; asks before an existing file is chosen, and refuses a name in
  // a folder that does not exist.
  virtual QString showSaveDialog(QWidget* owner, const QString& filter, const QString& folder,
                                 const QString& defaultName) = 0;
};

// Qt's own file dialogs, titled "ファイルを開く" and "ファイルを保存する".
class QtFileDialogs : public FileDialogs {
 public:
  QString showOpenDialog(QWidget* owner, const QString& filter, const QString& folder) override;
  QString showSaveDialog(QWidget* owner, const QString& filter, const QString& folder,
                         const QString& defaultName) override;
};

}  // namespace velmora
