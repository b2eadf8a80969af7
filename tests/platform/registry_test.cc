#include "platform/registry.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "support/test_env.h"

namespace quil::platform {
namespace {

using quil::testing::ScopedTestHome;

constexpr char kQuil[] = "Software\\MERO\\QUIL";

TEST(RegistryHiveTest, KeysAreCaseInsensitiveAndKeepTheirSpelling) {
  ScopedTestHome home;
  RegistryHive& hive = CurrentUserHive();
  EXPECT_FALSE(hive.KeyExists(kQuil));
  ASSERT_EQ(hive.CreateKey("Software\\MERO\\QUIL\\PELISecuritiesLoginInfo"), kRegSuccess);
  EXPECT_TRUE(hive.KeyExists("software\\mero"));
  EXPECT_TRUE(hive.KeyExists("SOFTWARE\\MERO\\QUIL\\pelisecuritiesLOGININFO"));
  EXPECT_EQ(hive.EnumKey("software\\mero\\quil", 0), "PELISecuritiesLoginInfo");
  EXPECT_EQ(hive.EnumKey(kQuil, 1), std::nullopt);
  EXPECT_EQ(hive.CreateKey(kQuil), kRegSuccess) << "creating an existing key succeeds";
}

TEST(RegistryHiveTest, ValuesOfEveryType) {
  ScopedTestHome home;
  RegistryHive& hive = CurrentUserHive();
  ASSERT_EQ(hive.CreateKey(kQuil), kRegSuccess);
  RegValue expand = RegSz("Path", "%USERPROFILE%\\x");
  expand.type = RegType::kExpandSz;
  ASSERT_EQ(hive.SetValue(kQuil, RegSz("", "default")), kRegSuccess);
  ASSERT_EQ(hive.SetValue(kQuil, RegSz("ContainerName", "憑證")), kRegSuccess);
  ASSERT_EQ(hive.SetValue(kQuil, RegDword("KeySpec", 0x01020304)), kRegSuccess);
  ASSERT_EQ(hive.SetValue(kQuil, RegBinary("PublicKey", std::string("\x06\x02\0\0RSA1", 8))), kRegSuccess);
  ASSERT_EQ(hive.SetValue(kQuil, expand), kRegSuccess);

  EXPECT_EQ(hive.QueryValue(kQuil, "")->data, "default");
  EXPECT_EQ(hive.QueryValue(kQuil, "containername")->data, "憑證");
  EXPECT_EQ(hive.QueryValue(kQuil, "containername")->name, "ContainerName");
  auto dword = hive.QueryValue(kQuil, "KeySpec");
  EXPECT_EQ(dword->type, RegType::kDword);
  EXPECT_EQ(dword->dword, 0x01020304u);
  EXPECT_EQ(dword->data, std::string("\x04\x03\x02\x01", 4)) << "little-endian as on Windows";
  EXPECT_EQ(hive.QueryValue(kQuil, "PublicKey")->data, std::string("\x06\x02\0\0RSA1", 8));
  EXPECT_EQ(hive.QueryValue(kQuil, "PATH")->data, "%USERPROFILE%\\x") << "never expanded";
  EXPECT_EQ(hive.QueryValue(kQuil, "PATH")->type, RegType::kExpandSz);
  EXPECT_EQ(hive.QueryValue(kQuil, "missing"), std::nullopt);
}

TEST(RegistryHiveTest, EnumerationDeletionAndMissingKeys) {
  ScopedTestHome home;
  RegistryHive& hive = CurrentUserHive();
  EXPECT_EQ(hive.SetValue("Software\\None", RegSz("a", "b")), kRegNotFound);
  ASSERT_EQ(hive.CreateKey(kQuil), kRegSuccess);
  hive.SetValue(kQuil, RegSz("b", "1"));
  hive.SetValue(kQuil, RegSz("A", "2"));
  hive.SetValue(kQuil, RegSz("B", "3"));  // same value as "b": keeps its spelling
  std::map<std::string, std::string> enumerated;
  for (int i = 0; auto v = hive.EnumValue(kQuil, i); ++i) enumerated[v->name] = v->data;
  EXPECT_EQ(enumerated, (std::map<std::string, std::string>{{"A", "2"}, {"b", "3"}}));

  EXPECT_EQ(hive.DeleteValue(kQuil, "a"), kRegSuccess);
  EXPECT_EQ(hive.DeleteValue(kQuil, "a"), kRegNotFound);
  hive.CreateKey("Software\\MERO\\QUIL\\{ABC}\\deep");
  hive.CreateKey("Software\\MERO\\QUILX");
  EXPECT_EQ(hive.DeleteKey("software\\mero\\quil"), kRegSuccess);
  EXPECT_FALSE(hive.KeyExists("Software\\MERO\\QUIL\\{ABC}\\deep"));
  EXPECT_FALSE(hive.QueryValue(kQuil, "b"));
  EXPECT_TRUE(hive.KeyExists("Software\\MERO\\QUILX")) << "a sibling with a common prefix stays";
  EXPECT_EQ(hive.DeleteKey(kQuil), kRegNotFound);
}

TEST(RegistryHiveTest, SetValuesCreatesTheKeyAndWritesEveryValue) {
  ScopedTestHome home;
  RegistryHive& hive = CurrentUserHive();
  const std::string key = std::string(kQuil) + "\\Login";
  ASSERT_EQ(hive.SetValues(key, {RegSz("A", "1"), RegDword("B", 2), RegSz("a", "3")}), kRegSuccess);
  EXPECT_TRUE(hive.KeyExists(key));
  EXPECT_EQ(hive.QueryValue(key, "A")->data, "3") << "a later value of the same name wins";
  EXPECT_EQ(hive.QueryValue(key, "B")->dword, 2u);
  ASSERT_EQ(hive.SetValues(key, {RegSz("B", "text")}), kRegSuccess);
  EXPECT_EQ(hive.QueryValue(key, "B")->type, RegType::kSz);
  EXPECT_EQ(hive.SetValues(key, {}), kRegSuccess);
}

TEST(RegistryHiveTest, ValuesEnumerateInTheOrderFirstWritten) {
  ScopedTestHome home;
  RegistryHive& hive = CurrentUserHive();
  ASSERT_EQ(hive.CreateKey(kQuil), kRegSuccess);
  for (const char* name : {"b", "A", "c"}) hive.SetValue(kQuil, RegSz(name, "x"));
  hive.SetValue(kQuil, RegSz("B", "y"));
  std::vector<std::string> names;
  for (int i = 0; auto v = hive.EnumValue(kQuil, i); ++i) names.push_back(v->name);
  if (testing::WineVersion() && names == std::vector<std::string>{"A", "b", "c"})
    GTEST_SKIP() << "Wine " << testing::WineVersion() << ": RegEnumValueW gives values in name order";
  EXPECT_EQ(names, (std::vector<std::string>{"b", "A", "c"}));
}

}  // namespace
}  // namespace quil::platform
