#pragma once
// SHA-256 of bytes and of files, for the provenance of a result file. Each
// platform takes it from a well-kept library of its own (one source file per
// platform); nothing here is hand-written cryptography.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest as 64 lowercase hexadecimal digits. Call once; the object is
  // spent afterwards.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of the whole file; nullopt when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::filesystem::path& file);

}  // namespace velmora
