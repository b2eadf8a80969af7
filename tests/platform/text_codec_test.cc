#include "platform/text_codec.h"

#include <gtest/gtest.h>

namespace quil::platform {
namespace {

TEST(TextCodecTest, RoundTrips) {
  struct Case {
    const char* name;
    const char* wide;
    const char* narrow;
  } kCases[] = {
      {"ascii", "A123456789", "A123456789"},
      {"traditional chinese", "憑證申請", "\xBE\xCC\xC3\xD2\xA5\xD3\xBD\xD0"},
      {"mixed", "步驟 3 / 7", "\xA8\x42\xC6\x4A 3 / 7"},
      {"empty", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToNarrow(c.wide), c.narrow);
    EXPECT_EQ(ToWide(c.narrow), c.wide);
  }
}

TEST(TextCodecTest, WhatCodePage950CannotHoldBecomesAQuestionMark) {
  EXPECT_EQ(ToNarrow("a😀b"), "a?b");
  EXPECT_EQ(ToNarrow("证书"), "??");           // simplified forms are not in Big5
  EXPECT_EQ(ToNarrow("x\xFFy"), "x?y");        // malformed UTF-8
  EXPECT_EQ(ToWide("\xBE\xCC\xFF"), "憑?");    // a lone lead byte at the end
}

}  // namespace
}  // namespace quil::platform
