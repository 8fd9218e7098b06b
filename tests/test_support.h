#pragma once
// Helpers shared by the GoogleTest suites.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"

namespace velmora::test {

// Keeps every message, in order, with its kind.
class RecordingReporter : public Reporter {
 public:
  struct Message {
    bool isError;
    std::string text;
  };
  void error(std::string_view m) override { messages.push_back({true, std::string(m)}); }
  void info(std::string_view m) override { messages.push_back({false, std::string(m)}); }
  std::vector<Message> messages;
};

// A path from UTF-8 text and back, on every platform (on Windows
// std::filesystem::path(std::string) reads the ANSI code page).
inline std::filesystem::path PathU8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string U8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

inline std::uint32_t Bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

// Whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0;; ++i) {
      path_ = base / ("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  // `name` is UTF-8.
  std::filesystem::path Write(const std::string& name, const std::string& bytes) const {
    auto p = path_ / PathU8(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

}  // namespace velmora::test
