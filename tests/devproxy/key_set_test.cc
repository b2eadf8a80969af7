// The demo proxy's keys: a new data folder makes its own, or takes the
// keys of a key set; a folder in use keeps its keys either way. The only
// test of the proxy that makes its keys from nothing.
#include "devproxy/key_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "devproxy/data_file.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

namespace fs = std::filesystem;

// The data folder's key files, in the order of the key set's names.
const char* const kFolderKeys[] = {"envelope.key", "ca/root.key", "ca/issuing-0.key", "ca/tls.key"};
const char* const kSetKeys[] = {"envelope", "root", "issuing", "tls"};

std::vector<std::string> KeysOf(const std::string& dir) {
  std::vector<std::string> out;
  for (const char* name : kFolderKeys) out.push_back(ReadDataFile(dir + "/" + name));
  return out;
}

// A demo customer logs in over TLS (the certificate of tls.key) and the
// envelope (envelope.key); an issued certificate checks out against the root.
void ServesAndIssues(DevProxy& proxy) {
  TestClient client(proxy);
  std::string key = client.Login("9A000000001", "demo1234");
  ASSERT_FALSE(key.empty());
  CustomerSeed c = UniqueCustomer(proxy);
  key = client.Login(c.aid, c.password);
  Reply r = client.Aes("applyCert", {{"csr", MakeRequest(c.idno + "-01").csr}, {"userId", c.idno}}, key);
  ASSERT_EQ(r["rtnCode"], "0") << r["rtnMsg"];
  EXPECT_NE(OpenSslVerify(proxy, r["cert"]).find(": OK"), std::string::npos) << OpenSslVerify(proxy, r["cert"]);
}

TEST(DevProxyKeys, NewFolderMakesItsOwnOrTakesTheKeySet) {
  const std::vector<std::string> set = [] {
    std::vector<std::string> keys;
    for (const char* name : kSetKeys) keys.push_back(quil::testing::TestKeyPem(name));
    return keys;
  }();

  // From nothing: four keys of its own, all different, private to the user.
  Options own;
  own.data_dir = FreshDataDir("own-keys");
  {
    std::string error;
    auto proxy = DevProxy::Start(own, &error);
    ASSERT_TRUE(proxy) << error;
    ServesAndIssues(*proxy);
  }
  std::vector<std::string> made = KeysOf(own.data_dir);
  EXPECT_EQ(std::set<std::string>(made.begin(), made.end()).size(), 4u);
  for (size_t i = 0; i < made.size(); ++i) {
    SCOPED_TRACE(kFolderKeys[i]);
    EXPECT_TRUE(LoadPrivateKeyPem(made[i]));
    EXPECT_NE(made[i], set[i]);
    struct stat st {};
    ASSERT_EQ(stat((own.data_dir + "/" + kFolderKeys[i]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }

  // With the key set: its keys, copied.
  Options taken = TestOptions("set-keys");
  {
    std::string error;
    auto proxy = DevProxy::Start(taken, &error);
    ASSERT_TRUE(proxy) << error;
    EXPECT_EQ(proxy->public_key_pem(), PublicKeyPem(LoadPrivateKeyPem(set[0]).get()));
    ServesAndIssues(*proxy);
  }
  EXPECT_EQ(KeysOf(taken.data_dir), set);

  // A folder in use keeps its keys, set or no set.
  own.key_set = quil::testing::TestKeySet();
  {
    std::string error;
    auto proxy = DevProxy::Start(own, &error);
    ASSERT_TRUE(proxy) << error;
  }
  EXPECT_EQ(KeysOf(own.data_dir), made);
}

TEST(DevProxyKeys, KeySetWithoutAKeyIsRefused) {
  std::string set = FreshDataDir("broken-set");
  for (std::string name : {"envelope", "root", "tls"})
    ASSERT_TRUE(WriteDataFile(set + "/" + name + ".key", quil::testing::TestKeyPem(name), 0600));
  ASSERT_TRUE(WriteDataFile(set + "/issuing.key", "not a key\n", 0600));
  for (bool present : {true, false}) {
    SCOPED_TRACE(present ? "not a key" : "missing");
    if (!present) fs::remove(set + "/issuing.key");
    Options o;
    o.data_dir = FreshDataDir("from-broken-set");
    o.key_set = set;
    std::string error;
    EXPECT_FALSE(DevProxy::Start(o, &error));
    EXPECT_NE(error.find(set + "/issuing.key"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace quil::devproxy::testing
