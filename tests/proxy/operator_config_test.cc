#include "proxy/operator_config.h"

#include <gtest/gtest.h>

#include <map>

#include "build_config.h"
#include "support/test_env.h"

namespace quil::proxy {
namespace {

using Environment = std::map<std::string, std::string>;

EnvironmentLookup Lookup(const Environment& env) {
  return [env](const std::string& name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
}

class OperatorConfigTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = home_.path() + "/" + name;
    testing::WriteFileForTest(path, text);
    return path;
  }
  testing::ScopedTestHome home_;
};

TEST_F(OperatorConfigTest, LaterSourcesWinSettingBySetting) {
  std::string system = Write("etc/quil.conf",
                             "# the operator's\n"
                             "QUIL_PROXY_URL=https://system.example/PELIProxy/proxy/\n"
                             "QUIL_PROXY_CA=/etc/quil/ca.pem\n"
                             "QUIL_BRIDGE_URL=https://system.example/mobile/bridge/bridge.ashx\n");
  std::string user = Write("config/quil.conf", "QUIL_PROXY_URL = https://user.example/PELIProxy/proxy/\n");
  struct Case {
    const char* name;
    std::vector<std::string> files;
    Environment env;
    std::string proxy_url, ca_bundle, bridge_url;
  };
  const Case cases[] = {
      {"defaults alone", {}, {}, QUIL_DEFAULT_PROXY_URL, QUIL_DEFAULT_PROXY_CA, QUIL_DEFAULT_BRIDGE_URL},
      {"missing files are skipped",
       {home_.path() + "/none.conf", home_.path() + "/no/folder/quil.conf"},
       {},
       QUIL_DEFAULT_PROXY_URL,
       QUIL_DEFAULT_PROXY_CA,
       QUIL_DEFAULT_BRIDGE_URL},
      {"the installation's file",
       {system},
       {},
       "https://system.example/PELIProxy/proxy/",
       "/etc/quil/ca.pem",
       "https://system.example/mobile/bridge/bridge.ashx"},
      {"the user's file over the installation's, only where it says so",
       {system, user},
       {},
       "https://user.example/PELIProxy/proxy/",
       "/etc/quil/ca.pem",
       "https://system.example/mobile/bridge/bridge.ashx"},
      {"the environment over both",
       {system, user},
       {{"QUIL_PROXY_URL", "https://env.example/PELIProxy/proxy/"}},
       "https://env.example/PELIProxy/proxy/",
       "/etc/quil/ca.pem",
       "https://system.example/mobile/bridge/bridge.ashx"},
      {"an empty variable still wins", {system, user}, {{"QUIL_PROXY_CA", ""}},
       "https://user.example/PELIProxy/proxy/", "", "https://system.example/mobile/bridge/bridge.ashx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> problems;
    OperatorConfig config = ResolveOperatorConfig(c.files, Lookup(c.env), &problems);
    EXPECT_EQ(config.proxy_url, c.proxy_url);
    EXPECT_EQ(config.ca_bundle, c.ca_bundle);
    EXPECT_EQ(config.bridge_url, c.bridge_url);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
}

TEST_F(OperatorConfigTest, ReadsValuesAsAnOperatorWritesThem) {
  std::string file = Write("etc/quil/quil.conf",
                           "\xEF\xBB\xBF# written on Windows\r\n"
                           "\r\n"
                           "   # indented comment\r\n"
                           "QUIL_PROXY_URL=\"https://quoted.example/PELIProxy/proxy/\"\r\n"
                           "QUIL_PROXY_PUBKEY = proxy.pem\r\n"
                           "QUIL_PROXY_CA='certs/ca bundle.pem'\r\n"
                           "QUIL_IP_SERVICES = https://a.example , ,https://b.example\r\n"
                           "QUIL_BRIDGE_URL=https://b.example/x?a=b=c");
  std::vector<std::string> problems;
  OperatorConfig c = ResolveOperatorConfig({file}, Lookup({}), &problems);
  EXPECT_EQ(c.proxy_url, "https://quoted.example/PELIProxy/proxy/");
  // Relative paths are the file's neighbours, not the working folder's.
  EXPECT_EQ(c.public_key, home_.path() + "/etc/quil/proxy.pem");
  EXPECT_EQ(c.ca_bundle, home_.path() + "/etc/quil/certs/ca bundle.pem");
  EXPECT_EQ(c.ip_services, (std::vector<std::string>{"https://a.example", "https://b.example"}));
  EXPECT_EQ(c.bridge_url, "https://b.example/x?a=b=c");
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST_F(OperatorConfigTest, NamesWhatItCannotUseAndKeepsTheRest) {
  std::string file = Write("quil.conf",
                           "QUIL_PROXY_URL=https://kept.example/PELIProxy/proxy/\n"
                           "QUIL_PROXY_ULR=https://typo.example/\n"
                           "just some words\n"
                           "QUIL_TLS_INSECURE=1\n");
  std::vector<std::string> problems;
  OperatorConfig c = ResolveOperatorConfig({file}, Lookup({}), &problems);
  EXPECT_EQ(c.proxy_url, "https://kept.example/PELIProxy/proxy/");
  EXPECT_FALSE(c.tls_insecure) << "a file never turns the server check off";
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0], file + ":2: unknown setting QUIL_PROXY_ULR");
  EXPECT_EQ(problems[1], file + ":3: not a setting (NAME=value): just some words");
  EXPECT_EQ(problems[2], file + ":4: QUIL_TLS_INSECURE is read from the environment only");
  EXPECT_TRUE(ResolveOperatorConfig({file}, Lookup({{"QUIL_TLS_INSECURE", "1"}})).tls_insecure);
}

TEST_F(OperatorConfigTest, AFileThatCannotBeReadIsNamed) {
  std::string folder = home_.path() + "/a-folder.conf";
  testing::WriteFileForTest(folder + "/inside", "x");
  std::vector<std::string> problems;
  OperatorConfig c = ResolveOperatorConfig({folder}, Lookup({}), &problems);
  EXPECT_EQ(c.proxy_url, QUIL_DEFAULT_PROXY_URL);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], folder + ": cannot be read");
}

TEST_F(OperatorConfigTest, TheUsersFileFollowsXdgConfigHome) {
  std::vector<std::string> files = OperatorConfigFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], QUIL_SYSTEM_CONFIG_FILE);
  EXPECT_EQ(files[1], home_.path() + "/.config/quil/quil.conf");  // the test home's XDG_CONFIG_HOME
  Write(".config/quil/quil.conf", "QUIL_BRIDGE_URL=https://mine.example/\n");
  if (getenv("QUIL_BRIDGE_URL")) GTEST_SKIP() << "QUIL_BRIDGE_URL is set";
  EXPECT_EQ(CurrentOperatorConfig().bridge_url, "https://mine.example/");
}

}  // namespace
}  // namespace quil::proxy
