// velmora-batch's entry point on Windows: the command line in UTF-16
// (-municode), so that any file name arrives whole.
#include "cli/tool.h"
#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) { return velmora::platform::RunTool(argc, argv, velmora::cli::ToolMain); }
