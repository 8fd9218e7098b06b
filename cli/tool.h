#pragma once
// velmora-batch (main.cpp), called by the entry point of its system
// (entry_posix.cpp, entry_windows.cpp) with the arguments in UTF-8.

namespace velmora::cli {

int ToolMain(int argc, char** argv);

}  // namespace velmora::cli
