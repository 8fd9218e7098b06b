#pragma once
// Small helpers shared by the fuzz targets: a reporter that only counts, and
// a scratch file per process for the targets that must go through a path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/reporter.h"

namespace velmora::fuzz {

class CountingReporter : public Reporter {
 public:
  void error(std::string_view) override { ++errors; }
  void info(std::string_view) override { ++infos; }
  int errors = 0;
  int infos = 0;
};

// Stops the run with a readable reason; libFuzzer saves the input that did it.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}
#define VELMORA_CHECK(cond) \
  do {                      \
    if (!(cond)) ::velmora::fuzz::Fail(#cond); \
  } while (0)

// A folder of this process under /dev/shm when it exists (no disk traffic
// for millions of runs), else under the temporary folder.
// Removed again when the fuzzer exits.
struct ScratchFolder {
  ScratchFolder() {
    std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                     : std::filesystem::temp_directory_path();
    path = base / ("velmora-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

inline const std::filesystem::path& ScratchDir() {
  static const ScratchFolder folder;
  return folder.path;
}

inline std::filesystem::path WriteScratch(const char* name, const std::uint8_t* data, std::size_t size) {
  auto p = ScratchDir() / name;
  std::FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) Fail("cannot write the scratch file");
  if (size && std::fwrite(data, 1, size, f) != size) Fail("cannot write the scratch file");
  std::fclose(f);
  return p;
}

}  // namespace velmora::fuzz
