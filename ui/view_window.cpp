#include "ui/view_window.h"

#include <QEvent>
#include <QList>
#include <QScreen>
#include <QSettings>
#include <algorithm>

namespace velmora {
namespace {

const QString kGroup = QStringLiteral("Views");
constexpr int kGap = 8;  // between the main window and a view beside it

QString GeometryKey(const QString& name) { return kGroup + QLatin1Char('/') + name + QStringLiteral("/geometry"); }

QByteArray StoredGeometry(const QString& name) {
  QSettings settings(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
  settings.setFallbacksEnabled(false);
  return settings.value(GeometryKey(name)).toByteArray();
}

void StoreGeometry(const QString& name, const QByteArray& geometry) {
  QSettings settings(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
  settings.setFallbacksEnabled(false);
  settings.setValue(GeometryKey(name), geometry);
  settings.sync();
}

// The first place of a view: beside the main window on its screen, right of
// it where there is room, else left of it; up to a quarter narrower where
// neither side has room for the whole width, and over the main window's edge,
// at the screen's, when even that does not fit. Never larger than the
// screen's free area.
void PlaceBeside(const QWidget& main, QWidget& view) {
  const QScreen* screen = main.screen();
  if (screen == nullptr) return;
  const QRect free = screen->availableGeometry();
  const QRect mainFrame = main.frameGeometry();
  // The view has no frame before it is shown: take the main window's.
  const QMargins frame(main.geometry().left() - mainFrame.left(), main.geometry().top() - mainFrame.top(),
                       mainFrame.right() - main.geometry().right(), mainFrame.bottom() - main.geometry().bottom());
  const int frameWidth = frame.left() + frame.right();
  const QSize least = view.minimumSizeHint().expandedTo(view.minimumSize());
  QSize size = view.size().boundedTo(free.size().shrunkBy(frame)).expandedTo(least);

  // Outer widths free right and left of the main window.
  const int rightRoom = free.right() - (mainFrame.right() + kGap);
  const int leftRoom = mainFrame.left() - kGap - free.left();
  const bool right = size.width() + frameWidth <= rightRoom ||
                     (size.width() + frameWidth > leftRoom && rightRoom >= leftRoom);
  const int room = (right ? rightRoom : leftRoom) - frameWidth;
  // Narrower, but not so narrow that its contents no longer show.
  if (size.width() > room) size.setWidth(std::max({room, least.width(), size.width() * 3 / 4}));
  view.resize(size);
  const int outerWidth = view.width() + frameWidth;
  const int outerHeight = view.height() + frame.top() + frame.bottom();

  int left = right ? mainFrame.right() + 1 + kGap : mainFrame.left() - kGap - outerWidth;
  left = std::clamp(left, free.left(), std::max(free.left(), free.right() + 1 - outerWidth));
  const int top = std::clamp(mainFrame.top(), free.top(), std::max(free.top(), free.bottom() + 1 - outerHeight));
  view.move(left, top);
}

// Belongs to the main window: keeps its views, closes them with it (they
// are not its children) and deletes them when it goes; stores a view's
// place whenever the view is hidden.
class ViewKeeper : public QObject {
 public:
  explicit ViewKeeper(QWidget& main) : QObject(&main), main_(main) {
    setObjectName(QStringLiteral("viewWindows"));
    main.installEventFilter(this);
  }
  ~ViewKeeper() override {
    for (const QPointer<QWidget>& view : views_) delete view.data();
  }

  void adopt(QWidget& view, const QString& name) {
    view.setProperty("viewWindowName", name);
    // A window of its own, with the usual title-bar buttons.
    view.setParent(nullptr);
    view.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    // The program ends with the main window, whatever views are open.
    view.setAttribute(Qt::WA_QuitOnClose, false);
    view.installEventFilter(this);
    views_.append(&view);
    const QByteArray stored = StoredGeometry(name);
    if (stored.isEmpty() || !view.restoreGeometry(stored)) PlaceBeside(main_, view);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Hide || event->spontaneous()) return false;
    if (watched == &main_) {
      // Closed or hidden by the program (a minimised window stays visible).
      for (const QPointer<QWidget>& view : views_) {
        if (view != nullptr && view->isVisible()) view->close();
      }
    } else if (auto* view = qobject_cast<QWidget*>(watched)) {
      StoreGeometry(view->property("viewWindowName").toString(), view->saveGeometry());
    }
    return false;
  }

 private:
  QWidget& main_;
  QList<QPointer<QWidget>> views_;
};

}  // namespace

void ShowViewWindow(QWidget& main, QWidget& view, const QString& name) {
  if (!view.property("viewWindowName").isValid()) {
    auto* keeper = main.findChild<ViewKeeper*>(QStringLiteral("viewWindows"), Qt::FindDirectChildrenOnly);
    if (keeper == nullptr) keeper = new ViewKeeper(main);
    keeper->adopt(view, name);
  }
  view.setWindowState(view.windowState() & ~Qt::WindowMinimized);
  view.show();
  view.raise();
  view.activateWindow();
}

}  // namespace velmora
