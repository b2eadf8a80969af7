// The hive file: private, and shared by several open handles at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/environment.h"
#include "platform/registry.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

using quil::testing::ScopedTestHome;

constexpr char kQuil[] = "Software\\MERO\\QUIL";

TEST(RegistryHiveTest, IsPrivateAndSharedBetweenOpenHandles) {
  ScopedTestHome home;
  std::string file = ConfigFolder() + "/registry.db";
  auto first = OpenRegistryHive(file);
  auto second = OpenRegistryHive(file);  // as a second QUIL process would
  ASSERT_TRUE(first && second);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  first->CreateKey(kQuil);
  std::thread a([&] {
    for (int i = 0; i < 50; ++i) first->SetValue(kQuil, RegDword("a" + std::to_string(i), i));
  });
  std::thread b([&] {
    for (int i = 0; i < 50; ++i) second->SetValue(kQuil, RegDword("b" + std::to_string(i), i));
  });
  a.join();
  b.join();
  EXPECT_EQ(second->QueryValue(kQuil, "a49")->dword, 49u);
  EXPECT_EQ(first->QueryValue(kQuil, "b49")->dword, 49u);
  EXPECT_TRUE(first->EnumValue(kQuil, 99));
  EXPECT_FALSE(first->EnumValue(kQuil, 100));
}

}  // namespace
}  // namespace quil::platform
