#pragma once
// The one window of velmora.exe: the layout's controls as native controls,
// 15 twips to a pixel at 96 dots per inch and scaled by the monitor's, over
// the form that decides what each of them does.
#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "form/form.h"
#include "win32/native_dialogs.h"
#include "win32/registry_store.h"

namespace velmora::win32 {

class MainWindow : public form::FormView {
 public:
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;

  // Creates and shows the window; false when it could not be created.
  bool create(int show);
  HWND hwnd() const { return hwnd_; }
  // Keys the window handles before the control that has the focus: Tab in
  // the layout's order, access keys, Enter and Escape doing nothing. True
  // when the message was handled.
  bool preTranslate(MSG& msg);
  // The session or the console ends: the settings are kept as on a close.
  void sessionEnds();

  // form::FormView
  std::string text(std::string_view box) const override;
  void setText(std::string_view box, std::string_view text) override;
  void setEnabled(std::string_view control, bool enabled) override;
  bool isChecked(std::string_view control) const override;
  void setChecked(std::string_view control, bool checked) override;
  void focusBox(std::string_view box) override;
  void showBatchRunning(bool running) override;
  void showBatchShare(const form::BatchShare& share) override;
  void postBatchEnded() override;
  std::string decimalSeparator() const override;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void createMenus();
  void applyDpi(UINT dpi);
  int px(int twips) const { return MulDiv(twips, static_cast<int>(dpi_), 1440); }
  HWND control(std::string_view name) const;
  int controlIndex(HWND hwnd) const;
  int menuId(std::string_view name) const;
  void onCommand(int id);
  void drawLabel(const DRAWITEMSTRUCT& item);
  void tab(bool back);
  void openView(int which);
  void refreshViews();
  std::wstring viewText(int which) const;
  void closeWindow();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  HFONT font_ = nullptr;
  HBRUSH resultBrush_ = nullptr;
  HMENU menuBar_ = nullptr;
  std::vector<HWND> controls_;  // in the order of form::Controls()
  HWND lastFocus_ = nullptr;
  bool busy_ = false;
  bool closed_ = false;
  std::array<HWND, 3> views_{};

  std::unique_ptr<MessageBoxReporter> reporter_;
  std::unique_ptr<NativeFileDialogs> dialogs_;
  RegistryStore store_;
  std::unique_ptr<form::Form> form_;
};

}  // namespace velmora::win32
