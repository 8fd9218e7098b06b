// SHA-256 from Windows' own cryptography (CNG, bcrypt.dll).
#include <windows.h>
// After windows.h:
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/platform.h"
#include "platform/sha256.h"

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
