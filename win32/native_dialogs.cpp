#include "win32/native_dialogs.h"

#include <commdlg.h>

#include <vector>

#include "form/layout.h"
#include "win32/text.h"

namespace velmora::win32 {

std::optional<std::filesystem::path> NativeFileDialogs::choose(const form::FileRequest& r) {
  // The single filter: its name, NUL, its pattern, NUL NUL.
  std::wstring filter = Wide(r.filterName);
  filter += L'\0';
  filter += Wide(r.filterPattern);
  filter += L'\0';
  // Long enough for any path the system takes.
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring name = Wide(r.defaultName);
  name.copy(file.data(), std::min(name.size(), file.size() - 1));
  const std::wstring folder = r.folder.wstring();
  const std::wstring title = Wide(r.title);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.hInstance = GetModuleHandleW(nullptr);
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.c_str();
  ofn.lpstrTitle = title.c_str();
  // The program's own folder stays the process's current one.
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
  if (r.fileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
  if (r.folderMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
  if (r.hideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
  if (r.confirmOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
  const BOOL chosen = r.purpose == form::FileRequest::Purpose::Open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
  if (!chosen || file[0] == L'\0') return std::nullopt;
  return std::filesystem::path(std::wstring(file.data()));
}

namespace {

void Show(HWND owner, std::string_view text, UINT icon) {
  const std::wstring caption = Wide(form::kWindowCaption);
  MessageBoxW(owner, WithCrLf(Wide(text)).c_str(), caption.c_str(), MB_OK | icon);
}

}  // namespace

void MessageBoxReporter::error(std::string_view message) { Show(owner_, message, MB_ICONERROR); }
void MessageBoxReporter::info(std::string_view message) { Show(owner_, message, MB_ICONINFORMATION); }
void MessageBoxReporter::infoWithDetails(std::string_view message, std::string_view details) {
  std::string text(message);
  text += "\n\n";
  text += details;
  Show(owner_, text, MB_ICONINFORMATION);
}

}  // namespace velmora::win32
