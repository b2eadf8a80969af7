#include "base/result_codes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

namespace quil {
namespace {

TEST(ResultCodesTest, ErrorTexts) {
  struct Case {
    const char* name;
    int code;
    const char* want;
  } kCases[] = {
      {"success is empty although the table has a text", kOk, ""},
      {"generic failure", kFailed, "<1>不明的錯誤"},
      {"code without a message", kRegSetReplyUnreadable, "<59905>"},
      {"workflow code", kApplyFileStatusFailed, "<3001>"},
      {"store search", kInstallChainFailed, "<53101>不明的錯誤"},
      {"signing, same text, other number", kSignStoreUnknown, "<53203>不明的錯誤"},
      {"version", kVersionMismatch, "<53705>用戶端版本資訊不符"},
      {"transport", kHttpFailed, "<59999>HTTP 連線失敗"},
      {"negative", -1, "<-1>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MakeErrorText(c.code), c.want);
  }
}

// The whole table against a separate transcription of the catalogue.
TEST(ResultCodesTest, TableMatchesTheCatalogueFile) {
  std::ifstream file(QUIL_TEST_SOURCE_DIR "/tests/base/message_catalogue.tsv");
  ASSERT_TRUE(file) << "message_catalogue.tsv";
  std::map<int, std::string> catalogue;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    int code = std::stoi(line.substr(0, tab));
    EXPECT_TRUE(catalogue.emplace(code, line.substr(tab + 1)).second) << "listed twice: " << code;
  }
  ASSERT_FALSE(catalogue.empty());

  std::set<std::string> names;
  for (const ResultCodeRow& row : ResultCodeTable()) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(names.insert(row.name).second) << "name used twice";
    auto it = catalogue.find(row.code);
    if (it == catalogue.end()) {
      ADD_FAILURE() << row.code << " is not in the catalogue";
      continue;
    }
    EXPECT_EQ(row.message ? std::string(row.message) : std::string(), it->second) << row.code;
    EXPECT_EQ(MessageForCode(row.code), row.message);
    catalogue.erase(it);
  }
  for (const auto& [code, message] : catalogue) ADD_FAILURE() << code << " " << message << " has no row";
}

TEST(ResultCodesTest, SystemErrorTexts) {
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
