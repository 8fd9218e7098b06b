#pragma once
// The views of the 表示 menu as windows of their own: not owned by the main
// window, so that either may lie above the other; opened beside the main
// window the first time, not over it, and no larger than the screen's free
// area; where the user then puts them they stay, for the session and, in the
// settings' "Views" group, for the next one. A view is built once and
// reused; the main window's close closes it too.
#include <QPointer>
#include <QString>
#include <QWidget>

namespace velmora {

// Shows `view` as the view window called `name` (its settings key) that
// belongs to `main`, and brings it to the front.
void ShowViewWindow(QWidget& main, QWidget& view, const QString& name);

// The one call a view needs: builds it into `view` when there is none yet,
// lets `fill` bring it up to date, and shows it.
template <class View, class Fill>
View& OpenViewWindow(QWidget& main, QPointer<View>& view, const QString& name, Fill&& fill) {
  if (view == nullptr) view = new View(nullptr);
  fill(*view);
  ShowViewWindow(main, *view, name);
  return *view;
}

}  // namespace velmora
