#include "win32/main_window.h"

#include <commctrl.h>
#include <imm.h>

#include <algorithm>

#include "platform/platform.h"
#include "core/number_text.h"
#include "form/layout.h"
#include "win32/text.h"

namespace velmora::win32 {
namespace {

using form::Control;
using form::Kind;

constexpr wchar_t kClassName[] = L"VelmoraMain";
constexpr wchar_t kViewClassName[] = L"VelmoraView";
constexpr UINT kBatchEnded = WM_APP + 1;
constexpr UINT_PTR kShareTimer = 1;
constexpr UINT kShareTimerMs = 100;
constexpr int kFirstControlId = 100;
constexpr int kFirstMenuId = 1000;
constexpr COLORREF kResultColour = RGB(192, 192, 255);
// No WS_CLIPCHILDREN: the group boxes draw no inside of their own.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

constexpr const char* kViewMenus[3] = {"menExplain", "menGapTable", "menBatchSummary"};

UINT WindowDpi(HWND hwnd) {
  const UINT dpi = hwnd ? GetDpiForWindow(hwnd) : 0;
  if (dpi != 0) return dpi;
  HDC screen = GetDC(nullptr);
  const int logical = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return logical > 0 ? static_cast<UINT>(logical) : 96;
}

// The system's message font at the window's DPI (Yu Gothic UI or Meiryo UI
// on a Japanese Windows).
HFONT MessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), 96);
  }
  metrics.lfMessageFont.lfCharSet = SHIFTJIS_CHARSET;
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

int TextWidth(HFONT font, const std::wstring& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size.cx;
}

const wchar_t* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::Frame:
    case Kind::Check:
    case Kind::Button:
      return L"BUTTON";
    case Kind::Numeric:
    case Kind::Result:
    case Kind::File:
      return L"EDIT";
    case Kind::Progress:
      return PROGRESS_CLASSW;
    default:
      return L"STATIC";
  }
}

DWORD StyleOf(const Control& c) {
  DWORD style = WS_CHILD;
  // The controls of a running batch show only then.
  if (c.tab >= 0 || c.kind == Kind::Line) style |= WS_VISIBLE;
  switch (c.kind) {
    case Kind::Frame:
      return style | BS_GROUPBOX;
    case Kind::Check:
      return style | BS_AUTOCHECKBOX | WS_TABSTOP;
    case Kind::Button:
      return style | BS_PUSHBUTTON | WS_TABSTOP;
    case Kind::Numeric:
      return style | ES_AUTOHSCROLL | ES_RIGHT | WS_TABSTOP;
    case Kind::Result:
      return style | ES_AUTOHSCROLL | ES_RIGHT | ES_READONLY | WS_TABSTOP;
    case Kind::File:
      return style | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP;
    case Kind::Line:
      return style | SS_ETCHEDHORZ;
    case Kind::Label:
    case Kind::RightLabel:
      // Drawn here: wrapped within the label's width, as the Qt window does.
      return style | SS_OWNERDRAW | SS_NOPREFIX;
    case Kind::Progress:
      return style;
  }
  return style;
}

// The label's text in lines that fit `width`, breaking between any two
// characters but never before a closing mark.
std::vector<std::wstring> WrapLines(HDC dc, const std::wstring& text, int width) {
  static const std::wstring kNoLineStart = L"：）、。」";
  std::vector<std::wstring> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    int fit = 0;
    SIZE size{};
    GetTextExtentExPointW(dc, text.c_str() + from, static_cast<int>(text.size() - from), width, &fit, nullptr, &size);
    std::size_t take = static_cast<std::size_t>(std::max(fit, 1));
    while (take > 1 && from + take < text.size() && kNoLineStart.find(text[from + take]) != std::wstring::npos) {
      --take;
    }
    lines.push_back(text.substr(from, take));
    from += take;
  }
  return lines;
}

