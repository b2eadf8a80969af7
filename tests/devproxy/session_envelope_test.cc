// The session envelope's cheap padding test must agree with the full
// decryption for every key, or a session would be refused (or tried in
// vain) when many sessions are live.
#include <gtest/gtest.h>

#include "base/base64.h"
#include "devproxy/crypto.h"

namespace quil::devproxy {
namespace {

TEST(SessionEnvelope, PaddingTestAgreesWithDecryption) {
  const std::string key = "Z8kQ2mP4xR7tV1wYa9b8c7d6e5f4g3h2";
  struct Case {
    const char* name;
    std::string plain;
  } kCases[] = {
      {"one block", "A123456789"},
      {"full block, padding fills the next", std::string(16, 'x')},
      {"several blocks", std::string(1200, 'c')},
      {"empty text", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto sealed = AesEncryptBase64(key, c.plain);
    ASSERT_TRUE(sealed);
    std::string bytes = base64Decode(*sealed);
    EXPECT_TRUE(AesPaddingProbe(key).Fits(bytes));
    EXPECT_EQ(AesDecrypt(key, bytes), c.plain);
    int fits = 0;
    for (int i = 0; i < 3000; ++i) {
      std::string other = RandomAlnum(32);
      bool padding = AesPaddingProbe(other).Fits(bytes);
      ASSERT_EQ(padding, AesDecrypt(other, bytes).has_value()) << "key " << other;
      fits += padding;
    }
    // A wrong key leaves valid padding about once in 256 tries.
    EXPECT_LT(fits, 60);
  }
  EXPECT_FALSE(AesPaddingProbe(key).Fits(""));
  EXPECT_FALSE(AesPaddingProbe(key).Fits(std::string(15, 'x')));
  EXPECT_FALSE(AesPaddingProbe("short").Fits(std::string(16, 'x')));
}

}  // namespace
}  // namespace quil::devproxy
