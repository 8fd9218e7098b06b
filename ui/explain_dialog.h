#pragma once
#include <QDialog>
#include <QString>
#include <string>

#include "batch/explain_row.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora {

// 表示 → 計算過程: every named quantity of the last successful individual
// calculation in step order, with the names and texts of
// velmora-batch --explain, above them the mode, the four settings, the table
// and the entry read. Not modal: the window passes each new calculation on.
class ExplainDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ExplainDialog(QWidget* parent = nullptr);

  // Shows the explanation of a calculation; `lastAttemptFailed` says that a
  // later calculation failed (the list still shows this one).
  void showCalculation(const Explanation& explanation, bool lastAttemptFailed);
  const Explanation& explanation() const { return explanation_; }
  // The list as text, the same as the tool's.
  QString text() const;

 public slots:
  void copyToClipboard() const;

 private:
  Explanation explanation_;
  QLabel* mode_ = nullptr;
  QLabel* settings_[4] = {};
  QLabel* table_ = nullptr;
  QLabel* entry_ = nullptr;
  QLabel* stale_ = nullptr;
  QTableWidget* list_ = nullptr;
  QPushButton* copy_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace velmora
