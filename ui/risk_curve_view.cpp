#include "ui/risk_curve_view.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScatterSeries>
#include <QShortcut>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/chart_parts.h"
#include "ui/file_dialogs.h"
#include "ui/gap_table_dialog.h"
#include "ui/japanese_font.h"

namespace velmora {
namespace {

constexpr int kPieces = 32;  // per segment, straight in p
const QColor kDirectColor(0x3a, 0x70, 0xb0);
const QColor kDelayColor(0xd0, 0x6a, 0x1a);

QString Seven(double value) { return QString::fromStdString(SevenDigitsAsWritten(value)); }

// The curve of one total, shaded down to 0, and its scenarios as points.
QAreaSeries* Area(const QList<QPointF>& points, const QColor& color, const QString& name) {
  auto* upper = new QLineSeries;
  upper->append(points);
  auto* lower = new QLineSeries;
  for (const QPointF& p : points) lower->append(p.x(), 0.0);
  auto* area = new QAreaSeries(upper, lower);
  // The area series does not own its two lines: it takes them with it.
  upper->setParent(area);
  lower->setParent(area);
  area->setName(name);
  QPen pen(color);
  pen.setWidth(2);
  area->setPen(pen);
  QColor fill = color;
  fill.setAlpha(55);
  area->setBrush(fill);
  return area;
}

double NiceTop(double top) {
  if (!(top > 0.0)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(top)));
  for (const double m : {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
    if (m * power >= top * 1.08) return m * power;
  }
  return 12.0 * power;
}

}  // namespace

QList<QPointF> RiskCurvePoints(const ExceedanceCurve& curve, const std::vector<double>& totals, const EadRule& rule,
                               double leftEdge) {
  QList<QPointF> points;
  const std::size_t n = curve.probabilities.size();
  if (n == 0) return points;
  const auto d = [&](std::size_t i) { return totals[curve.order[i]]; };
  const auto segment = [&](double p0, double d0, double p1, double d1) {
    for (int k = points.isEmpty() ? 0 : 1; k <= kPieces; ++k) {
      const double t = static_cast<double>(k) / kPieces;
      points.append(QPointF(p0 + (p1 - p0) * t, d0 + (d1 - d0) * t));
    }
  };
  if (rule.zeroDamageReturnPeriod != 0.0) segment(1.0 / rule.zeroDamageReturnPeriod, 0.0, curve.probabilities[0], d(0));
  if (points.isEmpty()) points.append(QPointF(curve.probabilities[0], d(0)));
  for (std::size_t i = 0; i + 1 < n; ++i) segment(curve.probabilities[i], d(i), curve.probabilities[i + 1], d(i + 1));
  if (rule.tail == EadTail::Flat) points.append(QPointF(leftEdge, d(n - 1)));
  return points;
}

RiskCurveView::RiskCurveView(QWidget* parent)
    : QWidget(parent, Qt::Window), ownDialogs_(std::make_unique<QtFileDialogs>()), dialogs_(ownDialogs_.get()) {
  setObjectName(QStringLiteral("RiskCurveView"));
  setWindowTitle(QStringLiteral("リスクカーブ"));
  setFont(JapaneseFont());
  chart_ = new QChart;
  view_ = MakeChartView(chart_, this, QStringLiteral("リスクカーブ：超過確率と被害額の合計"));
  view_->setMinimumSize(640, 400);
  note_ = MakeInfoLabel(this, "riskCurveNote", QStringLiteral("年平均被害額と積分の規則"));
  save_ = new QPushButton(QStringLiteral("画像として保存(&P)..."), this);
  save_->setObjectName(QStringLiteral("saveButton"));
  save_->setAccessibleName(QStringLiteral("リスクカーブを画像として保存"));
  connect(save_, &QPushButton::clicked, this, &RiskCurveView::saveClicked);
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName(QStringLiteral("closeButton"));
  close->setAccessibleName(QStringLiteral("閉じる"));
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(save_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_, 1);
  layout->addWidget(note_);
  layout->addLayout(buttons);
  setTabOrder(view_, note_);
  setTabOrder(note_, save_);
  setTabOrder(save_, close);
  resize(900, 680);
  close->setFocus();
}

RiskCurveView::~RiskCurveView() = default;

void RiskCurveView::setFileDialogs(FileDialogs* dialogs) { dialogs_ = dialogs; }

void RiskCurveView::showSummary(const ScenarioSummary& s) {
  chart_->removeAllSeries();
  for (QAbstractAxis* axis : chart_->axes()) {
    chart_->removeAxis(axis);
    delete axis;
  }
  outputFolder_ = QFileInfo(NativePathText(s.output)).absolutePath();
  const QString counts = QStringLiteral("シナリオ %1、世帯 %2（期待値あり %3、計算できないシナリオがあり期待値なし %4）")
                             .arg(s.scenarios.size())
                             .arg(s.households)
                             .arg(s.withExpected)
                             .arg(s.withoutExpected);
  if (!s.expected || s.curve.probabilities.empty()) {
    chart_->setTitle(QStringLiteral("リスクカーブはありません"));
    note_->setText(counts + QStringLiteral("\n再現期間のないシナリオがあるため、超過確率に対する被害額は描けません。"));
    save_->setEnabled(false);
    return;
  }
  save_->setEnabled(true);
  const std::vector<double>& p = s.curve.probabilities;
  const double rare = p.back();
  const double frequent = s.rule.zeroDamageReturnPeriod != 0.0 ? 1.0 / s.rule.zeroDamageReturnPeriod : p.front();
  const double left = rare / 4.0;
  const double right = std::min(1.0, frequent * 2.0);
  std::vector<double> direct, delay;
  for (const ScenarioFigures& f : s.scenarios) {
    direct.push_back(f.totalDirect);
    delay.push_back(f.totalDelay);
  }
  auto* directArea = Area(RiskCurvePoints(s.curve, direct, s.rule, left), kDirectColor,
                          QStringLiteral("直接被害額（家屋＋家財）の合計（左軸）"));
  auto* delayArea = Area(RiskCurvePoints(s.curve, delay, s.rule, left), kDelayColor,
                         QStringLiteral("復旧遅延被害額の合計（右軸）"));
  chart_->addSeries(directArea);
  chart_->addSeries(delayArea);
  std::vector<QScatterSeries*> points;
  for (std::size_t i = 0; i < s.scenarios.size(); ++i) {
    const ScenarioFigures& f = s.scenarios[i];
    const double at = 1.0 / *f.scenario.returnPeriod;
    for (const bool isDelay : {false, true}) {
      auto* point = new QScatterSeries;
      point->setMarkerSize(9.0);
      point->setColor(isDelay ? kDelayColor : kDirectColor);
      point->setBorderColor(Qt::white);
      point->append(at, isDelay ? f.totalDelay : f.totalDirect);
      if (isDelay) {
        point->setPointLabelsFormat(QString::fromStdString(f.scenario.name));
        point->setPointLabelsVisible(true);
        point->setPointLabelsClipping(false);
        QFont font = JapaneseFont();
        font.setPixelSize(12);
        point->setPointLabelsFont(font);
        point->setPointLabelsColor(QColor(0x50, 0x30, 0x10));
      }
      chart_->addSeries(point);
      points.push_back(point);
    }
  }
  auto* x = new QLogValueAxis;
  x->setBase(10.0);
  x->setLabelFormat(QStringLiteral("%g"));
  x->setMinorTickCount(-1);
  x->setTitleText(QStringLiteral("年超過確率 p = 1/T（対数目盛）"));
  x->setRange(left, right);
  auto* yDirect = new QValueAxis;
  yDirect->setTitleText(QStringLiteral("直接被害額の合計（百万円）"));
  yDirect->setRange(0.0, NiceTop(*std::max_element(direct.begin(), direct.end())));
  yDirect->setLabelsColor(kDirectColor.darker(130));
  auto* yDelay = new QValueAxis;
  yDelay->setTitleText(QStringLiteral("復旧遅延被害額の合計（百万円）"));
  yDelay->setRange(0.0, NiceTop(*std::max_element(delay.begin(), delay.end())));
  yDelay->setLabelsColor(kDelayColor.darker(130));
  for (QValueAxis* y : {yDirect, yDelay}) {
    y->setTickCount(6);
    y->setLabelFormat(QStringLiteral("%.6g"));
  }
  chart_->addAxis(x, Qt::AlignBottom);
  chart_->addAxis(yDirect, Qt::AlignLeft);
  chart_->addAxis(yDelay, Qt::AlignRight);
  directArea->attachAxis(x);
  directArea->attachAxis(yDirect);
  delayArea->attachAxis(x);
  delayArea->attachAxis(yDelay);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i]->attachAxis(x);
    points[i]->attachAxis(i % 2 == 1 ? yDelay : yDirect);
    for (QLegendMarker* marker : chart_->legend()->markers(points[i])) marker->setVisible(false);
  }
  StyleChart(*chart_);
  chart_->setTitle(QStringLiteral("リスクカーブ（網掛けの面積が年平均被害額）"));
  QString note = QStringLiteral("年平均直接被害額 %1（百万円）、年平均復旧遅延被害額 %2（百万円）\n")
                     .arg(Seven(s.expectedDirect), Seven(s.expectedDelay));
  note += QStringLiteral("積分：") + QString::fromStdString(EadRuleText(s.rule));
  if (s.rule.tail == EadTail::Flat) note += QStringLiteral("（図の左端より先も p = 0 まで続く）");
  note += QLatin1Char('\n') + counts +
          QStringLiteral("。点は各シナリオで期待値を求めた世帯の合計、年平均被害額はその世帯ごとの期待値の合計です。");
  note_->setText(note);
}

bool RiskCurveView::savePng(const QString& file) {
  if (QLayout* l = layout(); l != nullptr && !isVisible()) l->activate();
  return view_->grab().save(file, "PNG");
}

void RiskCurveView::saveClicked() {
  QString file = dialogs_->showSaveDialog(this, QStringLiteral("PNGファイル(*.png)"), outputFolder_,
                                          QStringLiteral("RiskCurve.png"));
  if (file.isEmpty()) return;
  if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) file += QStringLiteral(".png");
  if (savePng(file)) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Velmora"),
                  QStringLiteral("%1\n画像を保存できませんでした。").arg(file), QMessageBox::Ok, this);
  box.setFont(JapaneseFont());
  box.exec();
}

}  // namespace velmora
