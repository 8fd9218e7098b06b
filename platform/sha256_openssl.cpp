// SHA-256 from OpenSSL's libcrypto (EVP interface), on every system but
// Windows.
#include <openssl/evp.h>

#include <array>
#include <new>
#include <stdexcept>

#include "batch/files.h"
#include "platform/sha256.h"

namespace velmora {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr) throw std::bad_alloc();
  if (EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (size > 0 && EVP_DigestUpdate(state_->context, data, size) != 1) throw std::runtime_error("SHA-256 failed");
}

std::string Sha256::HexDigest() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1) throw std::runtime_error("SHA-256 failed");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

std::optional<std::string> Sha256OfFile(const std::filesystem::path& file) {
  batch::InputFile in;
  if (!in.Open(file)) return std::nullopt;
  Sha256 digest;
  std::array<char, 1 << 16> buffer;
  for (;;) {
    const std::ptrdiff_t got = in.Read(buffer.data(), buffer.size());
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    digest.Update(buffer.data(), static_cast<std::size_t>(got));
  }
  return digest.HexDigest();
}

}  // namespace velmora