LRESULT CALLBACK ViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) {
    if (HWND edit = GetWindow(hwnd, GW_CHILD)) MoveWindow(edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  // The form first: a batch still running is cancelled and waited for while
  // the window it reports to still exists.
  form_.reset();
  if (font_) DeleteObject(font_);
  if (resultBrush_) DeleteObject(resultBrush_);
}

bool MainWindow::create(int show) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &MainWindow::Proc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return false;
  WNDCLASSEXW view = wc;
  view.lpfnWndProc = &ViewProc;
  view.lpszClassName = kViewClassName;
  RegisterClassExW(&view);

  resultBrush_ = CreateSolidBrush(kResultColour);
  const std::wstring caption = Wide(form::kWindowCaption);
  hwnd_ = CreateWindowExW(kExStyle, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                          nullptr, nullptr, instance_, this);
  if (!hwnd_) return false;
  createMenus();
  createControls();
  applyDpi(WindowDpi(hwnd_));

  reporter_ = std::make_unique<MessageBoxReporter>(hwnd_);
  dialogs_ = std::make_unique<NativeFileDialogs>(hwnd_);
  form_ = std::make_unique<form::Form>(*this, *reporter_, *dialogs_, store_, platform::ProgramFolder(),
                                       platform::UserSettingsFolder());
  form_->load();
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  lastFocus_ = control("chkRP");
  SetFocus(lastFocus_);
  return true;
}

void MainWindow::createMenus() {
  menuBar_ = CreateMenu();
  HMENU current = nullptr;
  const auto menus = form::Menus();
  for (std::size_t i = 0; i < menus.size(); ++i) {
    const std::wstring caption = Wide(menus[i].caption);
    if (menus[i].menu.empty()) {
      current = CreatePopupMenu();
      AppendMenuW(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(current), caption.c_str());
    } else {
      AppendMenuW(current, MF_STRING, static_cast<UINT_PTR>(kFirstMenuId + static_cast<int>(i)), caption.c_str());
    }
  }
  SetMenu(hwnd_, menuBar_);
}

void MainWindow::createControls() {
  // In the layout's order: each box right after its item label, so that a
  // screen reader names the box by it.
  const auto controls = form::Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Control& c = controls[i];
    const DWORD exStyle = c.kind == Kind::Numeric || c.kind == Kind::Result || c.kind == Kind::File
                              ? WS_EX_CLIENTEDGE
                              : 0;
    const std::wstring caption = Wide(c.caption);
    HWND hwnd = CreateWindowExW(exStyle, ClassOf(c.kind), caption.c_str(), StyleOf(c), 0, 0, 10, 10, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(i))),
                                instance_, nullptr);
    controls_.push_back(hwnd);
    // Numbers only: no kana-kanji composition while typing.
    if (c.kind == Kind::Numeric) ImmAssociateContextEx(hwnd, nullptr, 0);
    if (c.kind == Kind::Progress) SendMessageW(hwnd, PBM_SETRANGE32, 0, 1000);
  }
}

void MainWindow::applyDpi(UINT dpi) {
  dpi_ = dpi;
  if (font_) DeleteObject(font_);
  font_ = MessageFont(dpi);
  const auto controls = form::Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Control& c = controls[i];
    int left = c.left;
    int top = c.top;
    if (const Control* frame = form::FindControl(c.parent)) {
      left += frame->left;
      top += frame->top;
    }
    const int height = c.kind == Kind::Line ? std::max(2, px(30)) : px(c.height);
    int width = px(c.width);
    if (c.kind == Kind::Label && !c.caption.empty()) {
      // A unit label whose one line a wider face does not fit takes the room
      // up to its frame's edge rather than losing its closing bracket.
      const Control* frame = form::FindControl(c.parent);
      const int room = frame ? px(frame->width - c.left - 120) : width;
      width = std::max(width, std::min(room, TextWidth(font_, Wide(c.caption))));
    }
    MoveWindow(controls_[i], px(left), px(top), width, height, FALSE);
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  RECT rect{0, 0, px(form::kClientWidth), px(form::kClientHeight)};
  AdjustWindowRectExForDpi(&rect, kStyle, TRUE, kExStyle, dpi);
  SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The menu bar may take another height at this DPI: fit the client area.
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int missing = px(form::kClientHeight) - (client.bottom - client.top);
  if (missing != 0) {
    SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top + missing,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND MainWindow::control(std::string_view name) const {
  const auto controls = form::Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].name == name) return controls_[i];
  }
  return nullptr;
}

