// The digest of bytes and of files, against published SHA-256 values.
#include <gtest/gtest.h>

#include <string>

#include "platform/sha256.h"
#include "test_support.h"

namespace velmora {
namespace {

std::string Digest(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.HexDigest();
}

TEST(Sha256, KnownDigestsOfBytesAndFiles) {
  const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string millionA = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  EXPECT_EQ(Digest(""), empty);
  EXPECT_EQ(Digest("abc"), abc);
  // A million "a" in uneven pieces gives the digest of the whole.
  Sha256 pieces;
  const std::string a(1000000, 'a');
  for (std::size_t done = 0, step = 1; done < a.size(); done += step, step = step * 3 % 9973 + 1) {
    pieces.Update(a.data() + done, std::min(step, a.size() - done));
  }
  EXPECT_EQ(pieces.HexDigest(), millionA);

  test::TempDir dir;
  EXPECT_EQ(Sha256OfFile(dir.Write("empty", "")), empty);
  EXPECT_EQ(Sha256OfFile(dir.Write("abc", "abc")), abc);
  // Longer than one read: 3 MB of "a" differs from the million, and is stable.
  const auto three = Sha256OfFile(dir.Write("three", a + a + a));
  ASSERT_TRUE(three.has_value());
  EXPECT_EQ(*three, Digest(a + a + a));
  EXPECT_NE(*three, millionA);
  EXPECT_EQ(Sha256OfFile(dir.path() / "missing"), std::nullopt);
  EXPECT_EQ(Sha256OfFile(dir.path()), std::nullopt);  // a folder
}

}  // namespace
}  // namespace velmora
