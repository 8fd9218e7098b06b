#pragma once
// What velmora-batch asks of the system besides the engine's files: its entry
// point, its texts on the terminal and the interrupts. platform_posix.cpp and
// platform_windows.cpp implement it, so that main.cpp stays portable.
#include <atomic>
#include <string_view>

// The folder of the user's own gap table, as the help names it.
#if defined(_WIN32)
#define VELMORA_USER_TABLE_FOLDER "%APPDATA%\\Velmora\\"
#else
#define VELMORA_USER_TABLE_FOLDER "~/.config/Velmora/"
#endif

namespace velmora::cli {

// The tool (main.cpp), called by the platform's entry point with the
// arguments in UTF-8 (on Windows converted from the UTF-16 command line).
int ToolMain(int argc, char** argv);

// UTF-8 text to standard output or standard error, as it stands (no line end
// added). POSIX writes the bytes. Windows shows it in a console through
// WriteConsoleW, whatever the console's code page, and writes it redirected
// as CP932 with CR LF line ends.
void WriteOut(std::string_view utf8);
void WriteError(std::string_view utf8);
// UTF-8 to standard output that stays UTF-8 when redirected (JSON): the
// bytes as they are in a file or a pipe; shown like WriteOut on a console.
void WriteOutUtf8(std::string_view utf8);

// From now on an interrupt stores its number in `interrupted` instead of
// ending the program; the tool then stops and exits 128 + that number.
// POSIX: SIGINT (Ctrl+C) 2, SIGTERM 15, SIGHUP 1 (each unless the program
// was started with it ignored, as nohup does), and a file size limit shows
// as a failed write. Windows: Ctrl+C and Ctrl+Break 2, like SIGINT, and the
// console closing (or the user logging off) 1, like SIGHUP.
void CatchInterrupts(std::atomic<int>& interrupted);

}  // namespace velmora::cli
