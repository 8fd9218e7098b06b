// RunProgram on Windows: CreateProcessW with the command line quoted as
// CommandLineToArgvW reads it, standard output and error into files.
#include <windows.h>

#include <csignal>
#include <thread>

#include "run_program.h"
#include "platform/platform.h"

namespace velmora::test {
namespace fs = std::filesystem;

namespace {

// The system takes UTF-16; the conversion is the paths' own.
std::wstring Wide(std::string_view utf8) { return platform::PathFromUtf8(utf8).native(); }

// One argument as the child's CommandLineToArgvW (and the C runtime) will
// split it again: quotes around, backslashes doubled before a quote.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text != nullptr ? text : "error " + std::to_string(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

// A temporary file the child inherits, gone when the last handle closes.
HANDLE InheritableTemporary() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"vrp", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadBack(HANDLE file) {
  std::string bytes;
  LARGE_INTEGER start{};
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

// The inherited environment with `extra` ("NAME=value") on top, as
// CreateProcessW takes it.
std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
  std::vector<std::wstring> entries;
  for (const std::string& e : extra) entries.push_back(Wide(e));
  const auto overridden = [&](const std::wstring& entry) {
    const std::size_t equals = entry.find(L'=', 1);
    for (const std::wstring& e : entries) {
      if (CompareStringOrdinal(e.c_str(), static_cast<int>(e.find(L'=')), entry.c_str(), static_cast<int>(equals),
                               TRUE) == CSTR_EQUAL) {
        return true;
      }
    }
    return false;
  };
  std::wstring block;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* p = inherited; *p != L'\0'; p += std::wcslen(p) + 1) {
    if (!overridden(p)) block.append(p).push_back(L'\0');
  }
  FreeEnvironmentStringsW(inherited);
  for (const std::wstring& e : entries) block.append(e).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// Ctrl+C to the console the child has to itself: this process attaches to
// it for the moment it takes, and ignores the event itself for good (it may
// arrive after this process has let the console go again).
bool SendCtrlC(DWORD processId) {
  SetConsoleCtrlHandler(nullptr, TRUE);
  FreeConsole();
  bool sent = AttachConsole(processId) && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  FreeConsole();
  AttachConsole(ATTACH_PARENT_PROCESS);
  return sent;
}

}  // namespace

std::string AsPrinted(std::string_view utf8) {
  std::wstring wide;
  for (const wchar_t c : Wide(utf8)) {
    if (c == L'\n') wide += L'\r';
    wide += c;
  }
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options) {
  RunResult result;
  if (options.fileSizeLimit || options.addressSpaceLimit || options.userId) {
    result.startFailure = "file size and memory limits and another user are not available on Windows";
    return result;
  }
  const bool signalling = options.signalAfter || options.signalWhen;
  if (signalling && options.signal != SIGINT) {
    result.startFailure = "Windows has no signal " + std::to_string(options.signal) + " to send";
    return result;
  }
  std::wstring line = Quoted(program.native());
  for (const std::string& arg : args) line += L" " + Quoted(Wide(arg));

  const HANDLE out = InheritableTemporary();
  const HANDLE err = InheritableTemporary();
  HANDLE in = INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (options.standardInputBytes) {
    in = InheritableTemporary();
    DWORD done = 0;
    WriteFile(in, options.standardInputBytes->data(), static_cast<DWORD>(options.standardInputBytes->size()), &done,
              nullptr);
    LARGE_INTEGER start{};
    SetFilePointerEx(in, start, nullptr, FILE_BEGIN);
  } else {
    const std::wstring input = options.standardInput.empty() ? L"NUL" : options.standardInput.native();
    in = CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                     nullptr);
  }
  const auto closeAll = [&] {
    for (const HANDLE h : {in, out, err}) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  };
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
    result.startFailure = "no files for the standard handles: " + SystemMessage(GetLastError());
    closeAll();
    return result;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring environment = EnvironmentBlock(options.environment);
  // Ctrl+C needs a console that holds the child alone (a hidden one).
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (signalling ? CREATE_NO_WINDOW : 0);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
                      &process)) {
    result.startFailure = "starting " + program.string() + ": " + SystemMessage(GetLastError());
    closeAll();
    return result;
  }
  CloseHandle(process.hThread);
  const auto start = std::chrono::steady_clock::now();
  bool signalled = false;
  for (;;) {
    if (WaitForSingleObject(process.hProcess, options.whileRunning || options.signalWhen ? 1 : 5) == WAIT_OBJECT_0) break;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!signalled && ((options.signalAfter && elapsed >= *options.signalAfter) ||
                       (options.signalWhen && options.signalWhen(static_cast<int>(process.dwProcessId))))) {
      signalled = true;
      result.signalled = SendCtrlC(process.dwProcessId);
    }
    if (elapsed >= options.timeout) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.hung = true;
      break;
    }
    if (options.whileRunning) options.whileRunning(static_cast<int>(process.dwProcessId));
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (!result.hung) {
    // An exception that ended the program (0xC0000005 and the like) counts as
    // POSIX's signals do: not an exit of its own.
    result.exited = code < 0xC0000000u;
    if (result.exited) {
      result.exitCode = static_cast<int>(code);
    } else {
      result.signal = static_cast<int>(code);
    }
  }
  result.out = ReadBack(out);
  result.err = ReadBack(err);
  closeAll();
  return result;
}

}  // namespace velmora::test
