// velmora-batch on Windows: the UTF-16 command line, texts for the console
// and for redirected output, and the console's Ctrl+C.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "platform/platform.h"

namespace velmora::cli {
namespace {

constexpr UINT kRedirectedCodePage = 932;  // what Japanese Windows tools read

// The system takes UTF-16; the conversion is the paths' own.
std::wstring Wide(std::string_view utf8) { return platform::PathFromUtf8(utf8).native(); }

std::string Narrow(UINT codePage, std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

void Write(DWORD which, std::string_view utf8, bool keepUtf8 = false) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;
  DWORD mode = 0;
  const bool console = GetConsoleMode(handle, &mode) != 0;
  if (keepUtf8 && !console) {
    DWORD done = 0;
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
    return;
  }
  const std::wstring wide = Wide(utf8);
  if (console) {
    // In pieces the console takes, never between the halves of a surrogate pair.
    std::wstring_view rest = wide;
    while (!rest.empty()) {
      std::size_t part = std::min<std::size_t>(rest.size(), 8192);
      if (part < rest.size() && IS_HIGH_SURROGATE(rest[part - 1])) --part;
      DWORD done = 0;
      if (!WriteConsoleW(handle, rest.data(), static_cast<DWORD>(part), &done, nullptr)) return;
      rest.remove_prefix(part);
    }
    return;
  }
  std::wstring lines;
  wchar_t previous = 0;
  for (const wchar_t c : wide) {
    if (c == L'\n' && previous != L'\r') lines += L'\r';
    lines += c;
    previous = c;
  }
  const std::string bytes = Narrow(kRedirectedCodePage, lines);
  DWORD done = 0;
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

std::atomic<int>* interruptTarget = nullptr;
std::atomic<bool> toolEnded{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      interruptTarget->store(2, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      interruptTarget->store(1, std::memory_order_relaxed);
      // The system ends the program when this returns: let the tool first
      // stop and remove its temporary file, as long as the system waits
      // (5 seconds for a closed console).
      for (int i = 0; i < 450 && !toolEnded.load(); ++i) Sleep(10);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void WriteOut(std::string_view utf8) { Write(STD_OUTPUT_HANDLE, utf8); }
void WriteError(std::string_view utf8) { Write(STD_ERROR_HANDLE, utf8); }
void WriteOutUtf8(std::string_view utf8) { Write(STD_OUTPUT_HANDLE, utf8, true); }

void CatchInterrupts(std::atomic<int>& interrupted) {
  interruptTarget = &interrupted;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace velmora::cli

// The arguments as UTF-16 (-municode), so that any file name arrives whole.
int wmain(int argc, wchar_t** argv) {
  // A drive without a disk answers with a failure, not with a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(velmora::cli::Narrow(CP_UTF8, argv[i]));
  std::vector<char*> pointers;
  for (auto& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int status = velmora::cli::ToolMain(argc, pointers.data());
  velmora::cli::toolEnded.store(true);
  return status;
}
