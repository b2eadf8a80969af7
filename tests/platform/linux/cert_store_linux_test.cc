// The Linux certificate database: one private file, shared by processes;
// key containers that hold the PKCS#8 bytes they were given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/cert_store.h"
#include "platform/cert_store_test_util.h"
#include "platform/environment.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

TEST(SystemStore, NamedStoresPersistApartInAPrivateFile) {
  testing::ScopedTestHome home;
  EXPECT_FALSE(OpenSystemStore("OTHER"));
  ASSERT_EQ(OpenSystemStore("my")->AddNewer(StoredCert{Cert("C", "04")}), AddResult::kAdded);
  EXPECT_EQ(OpenSystemStore("MY")->Certificates().size(), 1u);
  EXPECT_EQ(OpenSystemStore("CA")->Certificates().size(), 0u);
  EXPECT_EQ(OpenSystemStore("ROOT")->Certificates().size(), 0u);
  struct stat st {};
  ASSERT_EQ(stat((DataFolder() + "/certstore.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SystemStore, TwoProcessesAddAtOnce) {
  testing::ScopedTestHome home;
  constexpr int kPerProcess = 15;
  std::vector<std::string> certs[2];
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < kPerProcess; ++i) certs[p].push_back(Cert("P", std::to_string(100 * (p + 1) + i)));
  OpenSystemStore("MY");  // create the schema first
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      int failures = 0;
      for (const auto& der : certs[p]) {
        auto store = OpenSystemStore("MY");
        failures += !store || store->AddNewer(StoredCert{der}) != AddResult::kAdded;
      }
      _exit(failures);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(OpenSystemStore("MY")->Certificates().size(), 2u * kPerProcess);
}

// A certificate is the same one when issuer and serial agree; the later
// notBefore wins.
TEST(SystemStore, AddNewerReplacesByIssuerAndSerial) {
  testing::ScopedTestHome home;
  for (auto open : {+[] { return OpenSystemStore("MY"); }, +[] { return OpenMemoryStore(); }}) {
    auto store = open();
    StoredCert older{Cert("A", "01", "250101000000Z")};
    StoredCert newer{Cert("A", "01", "260101000000Z")};
    ASSERT_EQ(store->AddNewer(older), AddResult::kAdded);
    EXPECT_EQ(store->AddNewer(newer), AddResult::kReplaced);
    EXPECT_EQ(store->AddNewer(older), AddResult::kExists);
    ASSERT_EQ(store->Certificates().size(), 1u);
    EXPECT_EQ(store->Certificates()[0].der, newer.der);
  }
}

TEST(SystemStore, KeepsTheKeyContextSpec) {
  testing::ScopedTestHome home;
  StoredCert c{Cert("B", "03")};
  c.key_prov = KeyProvInfo{"0A1B-C"};
  c.key_context_spec = 1;
  ASSERT_EQ(OpenSystemStore("MY")->AddNewer(c), AddResult::kAdded);
  EXPECT_EQ(OpenSystemStore("MY")->Certificates().at(0).key_context_spec, 1u);
}

TEST(KeyContainers, CreateOnceAcquireByProvider) {
  testing::ScopedTestHome home;
  std::string name = NewContainerName();
  ASSERT_EQ(name.size(), 36u);
  EXPECT_NE(name, NewContainerName());
  KeyContainer c;
  c.name = name;
  c.private_key_der = "key bytes";
  ASSERT_TRUE(CreateKeyContainer(c));
  EXPECT_FALSE(CreateKeyContainer(c));  // CRYPT_NEWKEYSET on an existing name
  auto back = AcquireKeyContainer(name, kEnhancedProviderName, kProvRsaFull);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->private_key_der, "key bytes");
  EXPECT_FALSE(AcquireKeyContainer(name, "Microsoft Base Cryptographic Provider v1.0", kProvRsaFull));
  EXPECT_FALSE(AcquireKeyContainer("missing", kEnhancedProviderName, kProvRsaFull));
  StoredCert cert{"der"};
  EXPECT_FALSE(AcquireCertificatePrivateKey(cert));
  cert.key_prov = KeyProvInfo{name};
  EXPECT_TRUE(AcquireCertificatePrivateKey(cert));
}

}  // namespace
}  // namespace quil::platform
