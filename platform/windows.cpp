// The system calls on Windows. Paths reach the system in UTF-16, so
// Japanese folder and file names work whatever the ANSI code page is.
#include <windows.h>
// After windows.h:
#include <bcrypt.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sha256.h"

namespace velmora::platform {
namespace fs = std::filesystem;

namespace {

HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file); }
File FromHandle(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(handle); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A path as the file functions take it. Beyond MAX_PATH only the extended
// form ("\\?\C:\...") is accepted, and that form must be absolute.
std::wstring SystemPath(const fs::path& path) {
  const std::wstring& text = path.native();
  if (text.size() < MAX_PATH - 12 || text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) return text;
  const DWORD size = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
  if (size == 0) return text;
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(text.c_str(), size, full.data(), nullptr));
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
  return L"\\\\?\\" + full;
}

// Opens what `path` names (through links) to look at it, whatever it is.
HANDLE OpenToLookAt(const fs::path& path) {
  return CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

fs::path PathFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return fs::path(wide);
}

std::string Utf8FromPath(const fs::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

File OpenInput(const fs::path& path, std::uint64_t& size) {
  // Others may go on reading and writing it (a spreadsheet that has it open),
  // as on POSIX; it is read from start to end once.
  const HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  // A regular file only: no folder, pipe, console or device (NUL, COM1).
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    return kNoFile;
  }
  size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return FromHandle(file);
}

std::ptrdiff_t Read(File file, char* into, std::size_t size) {
  DWORD got = 0;
  const auto ask = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
  if (!ReadFile(Handle(file), into, ask, &got, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

std::FILE* OpenStream(const fs::path& path) { return _wfopen(path.c_str(), L"rb"); }

std::string Utf8FromCp932(std::string_view cp932) {
  if (cp932.empty()) return {};
  const int size = MultiByteToWideChar(932, 0, cp932.data(), static_cast<int>(cp932.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  MultiByteToWideChar(932, 0, cp932.data(), static_cast<int>(cp932.size()), wide.data(), size);
  return Utf8FromPath(fs::path(wide));
}

namespace {

constexpr UINT kCp932 = 932;

bool ToWide(UINT codePage, std::string_view in, std::wstring& wide) {
  wide.clear();
  if (in.empty()) return true;
  const int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                                       nullptr, 0);
  if (size <= 0) return false;
  wide.resize(static_cast<std::size_t>(size));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), wide.data(),
                             size) == size;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  // CP_UTF8 takes no default-character flag.
  BOOL* const lossyFlag = codePage == CP_UTF8 ? nullptr : &lossy;
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int size = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, lossyFlag);
  if (size <= 0 || lossy) return false;
  out.resize(static_cast<std::size_t>(size));
  return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr,
                             lossyFlag) == size &&
         !lossy;
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) {
  std::wstring wide;
  return ToWide(kCp932, cp932, wide) && FromWide(CP_UTF8, wide, utf8);
}

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, wide) && FromWide(kCp932, wide, cp932);
}

bool SameFile(const fs::path& a, const fs::path& b) {
  BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
  for (auto [path, info] : {std::pair{&a, &infoA}, std::pair{&b, &infoB}}) {
    const HANDLE file = OpenToLookAt(*path);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    if (!known) return false;
  }
  return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber && infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
         infoA.nFileIndexLow == infoB.nFileIndexLow;
}

FileIdentity IdentifyFile(const fs::path& path) {
  FileIdentity id;
  const auto look = [&id](const fs::path& at) {
    const HANDLE file = OpenToLookAt(at);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    id.known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    id.volume = info.dwVolumeSerialNumber;
    id.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return id.known;
  };
  if (look(path)) {
    id.exists = true;
    return id;
  }
  const DWORD error = GetLastError();
  const fs::path name = path.filename();
  if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || name.empty() || name == L"." ||
      name == L"..") {
    return id;
  }
  // Not there yet: the folder it would be created in, and its name there.
  if (!look(path.parent_path().empty() ? fs::path(L".") : path.parent_path())) return {};
  id.name = name;
  return id;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  if (!a.known || !b.known || a.exists != b.exists || a.volume != b.volume || a.index != b.index) return false;
  const std::wstring& x = a.name.native();
  const std::wstring& y = b.name.native();
  return x.size() == y.size() &&
         (x.empty() || CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()),
                                            TRUE) == CSTR_EQUAL);
}

