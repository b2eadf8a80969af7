#include "browsers/trusted_sites.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/test_env.h"

namespace quil {
namespace {

using platform::CurrentUserHive;
using testing::ScopedTestHome;

std::string Ranges(const std::string& sub) { return std::string(kZoneMapRangesKey) + "\\" + sub; }
std::string Domains(const std::string& sub) { return std::string(kZoneMapDomainsKey) + "\\" + sub; }

std::uint32_t Dword(const std::string& key, const std::string& name) {
  auto v = CurrentUserHive().QueryValue(key, name);
  EXPECT_TRUE(v && v->type == platform::RegType::kDword) << key << " " << name;
  return v ? v->dword : 0xFFFFFFFF;
}

void ExpectTrusted(const std::string& key) {
  EXPECT_EQ(Dword(key, "http"), 2u);
  EXPECT_EQ(Dword(key, "https"), 2u);
}

TEST(TrustedSitesTest, AddressesShareOneRangeEachAndTakeTheLowestFreeNumber) {
  ScopedTestHome home;
  addTrustedSite("127.0.0.1");
  addTrustedSite("127.0.0.1");
  EXPECT_EQ(readRegistryString(RegistryRoot::kCurrentUser, Ranges("Range1"), ":Range"), "127.0.0.1");
  ExpectTrusted(Ranges("Range1"));
  EXPECT_FALSE(CurrentUserHive().KeyExists(Ranges("Range2"))) << "the same address reuses its range";

  // A gap left by someone else is filled first.
  ASSERT_EQ(CurrentUserHive().CreateKey(Ranges("Range3")), platform::kRegSuccess);
  addTrustedSite("10.1.2.3");
  EXPECT_EQ(readRegistryString(RegistryRoot::kCurrentUser, Ranges("Range2"), ":Range"), "10.1.2.3");
  ExpectTrusted(Ranges("Range2"));

  // A range found by its value, whatever its number.
  ASSERT_EQ(CurrentUserHive().SetValue(Ranges("Range3"), platform::RegSz(":Range", "192.168.0.9")),
            platform::kRegSuccess);
  addTrustedSite("192.168.0.9");
  ExpectTrusted(Ranges("Range3"));
  EXPECT_FALSE(CurrentUserHive().KeyExists(Ranges("Range4")));
}

TEST(TrustedSitesTest, HostNamesAreOneDomainKeyEach) {
  ScopedTestHome home;
  addTrustedSite("certproxy.example.com.tw");
  addTrustedSite("10.0.0.x1");  // a letter in the last group: a name, not an address
  ExpectTrusted(Domains("certproxy.example.com.tw"));
  ExpectTrusted(Domains("10.0.0.x1"));
  EXPECT_FALSE(CurrentUserHive().KeyExists(Domains("certproxy")));
  EXPECT_FALSE(CurrentUserHive().KeyExists(kZoneMapRangesKey));
}

TEST(TrustedSitesTest, LockdownSwitchIsOffForIexplore) {
  ScopedTestHome home;
  disableLocalMachineLockdown();
  EXPECT_EQ(Dword(kLockdownKey, "iexplore.exe"), 0u);
}

TEST(TrustedSitesTest, RegistryReaderAnswersStringValuesOnly) {
  ScopedTestHome home;
  auto& hive = CurrentUserHive();
  ASSERT_EQ(hive.CreateKey("Software\\Clients\\StartMenuInternet"), platform::kRegSuccess);
  hive.SetValue("Software\\Clients\\StartMenuInternet", platform::RegSz("", "Google Chrome"));
  platform::RegValue expand = platform::RegSz("Path", "%LOCALAPPDATA%\\x");
  expand.type = platform::RegType::kExpandSz;
  hive.SetValue("Software\\Clients\\StartMenuInternet", expand);
  hive.SetValue("Software\\Clients\\StartMenuInternet", platform::RegDword("Count", 7));

  struct Case {
    const char* name;
    RegistryRoot root;
    const char* key;
    const char* value;
    const char* expected;
  } cases[] = {
      {"default value", RegistryRoot::kCurrentUser, "Software\\Clients\\StartMenuInternet", "", "Google Chrome"},
      {"expandable, unexpanded", RegistryRoot::kCurrentUser, "software\\clients\\startmenuinternet", "Path",
       "%LOCALAPPDATA%\\x"},
      {"DWORD", RegistryRoot::kCurrentUser, "Software\\Clients\\StartMenuInternet", "Count", ""},
      {"missing value", RegistryRoot::kCurrentUser, "Software\\Clients\\StartMenuInternet", "Other", ""},
      {"missing key", RegistryRoot::kCurrentUser, "Software\\Nothing", "", ""},
      {"no machine hive", RegistryRoot::kLocalMachine, "Software\\Clients\\StartMenuInternet", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readRegistryString(c.root, c.key, c.value), c.expected);
  }
}

}  // namespace
}  // namespace quil
