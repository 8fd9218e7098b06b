#include "ui/explain_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "form/settings.h"
#include "ui/chart_parts.h"
#include "ui/japanese_font.h"

namespace velmora {
namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// The window's item names of the four setting boxes.
constexpr const char* kSettingLabels[4] = {"保険加入率", "被害の発生確率", "利子率", "マークアップ率"};

// The Japanese name of each quantity the list shows; the identifier (the
// tool's name for it) stands beside it.
struct QuantityName {
  std::string_view identifier;
  const char* japanese;
};
constexpr QuantityName kQuantityNames[] = {
    {"TotalDamage", "被害額の合計"},
    {"DamageRatio", "被害率"},
    {"PropertyValue", "物的資産額"},
    {"LiquidAssets", "流動資産額"},
    {"DepreciationRate", "減価償却率"},
    {"UserCost", "使用者費用"},
    {"PreferenceFactor", "家計の選好特性"},
    {"WillingnessToPay", "住民の治水投資に対する支払い意思額"},
    {"OptimalCoverage", "保険の最適カバー率"},
    {"CoveredAmount", "保険でカバーされる額"},
    {"DamageBand", "被害率の区分"},
    {"InsuredRow", "保険加入時の区分"},
    {"UninsuredDamageTerm", "保険なしの被害の項"},
    {"UninsuredAssetTerm", "保険なしの資産の項"},
    {"InsuredDamageTerm", "保険ありの被害の項"},
    {"InsuredAssetTerm", "保険ありの資産の項"},
    {"UninsuredGap", "保険なしのギャップ"},
    {"InsuredGap", "保険ありのギャップ"},
    {"DamageTerm", "被害の項"},
    {"AssetTerm", "資産の項"},
    {"Gap", "ギャップ"},
    {"GapKey", "ギャップ分布表のキー"},
    {"GapValue", "ギャップ分布表の値"},
    {"LiquidityFactor", "流動性の係数"},
    {"DamageWeightedMean", "被害の加重平均"},
    {"DelayDamage", "流動性制約に伴う復旧遅延被害額"},
};

QString JapaneseName(std::string_view identifier) {
  for (const QuantityName& n : kQuantityNames) {
    if (n.identifier == identifier) return QString::fromUtf8(n.japanese);
  }
  return QString::fromUtf8(identifier.data(), static_cast<qsizetype>(identifier.size()));
}

const NamedQuantity* Find(const Explanation& e, std::string_view name) {
  for (const NamedQuantity& q : e.quantities) {
    if (q.name == name) return &q;
  }
  return nullptr;
}

QLabel* MakeValueLabel(QWidget* parent, const QString& caption) {
  auto* label = new ValueLabel(parent, caption);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

}  // namespace

ExplainDialog::ExplainDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ExplainDialog"));
  setWindowTitle(QStringLiteral("計算過程"));
  setFont(JapaneseFont());

  auto* form = new QFormLayout;
  mode_ = MakeValueLabel(this, QStringLiteral("計算のモード"));
  form->addRow(QStringLiteral("計算のモード："), mode_);
  for (int k = 0; k < 4; ++k) {
    const QString name = QString::fromUtf8(kSettingLabels[k]);
    settings_[k] = MakeValueLabel(this, name);
    form->addRow(name + QStringLiteral("："), settings_[k]);
  }
  table_ = MakeValueLabel(this, QStringLiteral("ギャップ分布表"));
  form->addRow(QStringLiteral("ギャップ分布表："), table_);
  entry_ = MakeValueLabel(this, QStringLiteral("読んだ項目"));
  form->addRow(QStringLiteral("読んだ項目："), entry_);

  stale_ = new ValueLabel(this, QStringLiteral("注意"));
  stale_->setText(QStringLiteral("直前の計算は失敗しました。表示は最後に成功した計算です。"));
  stale_->setObjectName(QStringLiteral("stale"));
  stale_->setWordWrap(true);
  stale_->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
  stale_->hide();

  list_ = new QTableWidget(0, 3, this);
  list_->setObjectName(QStringLiteral("quantities"));
  list_->setAccessibleName(QStringLiteral("計算過程の一覧"));
  list_->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("識別子"), QStringLiteral("値")});
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setTabKeyNavigation(false);  // Tab leaves the list for the buttons
  list_->verticalHeader()->hide();
  // One text line a row, so that the whole list fits without scrolling.
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setAlternatingRowColors(true);
  list_->setShowGrid(false);
  list_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  list_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->horizontalHeader()->setStretchLastSection(true);

  auto* buttons = new QDialogButtonBox(this);
  copy_ = buttons->addButton(QStringLiteral("コピー(&C)"), QDialogButtonBox::ActionRole);
  copy_->setObjectName(QStringLiteral("copy"));
  copy_->setAccessibleName(QStringLiteral("コピー"));
  close_ = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
  close_->setObjectName(QStringLiteral("close"));
  close_->setAccessibleName(QStringLiteral("閉じる"));
  connect(copy_, &QPushButton::clicked, this, &ExplainDialog::copyToClipboard);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(stale_);
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);
  setTabOrder(list_, copy_);
  setTabOrder(copy_, close_);
  resize(680, 640);
}

void ExplainDialog::showCalculation(const Explanation& explanation, bool lastAttemptFailed) {
  explanation_ = explanation;
  const Explanation& e = explanation_;

  mode_->setText(Text(std::string(form::ModeText(e.mode))));
  const float singles[4] = {e.settings.InsuranceRate, e.settings.DamageProbability, e.settings.InterestRate,
                            e.settings.MarkupRate};
  for (int k = 0; k < 4; ++k) {
    const bool used = form::UsedInMode(form::kSettings[static_cast<std::size_t>(k)].key, e.mode);
    const NamedQuantity single{"", QuantityKind::Single, singles[k], {}};
    settings_[k]->setText(Text(e.settingTexts[static_cast<std::size_t>(k)]) +
                          (used ? QStringLiteral("（単精度 %1）").arg(Text(QuantityText(single)))
                                : QStringLiteral("（このモードでは使わない）")));
  }
  table_->setText(QFile::decodeName(QByteArray::fromStdString(e.gapTable.string())));

  const NamedQuantity* key = Find(e, "GapKey");
  const NamedQuantity* value = Find(e, "GapValue");
  if (key != nullptr && key->kind == QuantityKind::Key && value != nullptr) {
    const int k = static_cast<int>(key->value);
    entry_->setText(QStringLiteral("キー %1（ギャップ %2）の値 %3")
                        .arg(k)
                        .arg(QString::number(k / 10.0, 'f', 1), Text(QuantityText(*value))));
  } else {
    entry_->setText(QStringLiteral("なし（ギャップが -20 ～ 100 の外にあり、値は 0）"));
  }

  list_->setRowCount(static_cast<int>(e.quantities.size()));
  for (int row = 0; row < list_->rowCount(); ++row) {
    const NamedQuantity& q = e.quantities[static_cast<std::size_t>(row)];
    list_->setItem(row, 0, new QTableWidgetItem(JapaneseName(q.name)));
    list_->setItem(row, 1, new QTableWidgetItem(QString::fromUtf8(q.name.data(), static_cast<qsizetype>(q.name.size()))));
    auto* item = new QTableWidgetItem(Text(QuantityText(q)));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    list_->setItem(row, 2, item);
  }
  stale_->setVisible(lastAttemptFailed);
}

QString ExplainDialog::text() const { return Text(ExplanationText(explanation_)); }

void ExplainDialog::copyToClipboard() const { QGuiApplication::clipboard()->setText(text()); }

}  // namespace velmora
