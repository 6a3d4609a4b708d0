#include "common/sha256.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/testing/test_support.h"

namespace {

struct Vector {
  std::string input;
  const char* digest;
};

// FIPS 180-4 examples and edges of the padding (55, 56 and 64 bytes: the
// length fits the last block, just does not, and a whole block).
TEST(Sha256, KnownVectorsWholeAndInPieces) {
  const Vector vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.input.size());
    EXPECT_EQ(common::Sha256Hex(v.input), v.digest);
    common::Sha256 pieces;
    for (std::size_t at = 0; at < v.input.size(); at += 7) pieces.Update(std::string_view(v.input).substr(at, 7));
    EXPECT_EQ(pieces.Hex(), v.digest);
  }
}

TEST(Sha256, HashFileGivesSizeAndDigestOrNothing) {
  common::testing::TempFolder folder;
  ASSERT_TRUE(common::testing::WriteFile(folder / "f", "abc"));
  const auto digest = common::HashFile(folder / "f");
  ASSERT_TRUE(digest);
  EXPECT_EQ(digest->size, 3);
  EXPECT_EQ(digest->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(common::HashFile(folder / "missing"));
  EXPECT_FALSE(common::HashFile(folder.Path().string())) << "a folder";
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(common::HashFile(folder / "fifo")) << "returns at once, no writer needed";
}

}  // namespace
