#pragma once
// Everything Velmora asks of the operating system, in one small set of calls:
// posix.cpp and windows.cpp implement it (SHA-256 in sha256.h), and no other
// file of the engine, the tool or the Qt window calls the system. Paths are
// std::filesystem::path throughout (wide on Windows, so Japanese names work);
// texts that name a path are UTF-8.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;
inline constexpr File kNoFile = -1;

// A path from UTF-8 text (a command-line argument, a setting) and back. On
// Windows std::filesystem::path(std::string) would read the ANSI code page.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// A file opened for reading as a C stream (the gap table, a line re-read
// for the views); null when it cannot be. Paths are UTF-16 on Windows, where
// fopen would take the ANSI code page.
std::FILE* OpenStream(const std::filesystem::path& path);

// CP932 bytes as UTF-8 (iconv; MultiByteToWideChar); a byte that is not
// CP932 becomes U+FFFD.
std::string Utf8FromCp932(std::string_view cp932);
// The same conversions without replacement: false when the bytes are not
// CP932 (not UTF-8), or hold a character the other side does not have.
// glibc's CP932 is Microsoft's table (NEC and IBM extensions, 0x5C as the
// backslash), the one Excel writes.
bool Cp932ToUtf8(std::string_view cp932, std::string& utf8);
bool Utf8ToCp932(std::string_view utf8, std::string& cp932);

// --- Input --------------------------------------------------------------

// Opens a regular file (not a folder, pipe or device: the batch reads its
// input twice) for reading from start to end; kNoFile when it is none or
// cannot be opened. `size` gets its size when opened.
File OpenInput(const std::filesystem::path& path, std::uint64_t& size);
// Up to `size` bytes: the count, 0 at the end, -1 on a read error.
std::ptrdiff_t Read(File file, char* into, std::size_t size);

// Whether two paths name one file: the same device and inode on POSIX, the
// same volume serial number and file index on Windows. False when either
// cannot be looked at.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// What tells one file from another, for a path whose file may not exist
// yet: the file's own identity when it exists, else its folder's identity and
// its name, following symbolic links (a dangling link names its target).
// `known` is false when neither the file nor its folder can be looked at.
struct FileIdentity {
  bool known = false;
  bool exists = false;
  std::uint64_t volume = 0;  // device; volume serial number
  std::uint64_t index = 0;   // inode; file index (of the folder when !exists)
  std::filesystem::path name;  // when !exists
};
FileIdentity IdentifyFile(const std::filesystem::path& path);
// Whether two identities are one file (names compared as the file system
// does: case-insensitively on Windows).
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);

// --- Output -------------------------------------------------------------

// Where a result for `output` goes, found before anything is written.
struct OutputPlace {
  std::filesystem::path target;  // the file to replace (through links), or to create
  bool exists = false;
  std::uint32_t attributes = 0;  // of the existing file, given to its replacement
};

// False when an output there could not be replaced: an existing output that
// is not a regular file, is write-protected or (Windows) is held open by
// another program without sharing; a link that leads nowhere it may write.
bool FindOutputPlace(const std::filesystem::path& output, OutputPlace& place);

// Creates `path` anew for writing, never opening an existing file: kNoFile
// otherwise, with `exists` telling whether the name was taken.
File CreateNew(const std::filesystem::path& path, bool& exists);
// Gives a new file the attributes of the file it replaces (POSIX permissions).
void KeepAttributes(File file, const OutputPlace& place);
// Writes every byte; false on any failure.
bool Write(File file, const char* data, std::size_t size);
// Asks the system to start writing [from, from + size) to disk now (Linux;
// elsewhere nothing), so that the final flush has little left to do.
void StartWriteBack(File file, std::uint64_t from, std::uint64_t size);
// Everything written is on disk (fsync, FlushFileBuffers).
bool FlushToDisk(File file);
// False when closing showed a failure.
bool Close(File file);
// Puts `from` in the place of `to` in one step, replacing it (rename;
// MoveFileExW with replace and write-through). False leaves both as they were.
bool Replace(const std::filesystem::path& from, const std::filesystem::path& to);
void Remove(const std::filesystem::path& path);

