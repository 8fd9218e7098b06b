#include "ui/map_view.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>
#include <thread>

#include "batch/explain_row.h"
#include "batch/summary.h"
#include "core/number_text.h"
#include "core/reporter.h"
#include "form/held_messages.h"
#include "map/map_writer.h"
#include "ui/explain_dialog.h"
#include "ui/file_dialogs.h"
#include "ui/gap_table_dialog.h"
#include "ui/japanese_font.h"
#include "ui/map_file.h"

namespace velmora {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kUnitsPerSecond = kMeshUnitsPerSecond;
constexpr double kUnitsPerDegree = kMeshUnitsPerDegree;

const QColor kBackground(0xee, 0xee, 0xee);
const QColor kGridLine(0x70, 0x70, 0x70, 0x90);
const QColor kInk(0x20, 0x20, 0x20);

// The order of the choice: the delay damage, the result every mode writes,
// first.
constexpr std::array<std::size_t, 4> kChoiceOrder = {3, 0, 1, 2};

// A value as the result file writes it: seven significant digits, "E" for
// the exponent. The values are the file's texts read back, so this gives
// those texts again.
QString Seven(double value) {
  QString text = QString::fromStdString(SevenDigits(value));
  text.replace(QLatin1Char('e'), QLatin1Char('E'));
  return text;
}

QFont MapFont(int pixels, bool bold = false) {
  QFont font = JapaneseFont();
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QString OrderName(MeshOrder order) {
  switch (order) {
    case MeshOrder::First: return QStringLiteral("1次メッシュ");
    case MeshOrder::Second: return QStringLiteral("2次メッシュ");
    case MeshOrder::Third: return QStringLiteral("3次メッシュ");
    case MeshOrder::Half: return QStringLiteral("2分の1地域メッシュ");
    case MeshOrder::Quarter: return QStringLiteral("4分の1地域メッシュ");
  }
  return {};
}

// Metres per degree of latitude at `latitude` degrees, on the GRS80
// ellipsoid of JGD2011.
double MetresPerDegreeLatitude(double latitude) {
  constexpr double a = 6378137.0;
  constexpr double e2 = 0.00669438002290;
  const double s = std::sin(latitude * kPi / 180.0);
  return a * (1.0 - e2) / std::pow(1.0 - e2 * s * s, 1.5) * kPi / 180.0;
}

// An angle of the grid, in whole arc-seconds: 35°40′N, 139°45′30″E.
QString AngleText(std::int64_t seconds, bool latitude) {
  const QChar hemisphere = latitude ? QLatin1Char('N') : QLatin1Char('E');
  QString text = QStringLiteral("%1°").arg(seconds / 3600);
  const std::int64_t minutes = seconds % 3600 / 60;
  const std::int64_t rest = seconds % 60;
  if (minutes != 0 || rest != 0) text += QStringLiteral("%1′").arg(minutes, 2, 10, QLatin1Char('0'));
  if (rest != 0) text += QStringLiteral("%1″").arg(rest, 2, 10, QLatin1Char('0'));
  return text + hemisphere;
}

// A grid step of at least `minimum` arc-seconds, one a map reader expects.
std::int64_t GridStep(double minimum) {
  for (const std::int64_t step : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 18000, 36000}) {
    if (step >= minimum) return step;
  }
  return 36000;
}

QString ClassRangeText(const MapClasses& classes, std::size_t k) {
  if (k == 0) return QStringLiteral("%1 ～ %2").arg(Seven(classes.low), Seven(classes.upper[0]));
  return QStringLiteral("%1 超 ～ %2").arg(Seven(classes.upper[k - 1]), Seven(classes.upper[k]));
}

}  // namespace

QString MapResultCaption(std::size_t column) {
  static const std::array<QString, 4> captions = {
      QStringLiteral("家計の選好特性"), QStringLiteral("住民の治水投資に対する支払い意思額"),
      QStringLiteral("保険の最適カバー率"), QStringLiteral("流動性制約に伴う復旧遅延被害額")};
  return captions[column];
}

QString MapResultUnit(std::size_t column) {
  return column == 0 || column == 2 ? QStringLiteral("倍") : QStringLiteral("百万円");
}

// ---------------------------------------------------------------- canvas

MapCanvas::MapCanvas(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("mapCanvas"));
  setAccessibleName(QStringLiteral("地図"));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setMinimumSize(480, 360);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
}

