#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/package_checks.h"
#include "util/sha256.h"

namespace {

// The standard's test vectors, fed whole and in pieces that straddle the 64-byte blocks and the
// 56-byte mark where the length no longer fits.
TEST(Sha256, KnownDigestsWhateverThePieces) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{0}, size_t{1}, size_t{55}, size_t{64}, size_t{65}}) {
      SCOPED_TRACE(std::to_string(c.message.size()) + " bytes in pieces of " + std::to_string(piece));
      Sha256 hash;
      const size_t step = piece == 0 ? c.message.size() + 1 : piece;
      for (size_t at = 0; at < c.message.size(); at += step) {
        hash.Update(c.message.data() + at, std::min(step, c.message.size() - at));
      }
      hash.Update(c.message.data(), 0);
      EXPECT_EQ(FormatSha256(hash.Finish()), c.digest);
    }
  }
}

}  // namespace
