#include "ui/message_box_reporter.h"

#include <QMessageBox>

#include "ui/japanese_font.h"

namespace velmora {
namespace {

void Show(QWidget* owner, QMessageBox::Icon icon, std::string_view message) {
  QMessageBox box(icon, QStringLiteral("Velmora"),
                  QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())), QMessageBox::Ok,
                  owner);
  box.setFont(JapaneseFont());
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace

void MessageBoxReporter::error(std::string_view message) { Show(owner_, QMessageBox::Critical, message); }
void MessageBoxReporter::info(std::string_view message) { Show(owner_, QMessageBox::Information, message); }

}  // namespace velmora
