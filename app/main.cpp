// The Velmora window program: one window, and the program ends with it.
#include <QApplication>

#include "ui/frm_main.h"
#include "ui/japanese_font.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Velmora"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  // Message boxes and file dialogs are windows of their own: give them the
  // Japanese face as well.
  QApplication::setFont(velmora::JapaneseFont());
  velmora::frmMain window;
  window.show();
  return app.exec();
}
