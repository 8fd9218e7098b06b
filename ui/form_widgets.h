#pragma once
// The layout's controls as Qt widgets, and the window's file dialogs and
// settings as the form asks for them.
#include <QString>
#include <filesystem>
#include <string_view>

#include "form/file_dialogs.h"
#include "form/layout.h"
#include "ui/file_dialogs.h"

class QWidget;

namespace velmora {

// Twips to device-independent pixels: the window is laid out in twips, 15 to
// a pixel.
constexpr int Px(int twips) { return twips / 15; }
// The progress bar's steps.
constexpr int kProgressSteps = 1000;

inline QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// A path from a box's text, in the file system's encoding, and back.
std::filesystem::path FilePath(const QString& text);
QString PathText(const std::filesystem::path& path);

// Every control of the layout on `client` (named "client"), each as its kind
// is drawn, named, placed and captioned, each box named by its item label;
// hidden when it shows only while a batch runs.
void BuildControls(QWidget& client);

// Asks the window's file dialogs what the form requests; the window gets
// the focus back afterwards.
class DialogsForForm : public form::FileDialogs {
 public:
  DialogsForForm(velmora::FileDialogs& dialogs, QWidget& owner) : dialogs_(dialogs), owner_(owner) {}
  std::optional<std::filesystem::path> choose(const form::FileRequest& request) override;

 private:
  velmora::FileDialogs& dialogs_;
  QWidget& owner_;
};

}  // namespace velmora