// --- The program and its user -------------------------------------------

// This process's number, for names no other process uses at the same time.
unsigned long ProcessId();
// The folder of the running executable; empty when unknown.
std::filesystem::path ProgramFolder();
// The folder of the window's settings store for the user running the program
// (where the user's own EGapDis.txt is looked for): $XDG_CONFIG_HOME/Velmora
// or $HOME/.config/Velmora on POSIX, %APPDATA%\Velmora (the roaming
// application data folder) on Windows. Empty when none is known.
std::filesystem::path UserSettingsFolder();
// The file of the executable or shared library this code is linked into (the
// Python module's own file); empty when unknown.
std::filesystem::path ModuleFile();
// Whether standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();
// The user's settings folder as the help names it: "~/.config/Velmora/",
// "%APPDATA%\Velmora\".
extern const char* const kUserSettingsFolderText;

// --- The console ----------------------------------------------------------

// UTF-8 text to standard output or standard error, as it stands (no line end
// added). POSIX writes the bytes. Windows shows it in a console through
// WriteConsoleW, whatever the console's code page, and writes it redirected
// as CP932 with CR LF line ends.
void WriteOut(std::string_view utf8);
void WriteError(std::string_view utf8);
// UTF-8 to standard output that stays UTF-8 when redirected (JSON): the
// bytes as they are in a file or a pipe; shown like WriteOut on a console.
void WriteOutUtf8(std::string_view utf8);

// --- The end of the program -----------------------------------------------

// A write beyond the file size limit fails, and is reported, instead of
// ending the program (SIGXFSZ ignored; Windows has no such signal).
void IgnoreFileSizeSignal();

// From now on an interrupt stores its number in `interrupted` instead of
// ending the program; the tool then stops and exits 128 + that number.
// POSIX: SIGINT (Ctrl+C) 2, SIGTERM 15, SIGHUP 1 (each unless the program
// was started with it ignored, as nohup does), and a file size limit shows
// as a failed write. Windows: Ctrl+C and Ctrl+Break 2, like SIGINT, and the
// console closing (or the user logging off) 1, like SIGHUP; the system is
// kept waiting (up to its 5 seconds) until RunTool's tool has returned.
void CatchInterrupts(std::atomic<int>& interrupted);

// The command-line tool's entry on Windows only (wmain; POSIX calls the tool
// from main() itself): the UTF-16 arguments as UTF-8, a drive without a disk
// answering with a failure instead of a dialog box, and CatchInterrupts told
// when the tool has ended.
int RunTool(int argc, wchar_t** argv, int (*tool)(int argc, char** argv));

// While it lives, the requests to end the program reach `ended` with their
// number, on a thread of the watcher's own: on POSIX SIGTERM (shut-down),
// SIGHUP (log-out, or the terminal gone) and SIGINT (Ctrl+C), each unless it
// was ignored at start (nohup, a background job); on Windows the console's
// Ctrl+C and Ctrl+Break (2) and its closing, log-off and shut-down (1), for
// which the system is kept waiting (up to its 5 seconds) until the watcher is
// destroyed, the program closed down. The destructor gives the signals back
// their earlier handling. One at a time.
class EndingRequests {
 public:
  explicit EndingRequests(std::function<void(int number)> ended);
  ~EndingRequests();
  EndingRequests(const EndingRequests&) = delete;
  EndingRequests& operator=(const EndingRequests&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// After the program has closed down on request `number`: ends it as the
// request asked, so that whoever sent it sees the program ended by it (the
// signal's default action; on Windows exit status 128 + number, as the tool's).
void EndAsAsked(int number);

}  // namespace velmora::platform
