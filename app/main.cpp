// The Velmora window program: one window, and the program ends with it.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "core/version.h"
#include "platform/platform.h"
#include "ui/ending_signals.h"
#include "ui/frm_main.h"
#include "ui/japanese_font.h"
#include "ui/qt_translations.h"

int main(int argc, char* argv[]) {
  // Answered before any window exists, so it works without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velmora %s\n", velmora::kVersion);
      return 0;
    }
  }
  // Before anything writes a file.
  velmora::platform::IgnoreFileSizeSignal();
  int status = 0;
  int endedBy = 0;
  {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    // Message boxes and file dialogs are windows of their own: give them the
    // Japanese face as well, and Qt's own texts in them in Japanese.
    QApplication::setFont(velmora::JapaneseFont());
    velmora::InstallQtJapanese();
    velmora::frmMain window;
    velmora::EndingSignals ending;
    window.show();
    status = app.exec();
    endedBy = ending.received();
  }
  // Ended by a signal: the window has closed as on any close; now end as the
  // signal asked, so that whoever sent it sees the program ended by it.
  if (endedBy != 0) velmora::platform::EndAsAsked(endedBy);
  return status;
}