void MapCanvas::setModel(const MapModel* model) {
  model_ = model;
  pointed_.reset();
  if (model_ != nullptr) {
    middleLatitude_ = model_->middleLatitude();
    xScale_ = std::cos(middleLatitude_ * kPi / 180.0);
  }
  fit();
  modelChanged();
}

void MapCanvas::modelChanged() {
  setAccessibleDescription(legendText());
  update();
}

void MapCanvas::fit() {
  if (model_ == nullptr || model_->layers().empty() || width() <= 0 || height() <= 0) return;
  latitude_ = (static_cast<double>(model_->south()) + model_->north()) / 2.0;
  longitude_ = (static_cast<double>(model_->west()) + model_->east()) / 2.0;
  const double tall = model_->north() - model_->south();
  const double wide = (model_->east() - model_->west()) * xScale_;
  // A margin around the cells, and room for the legend on the right.
  zoom_ = std::min(height() * 0.9 / tall, width() * 0.62 / wide);
  longitude_ += width() * 0.16 / (zoom_ * xScale_);
  fitted_ = true;  // until the user zooms or pans
  update();
}

void MapCanvas::zoomBy(double factor, QPointF around) {
  if (model_ == nullptr) return;
  // From one cell across the view to the whole grid on a few pixels.
  const double most = width() / (double(MeshCellHeight(MeshOrder::Quarter)) * 2.0);
  const double least = 8.0 / (100.0 * MeshCellHeight(MeshOrder::First));
  const QPointF fixed = toMesh(around);
  zoom_ = std::clamp(zoom_ * factor, least, most);
  fitted_ = false;
  // The point under `around` stays there.
  const QPointF moved = toMesh(around);
  latitude_ += fixed.x() - moved.x();
  longitude_ += fixed.y() - moved.y();
  update();
}

void MapCanvas::panBy(QPointF pixels) {
  longitude_ -= pixels.x() / (zoom_ * xScale_);
  latitude_ += pixels.y() / zoom_;
  fitted_ = false;
  update();
}

QPointF MapCanvas::toMesh(QPointF pixel) const {
  return {latitude_ + (height() / 2.0 - pixel.y()) / zoom_,
          longitude_ + (pixel.x() - width() / 2.0) / (zoom_ * xScale_)};
}

QPointF MapCanvas::toPixel(double latitude, double longitude) const {
  return {width() / 2.0 + (longitude - longitude_) * zoom_ * xScale_, height() / 2.0 - (latitude - latitude_) * zoom_};
}

std::optional<std::size_t> MapCanvas::cellAt(QPointF pixel) const {
  if (model_ == nullptr) return std::nullopt;
  const QPointF at = toMesh(pixel);
  const double lat = std::floor(at.x());
  const double lon = std::floor(at.y());
  if (!(lat >= 0.0 && lat < INT32_MAX && lon >= 0.0 && lon < INT32_MAX)) return std::nullopt;
  return model_->cellAt(static_cast<std::int32_t>(lat), static_cast<std::int32_t>(lon));
}

QString MapCanvas::legendText() const {
  if (model_ == nullptr) return {};
  const std::size_t c = model_->column();
  const MapClasses& classes = model_->classes();
  QStringList lines;
  lines << QStringLiteral("凡例：%1（%2）").arg(MapResultCaption(c), MapResultUnit(c));
  for (std::size_t k = 0; k < classes.upper.size(); ++k) {
    lines << QStringLiteral("%1　%2 件").arg(ClassRangeText(classes, k)).arg(classes.counts[k]);
  }
  return lines.join(QLatin1Char('\n'));
}

void MapCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
  if (model_ == nullptr) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  for (const MapLayer& layer : model_->layers()) {
    const double h = MeshCellHeight(layer.order);
    const double w = MeshCellWidth(layer.order);
    const QPointF northWest = toPixel(layer.south + layer.rows * h, layer.west);
    const QPointF southEast = toPixel(layer.south, layer.west + layer.columns * w);
    const double px = (southEast.x() - northWest.x()) * layer.stride / layer.columns;
    const double py = (southEast.y() - northWest.y()) * layer.stride / layer.rows;
    // Only the part in view: a close view of a large grid stays quick.
    const int iw = layer.image.width();
    const int ih = layer.image.height();
    const int x0 = std::clamp(static_cast<int>(std::floor(-northWest.x() / px)), 0, iw);
    const int x1 = std::clamp(static_cast<int>(std::ceil((width() - northWest.x()) / px)), 0, iw);
    const int y0 = std::clamp(static_cast<int>(std::floor(-northWest.y() / py)), 0, ih);
    const int y1 = std::clamp(static_cast<int>(std::ceil((height() - northWest.y()) / py)), 0, ih);
    if (x1 <= x0 || y1 <= y0) continue;
    const QRectF target(northWest.x() + x0 * px, northWest.y() + y0 * py, (x1 - x0) * px, (y1 - y0) * py);
    painter.drawImage(target, layer.image, QRectF(x0, y0, x1 - x0, y1 - y0));
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  drawGrid(painter);
  if (pointed_) {
    const MapCell& c = model_->cells().cells[*pointed_];
    const QPointF a = toPixel(c.south + MeshCellHeight(c.order), c.west);
    const QPointF b = toPixel(c.south, c.west + MeshCellWidth(c.order));
    painter.setPen(QPen(QColor(0, 90, 200), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(a, b).normalized().adjusted(-1, -1, 1, 1));
  }
  if (hasFocus() && byKeys_) {
    // The cross the keys move the map under.
    const QPointF m(width() / 2.0, height() / 2.0);
    painter.setPen(QPen(QColor(0, 90, 200), 1.5));
    painter.drawLine(m - QPointF(10, 0), m + QPointF(10, 0));
    painter.drawLine(m - QPointF(0, 10), m + QPointF(0, 10));
  }
  drawScaleBar(painter);
  drawLegend(painter);
}

void MapCanvas::drawGrid(QPainter& painter) const {
  const QPointF top = toMesh(QPointF(0, 0));
  const QPointF bottom = toMesh(QPointF(width(), height()));
  // Lines at least about 90 pixels apart.
  const double perSecondY = zoom_ * kUnitsPerSecond;
  const double perSecondX = zoom_ * xScale_ * kUnitsPerSecond;
  const std::int64_t stepY = GridStep(90.0 / perSecondY);
  const std::int64_t stepX = GridStep(90.0 / perSecondX);
  painter.setFont(MapFont(11));
  const QFontMetrics metrics(painter.font());
  painter.setPen(QPen(kGridLine, 1));
  const auto label = [&](const QPointF& at, const QString& text) {
    const QRectF box = QRectF(metrics.boundingRect(text)).translated(at).adjusted(-2, 0, 2, 0);
    painter.fillRect(box, QColor(255, 255, 255, 200));
    painter.setPen(kInk);
    painter.drawText(at, text);
    painter.setPen(QPen(kGridLine, 1));
  };
  const auto first = [](double units, std::int64_t step) {
    return static_cast<std::int64_t>(std::ceil(units / kUnitsPerSecond / step)) * step;
  };
  for (std::int64_t s = first(bottom.x(), stepY); s * kUnitsPerSecond <= top.x(); s += stepY) {
    if (s < 0) continue;
    const double y = toPixel(s * kUnitsPerSecond, longitude_).y();
    painter.drawLine(QPointF(0, y), QPointF(width(), y));
    if (y > 2 * metrics.height()) label(QPointF(4, y - 3), AngleText(s, true));
  }
  for (std::int64_t s = first(top.y(), stepX); s * kUnitsPerSecond <= bottom.y(); s += stepX) {
    if (s < 0) continue;
    const double x = toPixel(latitude_, s * kUnitsPerSecond).x();
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    label(QPointF(x + 3, 14), AngleText(s, false));
  }
}

void MapCanvas::drawScaleBar(QPainter& painter) const {
  // A round distance of at most about 160 pixels, at the middle latitude.
  const double metresPerPixel = MetresPerDegreeLatitude(middleLatitude_) / kUnitsPerDegree / zoom_;
  const double most = metresPerPixel * 160.0;
  double metres = std::pow(10.0, std::floor(std::log10(most)));
  for (const double m : {5.0, 2.0}) {
    if (metres * m <= most) {
      metres *= m;
      break;
    }
  }
  const double length = metres / metresPerPixel;
  const QString text = metres >= 1000.0 ? QStringLiteral("%1 km").arg(metres / 1000.0) : QStringLiteral("%1 m").arg(metres);
  const QPointF start(16, height() - 18);
  painter.setFont(MapFont(12));
  const QFontMetrics metrics(painter.font());
  painter.fillRect(QRectF(start.x() - 8, start.y() - metrics.height() - 10, length + 16 + metrics.horizontalAdvance(text) + 8,
                          metrics.height() + 22),
                   QColor(255, 255, 255, 210));
  painter.setPen(QPen(kInk, 2));
  painter.drawLine(start, start + QPointF(length, 0));
  painter.drawLine(start, start - QPointF(0, 6));
  painter.drawLine(start + QPointF(length, 0), start + QPointF(length, -6));
  painter.drawText(start + QPointF(length + 8, 0), text);
}

void MapCanvas::drawLegend(QPainter& painter) const {
  const std::size_t c = model_->column();
  const MapClasses& classes = model_->classes();
  const QFont titleFont = MapFont(13, true);
  const QFont rowFont = MapFont(12);
  const QFontMetrics titleMetrics(titleFont);
  const QFontMetrics rowMetrics(rowFont);
  const QString title = MapResultCaption(c);
  const QString unit = QStringLiteral("（%1）　5分位").arg(MapResultUnit(c));
  QStringList ranges;
  QStringList counts;
  for (std::size_t k = 0; k < classes.upper.size(); ++k) {
    ranges << ClassRangeText(classes, k);
    counts << QStringLiteral("%1 件").arg(classes.counts[k]);
  }
  if (ranges.isEmpty()) ranges << QStringLiteral("値がありません");
  int rangeWidth = 0;
  int countWidth = 0;
  for (const QString& r : ranges) rangeWidth = std::max(rangeWidth, rowMetrics.horizontalAdvance(r));
  for (const QString& n : counts) countWidth = std::max(countWidth, rowMetrics.horizontalAdvance(n));
  const int swatch = 18;
  const int line = std::max(swatch + 4, rowMetrics.height() + 4);
  const int width = std::max({titleMetrics.horizontalAdvance(title), titleMetrics.horizontalAdvance(unit),
                              swatch + 8 + rangeWidth + 16 + countWidth}) + 20;
  const int height = 2 * titleMetrics.height() + 14 + line * static_cast<int>(ranges.size()) + 6;
  const QRectF box(this->width() - width - 12, 12, width, height);
  painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  painter.setBrush(QColor(255, 255, 255, 235));
  painter.drawRect(box);
  painter.setPen(kInk);
  painter.setFont(titleFont);
  double y = box.top() + 8 + titleMetrics.ascent();
  painter.drawText(QPointF(box.left() + 10, y), title);
  y += titleMetrics.height();
  painter.drawText(QPointF(box.left() + 10, y), unit);
  y += 10;
  painter.setFont(rowFont);
  for (qsizetype k = 0; k < ranges.size(); ++k) {
    const QRectF sw(box.left() + 10, y, swatch, swatch);
    if (k < counts.size()) {
      painter.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
      painter.setBrush(ClassColor(static_cast<std::size_t>(k), classes.upper.size()));
      painter.drawRect(sw);
    }
    painter.setPen(kInk);
    const double baseline = y + (swatch + rowMetrics.ascent() - rowMetrics.descent()) / 2.0;
    painter.drawText(QPointF(sw.right() + 8, baseline), ranges[k]);
    if (k < counts.size()) {
      painter.drawText(QPointF(box.right() - 10 - rowMetrics.horizontalAdvance(counts[k]), baseline), counts[k]);
    }
    y += line;
  }
}

void MapCanvas::resizeEvent(QResizeEvent*) {
  // The whole map stays in view until the user has moved it.
  if (fitted_) fit();
}

void MapCanvas::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0.0) zoomBy(std::pow(1.25, steps), event->position());
  event->accept();
}

void MapCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  pressedAt_ = event->position();
  lastDrag_ = event->position();
  dragged_ = false;
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (pressedAt_ && (event->buttons() & Qt::LeftButton)) {
    if ((event->position() - *pressedAt_).manhattanLength() > 4) dragged_ = true;
    if (dragged_) {
      setCursor(Qt::ClosedHandCursor);
      panBy(event->position() - lastDrag_);
      lastDrag_ = event->position();
    }
    return;
  }
  byKeys_ = false;
  point(cellAt(event->position()));
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressedAt_) return QWidget::mouseReleaseEvent(event);
  pressedAt_.reset();
  setCursor(Qt::CrossCursor);
  if (dragged_) return;
  // A click, not a drag: the line of the cell.
  if (const std::optional<std::size_t> index = cellAt(event->position())) emit cellChosen(*index);
}

void MapCanvas::leaveEvent(QEvent*) {
  if (!byKeys_) point(std::nullopt);
}

void MapCanvas::keyPressEvent(QKeyEvent* event) {
  const double stepX = width() / 8.0;
  const double stepY = height() / 8.0;
  const QPointF middle(width() / 2.0, height() / 2.0);
  switch (event->key()) {
    case Qt::Key_Left: panBy(QPointF(stepX, 0)); break;
    case Qt::Key_Right: panBy(QPointF(-stepX, 0)); break;
    case Qt::Key_Up: panBy(QPointF(0, stepY)); break;
    case Qt::Key_Down: panBy(QPointF(0, -stepY)); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoomBy(1.5, middle); break;
    case Qt::Key_Minus: zoomBy(1.0 / 1.5, middle); break;
    case Qt::Key_0:
    case Qt::Key_Home: fit(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (const std::optional<std::size_t> index = cellAt(middle)) emit cellChosen(*index);
      return;
    default: return QWidget::keyPressEvent(event);
  }
  pointAtCross();
}

void MapCanvas::focusInEvent(QFocusEvent* event) {
  // A click points with the mouse; Tab and the like with the cross.
  if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::PopupFocusReason &&
      event->reason() != Qt::ActiveWindowFocusReason) {
    pointAtCross();
  }
  update();
}