bool FindOutputPlace(const fs::path& output, OutputPlace& place) {
  place = OutputPlace{output};
  const HANDLE file = OpenToLookAt(output);
  if (file == INVALID_HANDLE_VALUE) {
    // Nothing there yet: the result is created. A missing folder shows when
    // the temporary file cannot be made beside it.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  // Replacing a folder or a device would not write into it; a read-only
  // result file stays protected.
  bool usable = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  // A symbolic link is replaced at its target, and stays a link.
  const DWORD own = GetFileAttributesW(SystemPath(output).c_str());
  if (usable && own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    std::wstring target(MAX_PATH, L'\0');
    for (;;) {
      const DWORD size = GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (size == 0) usable = false;
      if (size == 0 || size < target.size()) {
        target.resize(size);
        break;
      }
      target.resize(size);
    }
    place.target = fs::path(target);
  }
  CloseHandle(file);
  if (!usable) return false;
  // Windows replaces a file only while no program holds it open (a
  // spreadsheet showing the last result), whatever it shares: found out now,
  // before the run, and not only when the result is to take its place.
  const HANDLE replaceable = CreateFileW(SystemPath(place.target).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (replaceable == INVALID_HANDLE_VALUE) return false;
  CloseHandle(replaceable);
  place.exists = true;
  place.attributes = info.dwFileAttributes;
  return true;
}

File CreateNew(const fs::path& path, bool& exists) {
  const HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  exists = file == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
  return FromHandle(file);
}

// The replaced file's hidden, system, archive and indexing attributes.
void KeepAttributes(File file, const OutputPlace& place) {
  constexpr DWORD kKept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (!place.exists || (place.attributes & kKept) == 0) return;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = place.attributes & kKept;
  SetFileInformationByHandle(Handle(file), FileBasicInfo, &basic, sizeof basic);
}

bool Write(File file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD done = 0;
    const auto ask = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
    if (!WriteFile(Handle(file), data, ask, &done, nullptr) || done == 0) return false;
    data += done;
    size -= done;
  }
  return true;
}

void StartWriteBack(File, std::uint64_t, std::uint64_t) {}

bool FlushToDisk(File file) { return FlushFileBuffers(Handle(file)) != 0; }

bool Close(File file) { return CloseHandle(Handle(file)) != 0; }

bool Replace(const fs::path& from, const fs::path& to) {
  return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Remove(const fs::path& path) { DeleteFileW(SystemPath(path).c_str()); }

unsigned long ProcessId() { return GetCurrentProcessId(); }

namespace {

fs::path FileOfModule(HMODULE module) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (size == 0) return {};
    if (size < name.size()) {
      name.resize(size);
      return fs::path(name);
    }
    name.resize(name.size() * 2);  // cut short: try again with more room
  }
}

}  // namespace

fs::path ProgramFolder() { return FileOfModule(nullptr).parent_path(); }

fs::path ModuleFile() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModuleFile), &module)) {
    return {};
  }
  return FileOfModule(module);
}

// Where QSettings keeps an IniFormat store of the user ("%APPDATA%\Velmora").
fs::path UserSettingsFolder() {
  PWSTR folder = nullptr;
  fs::path result;
  if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder) == S_OK && folder != nullptr) {
    result = fs::path(folder) / L"Velmora";
  }
  CoTaskMemFree(folder);
  return result;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

const char* const kUserSettingsFolderText = "%APPDATA%\\Velmora\\";

// --- The console ----------------------------------------------------------

