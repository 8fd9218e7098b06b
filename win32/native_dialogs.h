#pragma once
// The system's own file dialogs and message boxes, owned by the window.
#include <windows.h>

#include "core/reporter.h"
#include "form/file_dialogs.h"

namespace velmora::win32 {

// GetOpenFileNameW / GetSaveFileNameW with wide paths throughout.
class NativeFileDialogs : public form::FileDialogs {
 public:
  explicit NativeFileDialogs(HWND owner) : owner_(owner) {}
  std::optional<std::filesystem::path> choose(const form::FileRequest& request) override;

 private:
  HWND owner_;
};

// MessageBoxW: caption "Velmora", one OK button, the error or the
// information icon. Details follow the note after a blank line.
class MessageBoxReporter : public Reporter {
 public:
  explicit MessageBoxReporter(HWND owner) : owner_(owner) {}
  void error(std::string_view message) override;
  void info(std::string_view message) override;
  void infoWithDetails(std::string_view message, std::string_view details) override;

 private:
  HWND owner_;
};

}  // namespace velmora::win32
