#include "ui/form_widgets.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>

#include "ui/text_box.h"
#include "ui/window_focus.h"
#include "ui/wrap_label.h"

namespace velmora {
namespace {

using form::Kind;

QWidget* MakeBox(const form::Control& c, QWidget* parent) {
  auto* box = new TextBox(parent);
  if (c.kind == Kind::File) {
    box->setReadOnly(true);
    // A long path does not fit its box: the tool tip shows it whole.
    QObject::connect(box, &QLineEdit::textChanged, box, &QWidget::setToolTip);
    return box;
  }
  box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  if (c.kind == Kind::Numeric) {
    // Numbers only: no kana-kanji composition while typing.
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    box->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhLatinOnly);
  } else {
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, QColor(192, 192, 255));
    box->setPalette(palette);
  }
  return box;
}

QWidget* MakeControl(const form::Control& c, QWidget* parent) {
  switch (c.kind) {
    case Kind::Frame:
      return new QGroupBox(Q(c.caption), parent);
    case Kind::Check:
      return new QCheckBox(Q(c.caption), parent);
    case Kind::Label:
    case Kind::RightLabel:
      return new WrapLabel(Q(c.caption), c.kind == Kind::RightLabel ? Qt::AlignRight : Qt::AlignLeft, parent);
    case Kind::Button: {
      auto* button = new QPushButton(Q(c.caption), parent);
      // Enter and Escape trigger nothing.
      button->setAutoDefault(false);
      button->setDefault(false);
      if (c.name == "cmdCancelAll") button->setAccessibleName(QStringLiteral("一括計算を中止"));
      return button;
    }
    case Kind::Line: {
      auto* line = new QFrame(parent);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Plain);
      line->setLineWidth(1);
      return line;
    }
    case Kind::Progress: {
      // The bar shows the share and the time left itself.
      auto* bar = new QProgressBar(parent);
      bar->setRange(0, kProgressSteps);
      bar->setAlignment(Qt::AlignCenter);
      bar->setAccessibleName(QStringLiteral("一括計算の進み具合"));
      bar->setFocusPolicy(Qt::NoFocus);
      return bar;
    }
    case Kind::Numeric:
    case Kind::Result:
    case Kind::File:
      return MakeBox(c, parent);
  }
  return nullptr;
}

}  // namespace

std::filesystem::path FilePath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QString PathText(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

void BuildControls(QWidget& client) {
  for (const form::Control& c : form::Controls()) {
    // The Qt bar shows its text itself: no label over it.
    if (c.name == "lblProgress") continue;
    QWidget* parent = c.parent == "client" ? &client : client.findChild<QWidget*>(Q(c.parent));
    QWidget* w = MakeControl(c, parent);
    w->setObjectName(Q(c.name));
    w->setGeometry(Px(c.left), Px(c.top), Px(c.width), c.kind == Kind::Line ? 1 : Px(c.height));
    if (c.tab < 0 && c.kind != Kind::Line) w->hide();
    // Each box is known by its item label, not by its frame's caption.
    if (c.kind == Kind::Numeric || c.kind == Kind::Result || c.kind == Kind::File) {
      const form::Control* item = form::ItemLabel(c.name);
      client.findChild<WrapLabel*>(Q(item->name))->setBuddy(w);
      w->setAccessibleName(Q(form::AccessibleName(*item)));
    }
  }
}

std::optional<std::filesystem::path> DialogsForForm::choose(const form::FileRequest& r) {
  const RegainFocus regain(&owner_);
  const QString folder = PathText(r.folder);
  const QString chosen = r.purpose == form::FileRequest::Purpose::Open
                             ? dialogs_.showOpenDialog(&owner_, Q(r.filterName), folder)
                             : dialogs_.showSaveDialog(&owner_, Q(r.filterName), folder, Q(r.defaultName));
  if (chosen.isEmpty()) return std::nullopt;
  return FilePath(chosen);
}

}  // namespace velmora