void MapCanvas::focusOutEvent(QFocusEvent*) { update(); }

void MapCanvas::pointAtCross() {
  byKeys_ = true;
  update();
  point(cellAt(QPointF(width() / 2.0, height() / 2.0)));
}

void MapCanvas::point(std::optional<std::size_t> index) {
  if (index == pointed_) return;
  pointed_ = index;
  update();
  emit cellPointed(index);
}

// ------------------------------------------------------------------ view

MapView::MapView(Reporter& reporter, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), reporter_(reporter), dialogs_(dialogs) {
  setObjectName(QStringLiteral("MapView"));
  setWindowTitle(QStringLiteral("地図"));
  setFont(JapaneseFont());

  source_ = new QLabel(this);
  source_->setObjectName(QStringLiteral("mapSource"));
  source_->setAccessibleName(QStringLiteral("メッシュコードの列"));
  source_->setWordWrap(true);
  source_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  results_ = new QComboBox(this);
  results_->setObjectName(QStringLiteral("mapResult"));
  results_->setAccessibleName(QStringLiteral("色分けする結果"));
  auto* resultsLabel = new QLabel(QStringLiteral("色分けする結果(&R)："), this);
  resultsLabel->setBuddy(results_);
  connect(results_, &QComboBox::currentIndexChanged, this, &MapView::columnChosen);

  canvas_ = new MapCanvas(this);
  canvas_->setToolTip(QString());
  connect(canvas_, &MapCanvas::cellPointed, this, &MapView::describe);
  connect(canvas_, &MapCanvas::cellChosen, this, [this](std::size_t index) { explainCell(index); });

  pointed_ = new QLabel(this);
  pointed_->setObjectName(QStringLiteral("mapPointed"));
  pointed_->setAccessibleName(QStringLiteral("指しているメッシュ"));
  pointed_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  pointed_->setMinimumHeight(pointed_->fontMetrics().height() * 2);
  pointed_->setWordWrap(true);

  auto* hint = new QLabel(
      QStringLiteral("ホイール・＋／－で拡大縮小、ドラッグ・矢印キーで移動、0 で全体。"
                     "メッシュをクリック（キーでは中央の十字で Enter）するとその行の計算過程を開きます。"),
      this);
  hint->setWordWrap(true);
  hint->setForegroundRole(QPalette::PlaceholderText);

  save_ = new QPushButton(QStringLiteral("画像として保存(&P)..."), this);
  save_->setObjectName(QStringLiteral("mapSavePng"));
  save_->setAccessibleName(QStringLiteral("地図を画像として保存"));
  save_->setAutoDefault(false);
  connect(save_, &QPushButton::clicked, this, &MapView::saveClicked);
  saveMap_ = new QPushButton(QStringLiteral("地図ファイルに保存(&G)..."), this);
  saveMap_->setObjectName(QStringLiteral("mapSaveFile"));
  saveMap_->setAccessibleName(QStringLiteral("地図ファイル（GeoPackage など）に保存"));
  saveMap_->setAutoDefault(false);
  connect(saveMap_, &QPushButton::clicked, this, &MapView::saveMapClicked);
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName(QStringLiteral("closeButton"));
  close->setAccessibleName(QStringLiteral("閉じる"));
  close->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  auto* choice = new QHBoxLayout;
  choice->addWidget(resultsLabel);
  choice->addWidget(results_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(save_);
  buttons->addWidget(saveMap_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(source_);
  layout->addLayout(choice);
  layout->addWidget(canvas_, 1);
  layout->addWidget(pointed_);
  layout->addWidget(hint);
  layout->addLayout(buttons);
  setTabOrder(results_, canvas_);
  setTabOrder(canvas_, save_);
  setTabOrder(save_, saveMap_);
  setTabOrder(saveMap_, close);
  resize(980, 760);
}

MapView::~MapView() = default;

void MapView::showCells(std::shared_ptr<const MapCells> cells) {
  if (cells == cells_) return;  // the same run: the view stays as the user left it
  cells_ = std::move(cells);
  model_ = std::make_unique<MapModel>(cells_);
  const MapCells& m = *cells_;

  const QString title = QString::fromStdString(m.column.title);
  QString text = QStringLiteral("メッシュコード：%1列目").arg(m.column.field + 1);
  if (!title.isEmpty()) text += QStringLiteral("「%1」").arg(title);
  QStringList orders;
  for (const MapLayer& layer : model_->layers()) orders << OrderName(layer.order);
  if (!orders.isEmpty()) text += QStringLiteral("（%1）").arg(orders.join(QStringLiteral("・")));
  text += QStringLiteral("、地図に載った行 %1").arg(m.cells.size());
  if (m.withoutCell > 0) {
    text += QStringLiteral("。計算できた行のうちメッシュコードのない %1 行（最初は %2 行目）は載っていません")
                .arg(m.withoutCell)
                .arg(m.firstWithoutCell);
  }
  source_->setText(text + QStringLiteral("。"));

  const QSignalBlocker quiet(results_);
  results_->clear();
  for (const std::size_t c : kChoiceOrder) {
    if (m.hasValues(c)) results_->addItem(MapResultCaption(c), static_cast<int>(c));
  }
  results_->setCurrentIndex(0);
  // The model starts with the delay damage, the first choice.
  canvas_->setModel(model_.get());
  describe(std::nullopt);
}

void MapView::columnChosen() {
  if (!model_ || results_->currentIndex() < 0) return;
  model_->setColumn(static_cast<std::size_t>(results_->currentData().toInt()));
  canvas_->modelChanged();
}

void MapView::describe(std::optional<std::size_t> index) {
  if (!index || !model_) {
    pointed_->setText(QStringLiteral("メッシュを指すと、そのコードと結果をここに示します。"));
    QToolTip::hideText();
    return;
  }
  const MapCells& m = *cells_;
  const MeshCell cell = model_->meshCell(*index);
  QStringList parts;
  parts << QStringLiteral("メッシュコード %1（%2）、%3 行目")
               .arg(QString::fromStdString(cell.text()), OrderName(cell.order))
               .arg(m.cells[*index].line);
  const std::size_t shared = model_->linesInCell(*index);
  if (shared > 1) parts.last() += QStringLiteral("（このメッシュの %1 行のうち最後の行）").arg(shared);
  QStringList values;
  for (const std::size_t c : kChoiceOrder) {
    if (!m.hasValues(c)) continue;
    values << QStringLiteral("%1 %2（%3）").arg(MapResultCaption(c), Seven(m.values[c][*index]), MapResultUnit(c));
  }
  parts << values.join(QStringLiteral("、"));
  pointed_->setText(parts.join(QLatin1Char('\n')));
  // Beside the mouse only the result shown, so as to hide little of the map.
  const std::size_t shown = model_->column();
  if (canvas_->underMouse()) {
    QToolTip::showText(QCursor::pos(),
                       parts[0] + QLatin1Char('\n') +
                           QStringLiteral("%1 %2（%3）")
                               .arg(MapResultCaption(shown), Seven(m.values[shown][*index]), MapResultUnit(shown)),
                       canvas_);
  }
}

bool MapView::explainCell(std::size_t index) {
  if (!cells_ || index >= cells_->cells.size()) return false;
  const MapCells& m = *cells_;
  const std::uint32_t line = m.cells[index].line;
  const std::optional<std::string> row = ReadFileLine(m.input, line);
  const CommonSettingTexts texts = {m.settingTexts[0], m.settingTexts[1], m.settingTexts[2], m.settingTexts[3]};
  std::optional<Explanation> e;
  if (row) e = ExplainRow(*row, m.mode, texts, m.settings, m.table, m.gapTableFile);
  // The line must still give what the map shows: the input may have been
  // changed since the run.
  bool same = e && e->computed();
  const std::array<float, 4> results = {e ? e->results.PreferenceFactor : 0.0f, e ? e->results.WillingnessToPay : 0.0f,
                                        e ? e->results.OptimalCoverage : 0.0f, e ? e->results.DelayDamage : 0.0f};
  for (std::size_t c = 0; same && c < 4; ++c) {
    if (!m.hasValues(c)) continue;
    const std::string text = FormatBatchNumber(results[c]);
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    same = value == m.values[c][index];
  }
  if (!same) {
    reporter_.error(QStringLiteral("入力ファイルの %1 行目が一括計算のときと違うため、計算過程を示せません。\n"
                                   "一括計算をやり直してください。")
                        .arg(line)
                        .toStdString());
    return false;
  }
  if (explain_ == nullptr) explain_ = new ExplainDialog(this);
  explain_->showCalculation(*e, false);
  explain_->setWindowTitle(QStringLiteral("計算過程（%1 行目、メッシュ %2）")
                               .arg(line)
                               .arg(QString::fromStdString(model_->meshCell(index).text())));
  explain_->show();
  explain_->raise();
  explain_->activateWindow();
  return true;
}

bool MapView::savePng(const QString& file) {
  if (QLayout* l = layout(); l != nullptr && !isVisible()) l->activate();
  return canvas_->grab().save(file, "PNG");
}

void MapView::saveClicked() {
  const QString folder = cells_ ? QFileInfo(NativePathText(cells_->input)).absolutePath() : QString();
  QString file = dialogs_.showSaveDialog(this, QStringLiteral("PNGファイル(*.png)"), folder, QStringLiteral("Map.png"));
  if (file.isEmpty()) return;
  if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) file += QStringLiteral(".png");
  if (!savePng(file)) reporter_.error(QStringLiteral("%1\n画像を保存できませんでした。").arg(file).toStdString());
}

void MapView::saveMapClicked() {
  if (!cells_) return;
  const QString extension = QString::fromLatin1(DefaultMapExtension());
  QString file = dialogs_.showSaveDialog(this, QString::fromLatin1(MapFileFilter()),
                                         QFileInfo(NativePathText(cells_->input)).absolutePath(),
                                         QStringLiteral("Map") + extension);
  if (file.isEmpty()) return;
  if (!map::MapFormatOf(std::filesystem::path(file.toStdU16String()))) file += extension;
  saveMapFile(file);
}

bool MapView::saveMapFile(const QString& file) {
  if (!cells_) return false;
  // The thread works on its own copies: a new run may replace the map
  // meanwhile.
  const BatchSummary run = cells_->run;
  const std::filesystem::path target(file.toStdU16String());
  form::HeldMessages messages;
  std::atomic<bool> ended{false};
  bool saved = false;
  save_->setEnabled(false);
  saveMap_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    std::jthread work([&] {
      saved = SaveMapFile(run, target, messages);
      ended.store(true);
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    connect(&poll, &QTimer::timeout, &loop, [&] {
      if (ended.load()) loop.quit();
    });
    poll.start();
    loop.exec();
  } catch (const std::system_error&) {
    // No thread to be had: the window waits.
    if (!ended.load()) saved = SaveMapFile(run, target, messages);
  }
  QApplication::restoreOverrideCursor();
  save_->setEnabled(true);
  saveMap_->setEnabled(true);
  messages.passOn(reporter_);
  return saved;
}

}  // namespace velmora