namespace {

constexpr UINT kRedirectedCodePage = 932;  // what Japanese Windows tools read

// The system takes UTF-16; the conversion is the paths' own.
std::wstring Wide(std::string_view utf8) { return PathFromUtf8(utf8).native(); }

std::string Narrow(UINT codePage, std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

void WriteTo(DWORD which, std::string_view utf8, bool keepUtf8 = false) {
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

void WriteOut(std::string_view utf8) { WriteTo(STD_OUTPUT_HANDLE, utf8); }
void WriteError(std::string_view utf8) { WriteTo(STD_ERROR_HANDLE, utf8); }
void WriteOutUtf8(std::string_view utf8) { WriteTo(STD_OUTPUT_HANDLE, utf8, true); }

// --- The end of the program -----------------------------------------------

void IgnoreFileSizeSignal() {}

void CatchInterrupts(std::atomic<int>& interrupted) {
  interruptTarget = &interrupted;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The arguments as UTF-16 (-municode), so that any file name arrives whole.
int RunTool(int argc, wchar_t** argv, int (*tool)(int, char**)) {
  // A drive without a disk answers with a failure, not with a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Narrow(CP_UTF8, argv[i]));
  std::vector<char*> pointers;
  for (auto& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int status = tool(argc, pointers.data());
  toolEnded.store(true);
  return status;
}

namespace {

std::function<void(int)>* g_ended = nullptr;
std::atomic<bool> g_closedDown{false};

// Called by the system on a thread of its own.
BOOL WINAPI OnEndingEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      (*g_ended)(2);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      (*g_ended)(1);
      // The system ends the program when this returns: let it first close
      // down, as long as the system waits (5 seconds for a closed console).
      for (int i = 0; i < 450 && !g_closedDown.load(); ++i) Sleep(10);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct EndingRequests::State {
  std::function<void(int)> ended;
};

EndingRequests::EndingRequests(std::function<void(int)> ended) : state_(std::make_unique<State>()) {
  state_->ended = std::move(ended);
  g_ended = &state_->ended;
  g_closedDown.store(false);
  SetConsoleCtrlHandler(OnEndingEvent, TRUE);
}

EndingRequests::~EndingRequests() {
  SetConsoleCtrlHandler(OnEndingEvent, FALSE);
  g_closedDown.store(true);
}

void EndAsAsked(int number) { ExitProcess(static_cast<UINT>(128 + number)); }

}  // namespace velmora::platform

// --- SHA-256: Windows' own cryptography (CNG, bcrypt.dll) -----------------

namespace velmora {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // The hash object's memory is CNG's own (null buffer, Windows 7 and later).
  state_->failed = !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
                   !BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::Update(const void* data, std::size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0 && !state_->failed) {
    const auto part = static_cast<ULONG>(std::min<std::size_t>(size, ULONG{1} << 30));
    state_->failed = !BCRYPT_SUCCESS(BCryptHashData(state_->hash, bytes, part, 0));
    bytes += part;
    size -= part;
  }
}

// Empty when CNG failed, which the digest of a file reports as unreadable.
std::string Sha256::HexDigest() {
  std::array<UCHAR, 32> digest{};
  if (state_->failed || !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest.data(), digest.size(), 0))) return {};
  state_->failed = true;  // spent
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const UCHAR b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::optional<std::string> Sha256OfFile(const std::filesystem::path& file) {
  std::uint64_t size = 0;
  const platform::File input = platform::OpenInput(file, size);
  if (input == platform::kNoFile) return std::nullopt;
  Sha256 sha;
  std::vector<char> buffer(std::size_t{1} << 20);
  std::ptrdiff_t got = 0;
  while ((got = platform::Read(input, buffer.data(), buffer.size())) > 0) sha.Update(buffer.data(), static_cast<std::size_t>(got));
  platform::Close(input);
  if (got < 0) return std::nullopt;
  std::string hex = sha.HexDigest();
  if (hex.empty()) return std::nullopt;
  return hex;
}

}  // namespace velmora