int MainWindow::controlIndex(HWND hwnd) const {
  const auto it = std::find(controls_.begin(), controls_.end(), hwnd);
  return it == controls_.end() ? -1 : static_cast<int>(it - controls_.begin());
}

int MainWindow::menuId(std::string_view name) const {
  const auto menus = form::Menus();
  for (std::size_t i = 0; i < menus.size(); ++i) {
    if (menus[i].name == name) return kFirstMenuId + static_cast<int>(i);
  }
  return -1;
}

// --- form::FormView ---------------------------------------------------------

std::string MainWindow::text(std::string_view box) const {
  HWND hwnd = control(box);
  return hwnd ? Utf8(WindowText(hwnd)) : std::string();
}

void MainWindow::setText(std::string_view box, std::string_view text) {
  if (HWND hwnd = control(box)) {
    SetWindowTextW(hwnd, Wide(text).c_str());
    // A long text shows from its start.
    SendMessageW(hwnd, EM_SETSEL, 0, 0);
  }
}

void MainWindow::setEnabled(std::string_view name, bool enabled) {
  if (HWND hwnd = control(name)) {
    EnableWindow(hwnd, enabled);
  } else if (const int id = menuId(name); id >= 0) {
    EnableMenuItem(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
}

bool MainWindow::isChecked(std::string_view name) const {
  if (HWND hwnd = control(name)) return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
  const int id = menuId(name);
  return id >= 0 && (GetMenuState(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void MainWindow::setChecked(std::string_view name, bool checked) {
  if (HWND hwnd = control(name)) {
    SendMessageW(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (const int id = menuId(name); id >= 0) {
    CheckMenuItem(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
  }
}

void MainWindow::focusBox(std::string_view box) {
  HWND hwnd = control(box);
  if (!hwnd || !IsWindowEnabled(hwnd)) return;
  SetFocus(hwnd);
  SendMessageW(hwnd, EM_SETSEL, 0, -1);
  lastFocus_ = hwnd;
}

void MainWindow::showBatchRunning(bool running) {
  busy_ = running;
  for (const char* name : {"prgBatch", "lblProgress", "cmdCancelAll"}) {
    ShowWindow(control(name), running ? SW_SHOW : SW_HIDE);
  }
  SetWindowTextW(control("lblProgress"), L"");
  SendMessageW(control("prgBatch"), PBM_SETPOS, 0, 0);
  if (running) {
    SetTimer(hwnd_, kShareTimer, kShareTimerMs, nullptr);
  } else {
    KillTimer(hwnd_, kShareTimer);
    // The focus may have been on a button that now waits or is gone.
    if (!lastFocus_ || !IsWindowEnabled(lastFocus_) || !IsWindowVisible(lastFocus_)) lastFocus_ = control("cmdExecAll");
    if (GetActiveWindow() == hwnd_) SetFocus(lastFocus_);
  }
  // The cursor follows at once, not at the next mouse move.
  POINT p{};
  GetCursorPos(&p);
  SetCursorPos(p.x, p.y);
}

void MainWindow::showBatchShare(const form::BatchShare& share) {
  SendMessageW(control("prgBatch"), PBM_SETPOS, static_cast<WPARAM>(share.fraction * 1000.0), 0);
  SetWindowTextW(control("lblProgress"), Wide(form::ShareText(share)).c_str());
}

std::string MainWindow::decimalSeparator() const {
  wchar_t separator[8] = L".";
  GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  return Utf8(separator);
}

void MainWindow::postBatchEnded() { PostMessageW(hwnd_, kBatchEnded, 0, 0); }

// --- Events -------------------------------------------------------------------

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam));
      return 0;
    case WM_DRAWITEM:
      drawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      // Read-only boxes ask here; the result boxes are light blue.
      const int index = controlIndex(reinterpret_cast<HWND>(lParam));
      if (index >= 0 && form::Controls()[static_cast<std::size_t>(index)].kind == Kind::Result) {
        SetBkColor(reinterpret_cast<HDC>(wParam), kResultColour);
        return reinterpret_cast<LRESULT>(resultBrush_);
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kShareTimer && form_) form_->showBatchShare();
      return 0;
    case kBatchEnded:
      if (form_ && !closed_) {
        form_->batchEnded();
        refreshViews();
      }
      return 0;
    case WM_SETCURSOR:
      // Busy, but live: 中止 and the boxes still answer.
      if (busy_ && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // The focus comes back where it was after a dialog or another program.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focused = GetFocus();
        if (controlIndex(focused) >= 0) lastFocus_ = focused;
      } else if (lastFocus_ && IsWindowEnabled(lastFocus_) && IsWindowVisible(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      applyDpi(HIWORD(wParam));
      return 0;
    }
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) sessionEnds();
      return 0;
    case WM_CLOSE:
      closeWindow();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void MainWindow::onCommand(int id) {
  if (!form_ || closed_) return;
  if (id >= kFirstMenuId) {
    const auto menus = form::Menus();
    const std::size_t index = static_cast<std::size_t>(id - kFirstMenuId);
    if (index >= menus.size()) return;
    const std::string_view name = menus[index].name;
    if (name == "menuExit") {
      closeWindow();
    } else if (name == "menInitValue") {
      form_->resetSettings();
    } else if (name == "menKeepColumns") {
      setChecked(name, !isChecked(name));
      form_->keepColumnsToggled();
    } else {
      for (int v = 0; v < 3; ++v) {
        if (name == kViewMenus[v]) openView(v);
      }
    }
    return;
  }
  const int index = id - kFirstControlId;
  const auto controls = form::Controls();
  if (index < 0 || static_cast<std::size_t>(index) >= controls.size()) return;  // IDOK, IDCANCEL: nothing
  const std::string_view name = controls[static_cast<std::size_t>(index)].name;
  if (name == "chkRP") {
    form_->modeSwitched();
  } else if (name == "cmdExec") {
    form_->calculate();
    refreshViews();
  } else if (name == "cmdExecAll") {
    form_->startBatch();
  } else if (name == "cmdCancelAll") {
    form_->cancelBatch();
  } else if (name == "cmdSelInFile") {
    form_->chooseInput();
  } else if (name == "cmdSelOutFile") {
    form_->chooseOutput();
  }
}

void MainWindow::drawLabel(const DRAWITEMSTRUCT& item) {
  const int index = controlIndex(item.hwndItem);
  if (index < 0) return;
  const Control& c = form::Controls()[static_cast<std::size_t>(index)];
  HDC dc = item.hDC;
  const RECT box = item.rcItem;
  FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  const std::vector<std::wstring> lines = WrapLines(dc, WindowText(item.hwndItem), width);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  // Lines close up when the label is lower than their natural pitch: the
  // last line's ink (one em below the leading) still ends inside the label.
  int pitch = static_cast<int>(metrics.tmHeight);
  int y = box.top;
  const int count = static_cast<int>(lines.size());
  if (count > 1 && count * pitch > height) {
    // An ideograph's ink stands about 0.88 em above the baseline and 0.12
    // em below it.
    const int em = static_cast<int>(metrics.tmHeight - metrics.tmInternalLeading);
    y -= std::max(0, static_cast<int>(metrics.tmAscent) - em * 88 / 100);
    pitch = std::min(static_cast<int>(metrics.tmHeight), (height - em) / (count - 1));
  }
  for (const std::wstring& line : lines) {
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    const int x = c.kind == Kind::RightLabel ? box.right - size.cx : box.left;
    TextOutW(dc, x, y, line.c_str(), static_cast<int>(line.size()));
    y += pitch;
  }
  SelectObject(dc, old);
}

bool MainWindow::preTranslate(MSG& msg) {
  if (msg.hwnd != hwnd_ && GetAncestor(msg.hwnd, GA_ROOT) != hwnd_) return false;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && !(GetKeyState(VK_CONTROL) & 0x8000)) {
    tab((GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  // Access keys of the controls, and arrow keys; Enter and Escape reach no
  // button, as no control answers IDOK or IDCANCEL.
  return IsDialogMessageW(hwnd_, &msg) != 0;
}

void MainWindow::tab(bool back) {
  const auto order = form::FocusOrder();
  const int n = static_cast<int>(order.size());
  int at = -1;
  HWND focused = GetFocus();
  for (int i = 0; i < n; ++i) {
    if (control(order[static_cast<std::size_t>(i)]) == focused) at = i;
  }
  for (int step = 1; step <= n; ++step) {
    const int next = ((at < 0 ? (back ? 0 : -1) : at) + (back ? -step : step) + n * 2) % n;
    HWND hwnd = control(order[static_cast<std::size_t>(next)]);
    if (hwnd && IsWindowEnabled(hwnd) && IsWindowVisible(hwnd)) {
      SetFocus(hwnd);
      wchar_t cls[8] = {};
      GetClassNameW(hwnd, cls, 8);
      if (lstrcmpiW(cls, L"EDIT") == 0) SendMessageW(hwnd, EM_SETSEL, 0, -1);
      lastFocus_ = hwnd;
      return;
    }
  }
}

void MainWindow::sessionEnds() {
  if (form_ && !closed_) form_->close();
}

void MainWindow::closeWindow() {
  if (closed_) return;
  // Settings saved, a running batch cancelled and waited for: its earlier
  // output stays and no temporary file is left.
  if (form_) form_->close();
  closed_ = true;
  DestroyWindow(hwnd_);
}

// --- 表示: the figures as plain text, selectable and copyable ---------------

std::wstring MainWindow::viewText(int which) const {
  std::string text;
  if (which == 0) {
    text = form_->explainText().value_or("");
  } else if (which == 1 && form_->lastCalculation()) {
    const form::Calculation& c = *form_->lastCalculation();
    text = "ギャップ分布表：" + platform::Utf8FromPath(c.gapTableFile) + "\nSHA-256 " + c.gapTableSha256 + "\n";
    const std::optional<int> read = form::ReadKey(c.explanation);
    text += read ? "読んだキー：" + std::to_string(*read) + "\n" : "読んだキー：なし\n";
    text += "\nキー\tギャップ\t値\n";
    for (int key = GapTable::kMinKey; key <= GapTable::kMaxKey; ++key) {
      char gap[16];
      std::snprintf(gap, sizeof gap, "%.1f", key / 10.0);
      text += (read && *read == key ? "▶" : "") + std::to_string(key) + "\t" + gap + "\t" +
              FormatBatchNumber(c.table.at(key)) + "\n";
    }
  } else if (which == 2) {
    text = form_->batchSummaryText().value_or("");
  }
  return WithCrLf(Wide(text));
}

void MainWindow::openView(int which) {
  HWND& view = views_[static_cast<std::size_t>(which)];
  if (!view || !IsWindow(view)) {
    std::wstring title = Wide(form::Menus()[static_cast<std::size_t>(menuId(kViewMenus[which]) - kFirstMenuId)].caption);
    title = title.substr(0, title.find(L'('));
    view = CreateWindowExW(0, kViewClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           px(9000), px(7500), nullptr, nullptr, instance_, nullptr);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                    ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                0, 0, 10, 10, view, nullptr, instance_, nullptr);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    RECT client{};
    GetClientRect(view, &client);
    MoveWindow(edit, 0, 0, client.right, client.bottom, FALSE);
  }
  SetWindowTextW(GetWindow(view, GW_CHILD), viewText(which).c_str());
  ShowWindow(view, SW_SHOWNORMAL);
  SetForegroundWindow(view);
}

void MainWindow::refreshViews() {
  for (int v = 0; v < 3; ++v) {
    HWND view = views_[static_cast<std::size_t>(v)];
    if (view && IsWindow(view)) SetWindowTextW(GetWindow(view, GW_CHILD), viewText(v).c_str());
  }
}

}  // namespace velmora::win32
