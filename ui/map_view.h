#pragma once
// 表示 → 地図: the last batch run's households on the standard mesh grid,
// coloured by one of the four results in five quantile classes, with the
// legend, a scale bar and the latitude/longitude grid. The wheel and + / -
// zoom, a drag and the arrow keys pan; the cell under the mouse (or, from
// the keyboard, under the cross in the middle) is described below the map,
// and a click (Enter) opens 計算過程 for its line.
#include <QPointF>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "ui/map_cells.h"
#include "ui/map_model.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace velmora {

class ExplainDialog;
class FileDialogs;
class Reporter;

// The drawn map. Keeps the view (middle and zoom) across changes of the
// result shown.
class MapCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit MapCanvas(QWidget* parent = nullptr);

  void setModel(const MapModel* model);  // fits the cells into the view
  void modelChanged();                   // the colours or the classes changed
  // Shows every cell.
  void fit();
  void zoomBy(double factor, QPointF around);
  void panBy(QPointF pixels);

  // Where a point of the widget lies, in mesh units (latitude, longitude),
  // and back.
  QPointF toMesh(QPointF pixel) const;
  QPointF toPixel(double latitude, double longitude) const;
  // The cell drawn at a point of the widget.
  std::optional<std::size_t> cellAt(QPointF pixel) const;
  // Pixels per mesh unit of latitude.
  double zoom() const { return zoom_; }
  // The legend as text, for screen readers and the tests.
  QString legendText() const;

 signals:
  // The cell under the mouse, or under the cross after a key (none: off the
  // cells).
  void cellPointed(std::optional<std::size_t> index);
  void cellChosen(std::size_t index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void point(std::optional<std::size_t> index);
  void pointAtCross();
  void drawGrid(QPainter& painter) const;
  void drawScaleBar(QPainter& painter) const;
  void drawLegend(QPainter& painter) const;

  const MapModel* model_ = nullptr;
  double middleLatitude_ = 35.0;
  double xScale_ = 1.0;  // cos(middle latitude): a unit of longitude is this wide
  double latitude_ = 0.0;   // the middle of the view, mesh units
  double longitude_ = 0.0;
  double zoom_ = 1.0;
  bool fitted_ = true;  // the view shows all cells, and keeps doing so on a resize
  std::optional<QPointF> pressedAt_;
  QPointF lastDrag_;
  bool dragged_ = false;
  std::optional<std::size_t> pointed_;
  // The keyboard moves the map: the cross in the middle is what is pointed
  // at, until the mouse moves again.
  bool byKeys_ = false;
};

class MapView : public QWidget {
  Q_OBJECT
 public:
  // Messages go to `reporter`, names to save under come from `dialogs`; both
  // must outlive the view.
  MapView(Reporter& reporter, FileDialogs& dialogs, QWidget* parent = nullptr);
  ~MapView() override;

  void showCells(std::shared_ptr<const MapCells> cells);

  const MapModel* model() const { return model_.get(); }
  MapCanvas* canvas() const { return canvas_; }
  // Writes the map as drawn (legend, scale and grid included) as a PNG.
  bool savePng(const QString& file);
  // Writes the map file as velmora-batch --map would have (on a thread of
  // its own while the window stays live); false when it could not.
  bool saveMapFile(const QString& file);
  // 計算過程 for the line of cell `index`; false (with a message) when the
  // input no longer holds that line as the run read it.
  bool explainCell(std::size_t index);
  ExplainDialog* explainDialog() const { return explain_; }

 private:
  void columnChosen();
  void describe(std::optional<std::size_t> index);
  void saveClicked();
  void saveMapClicked();

  Reporter& reporter_;
  FileDialogs& dialogs_;
  std::shared_ptr<const MapCells> cells_;
  std::unique_ptr<MapModel> model_;
  QLabel* source_ = nullptr;
  QComboBox* results_ = nullptr;
  MapCanvas* canvas_ = nullptr;
  QLabel* pointed_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* saveMap_ = nullptr;
  ExplainDialog* explain_ = nullptr;
};

// The four result columns as the window captions them, and their units.
QString MapResultCaption(std::size_t column);
QString MapResultUnit(std::size_t column);

}  // namespace velmora
