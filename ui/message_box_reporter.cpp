#include "ui/message_box_reporter.h"

#include <QMessageBox>

#include "ui/japanese_font.h"
#include "ui/window_focus.h"

namespace velmora {
namespace {

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

void Show(QWidget* owner, QMessageBox::Icon icon, std::string_view message, std::string_view details = {}) {
  QMessageBox box(icon, QStringLiteral("Velmora"), Text(message), QMessageBox::Ok, owner);
  box.setFont(JapaneseFont());
  if (!details.empty()) box.setDetailedText(Text(details));
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  const RegainFocus regain(owner);
  box.exec();
}

}  // namespace

void MessageBoxReporter::error(std::string_view message) { Show(owner_, QMessageBox::Critical, message); }
void MessageBoxReporter::info(std::string_view message) { Show(owner_, QMessageBox::Information, message); }
void MessageBoxReporter::infoWithDetails(std::string_view message, std::string_view details) {
  Show(owner_, QMessageBox::Information, message, details);
}

}  // namespace velmora
