// velmora-batch's entry point on POSIX: the arguments are bytes already.
#include "cli/tool.h"

int main(int argc, char** argv) { return velmora::cli::ToolMain(argc, argv); }
