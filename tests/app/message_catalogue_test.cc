#include "app/message_catalogue.h"

#include <gtest/gtest.h>

namespace quil {
namespace {

TEST(MessageCatalogueTest, ErrorTexts) {
  struct Case {
    const char* name;
    int code;
    const char* want;
  } kCases[] = {
      {"success is empty although the table has a text", 0, ""},
      {"generic failure", 1, "<1>不明的錯誤"},
      {"code without a message", 59905, "<59905>"},
      {"workflow code", 3001, "<3001>"},
      {"store search", 53101, "<53101>不明的錯誤"},
      {"signing, same text, other number", 53203, "<53203>不明的錯誤"},
      {"version", 53705, "<53705>用戶端版本資訊不符"},
      {"transport", 59999, "<59999>HTTP 連線失敗"},
      {"negative", -1, "<-1>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MakeErrorText(c.code), c.want);
  }
}

TEST(MessageCatalogueTest, SystemErrorTexts) {
  std::string two = MakeSystemErrorText(2);
  EXPECT_GT(two.size(), 2u);
  EXPECT_EQ(two.substr(two.size() - 2), "-2");
  EXPECT_EQ(two.find('\n'), std::string::npos);
  EXPECT_EQ(MakeSystemErrorText(0), "");
  EXPECT_EQ(MakeSystemErrorText(7, "line one\r\nline two\n"), "line oneline two-7");
  EXPECT_EQ(MakeSystemErrorText(7, ""), "錯誤代碼:7");
  EXPECT_EQ(MakeSystemErrorTextWithPrefix("讀取憑證失敗", ""), "讀取憑證失敗[]");
  EXPECT_EQ(MakeSystemErrorTextWithPrefix("驗章失敗", "Permission denied-13"), "驗章失敗[Permission denied-13]");
}

}  // namespace
}  // namespace quil
