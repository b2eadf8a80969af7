#include <gtest/gtest.h>

#include "app/method_table.h"
#include "platform/registry.h"
#include "support/test_env.h"

namespace quil {
namespace {

std::string Call(const char* name, std::vector<std::string> args = {}) {
  return RunMethod(*FindMethod(name), args).text;
}

TEST(LoginMemoryTest, RemembersTheLastLoginInTheHive) {
  testing::ScopedTestHome home;
  EXPECT_EQ(Call("getLoginInfo"), "{'errCode':'0','type':'','value':'','branch':''}");
  EXPECT_EQ(Call("setLoginInfo", {"acc", "0000123", "9A00 台北分公司"}), "{'errCode':'0'}");
  EXPECT_EQ(Call("getLoginInfo"), "{'errCode':'0','type':'acc','value':'0000123','branch':'9A00 台北分公司'}");
  auto stored = platform::CurrentUserHive().QueryValue(
      "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo", "Branch");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, platform::RegType::kSz);

  // Not remembering stores three empty values.
  EXPECT_EQ(Call("setLoginInfo", {"", "", ""}), "{'errCode':'0'}");
  EXPECT_EQ(Call("getLoginInfo"), "{'errCode':'0','type':'','value':'','branch':''}");
  EXPECT_TRUE(platform::CurrentUserHive().QueryValue(
      "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo", "LoginType"));
}

}  // namespace
}  // namespace quil
