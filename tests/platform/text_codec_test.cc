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

// Characters code page 950 has no code for become "?" on every platform,
// never a look-alike the system would pick (a best fit can turn a
// full-width quote into an ASCII one and slip past a check).
TEST(TextCodecTest, NoLookAlikesForWhatCodePage950Lacks) {
  struct Case {
    const char* name;
    const char* wide;
    const char* narrow;
  } kCases[] = {
      {"accented letter", "caf\u00e9", "caf?"},
      {"sharp s", "stra\u00dfe", "stra?e"},
      {"a umlaut", "\u00c4rger", "?rger"},
      {"o with stroke", "\u00f8", "?"},
      {"dotless i", "\u0131", "?"},
      {"yen sign", "\u00a5100", "?100"},
      {"cent sign", "5\u00a2", "5?"},
      {"pound sign", "\u00a3", "?"},
      {"not sign", "\u00ac", "?"},
      {"broken bar", "\u00a6", "?"},
      {"superscript two", "m\u00b2", "m?"},
      {"hyphen", "a\u2010b", "a?b"},
      {"full-width quotation mark", "\uff02x\uff02", "?x?"},
      {"full-width apostrophe", "it\uff07s", "it?s"},
      {"full-width grave accent", "\uff40", "?"},
      // What code page 950 holds stays itself.
      {"full-width reverse solidus", "\uff3c", "\xA2\x40"},
      {"full-width yen sign", "\uffe5", "\xA2\x44"},
      {"full-width tilde", "\uff5e", "\xA1\xE3"},
      {"curly quotes", "\u201c\u201d", "\xA1\xA7\xA1\xA8"},
      {"with chinese around", "\u7533\u00e9\u8acb", "\xA5\xD3?\xBD\xD0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToNarrow(c.wide), c.narrow);
  }
}

}  // namespace
}  // namespace quil::platform
