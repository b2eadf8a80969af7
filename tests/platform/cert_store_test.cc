// The certificate store component on every platform: add semantics for
// every kind of store, properties, Windows name texts, PKCS#12 export and
// import, PKCS#7 bundles.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>

#include "cert/test_pki.h"
#include "platform/cert_store.h"
#include "platform/cert_store_test_util.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

using testing::CertTemplate;

struct StoreMaker {
  const char* name;
  std::unique_ptr<CertStore> (*open)();
};

class CertStoreTest : public ::testing::TestWithParam<StoreMaker> {
 protected:
  testing::ScopedTestHome home_;
};

// Which certificates count as the same one is the platform's: CryptoAPI's
// on Windows, issuer and serial on Linux. Either way one copy is kept and a
// newer issue is taken.
TEST_P(CertStoreTest, AddKeepsOneCopyAndTakesNewerIssues) {
  auto store = GetParam().open();
  ASSERT_TRUE(store);
  StoredCert older{Cert("A", "01", "250101000000Z")};
  StoredCert same_again{older.der};
  StoredCert other_serial{Cert("A", "02", "240101000000Z")};
  struct Step {
    const char* name;
    const StoredCert* cert;
    AddResult want;
    size_t count_after;
  } kSteps[] = {
      {"first", &older, AddResult::kAdded, 1},
      {"equal", &same_again, AddResult::kExists, 1},
      {"other serial added", &other_serial, AddResult::kAdded, 2},
  };
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(store->AddNewer(*s.cert), s.want);
    EXPECT_EQ(store->Certificates().size(), s.count_after);
  }
  StoredCert newer{Cert("A", "01", "260101000000Z")};
  AddResult added = store->AddNewer(newer);
  EXPECT_TRUE(added == AddResult::kAdded || added == AddResult::kReplaced);
  bool found = false;
  for (const auto& c : store->Certificates()) found = found || c.der == newer.der;
  EXPECT_TRUE(found);
  EXPECT_EQ(store->AddNewer(StoredCert{"junk"}), AddResult::kInvalid);
}

TEST_P(CertStoreTest, KeepsProperties) {
  auto store = GetParam().open();
  StoredCert c{Cert("B", "03")};
  c.key_prov = KeyProvInfo{"0A1B-C", kEnhancedProviderName, kProvRsaFull, kAtKeyExchange};
  c.friendly_name = "憑證 B";
  ASSERT_EQ(store->AddNewer(c), AddResult::kAdded);
  StoredCert back = store->Certificates().at(0);
  ASSERT_TRUE(back.key_prov);
  EXPECT_EQ(back.key_prov->container, "0A1B-C");
  EXPECT_EQ(back.key_prov->provider, kEnhancedProviderName);
  EXPECT_EQ(back.friendly_name, "憑證 B");
}

INSTANTIATE_TEST_SUITE_P(Stores, CertStoreTest,
                         ::testing::Values(StoreMaker{"system", [] { return OpenSystemStore("MY"); }},
                                           StoreMaker{"memory", [] { return OpenMemoryStore(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SystemStore, NamedStoresKeepApart) {
  testing::ScopedTestHome home;
  EXPECT_FALSE(OpenSystemStore("OTHER"));
  size_t ca = OpenSystemStore("CA")->Certificates().size();
  size_t root = OpenSystemStore("ROOT")->Certificates().size();
  ASSERT_EQ(OpenSystemStore("my")->AddNewer(StoredCert{Cert("C", "04")}), AddResult::kAdded);
  EXPECT_EQ(OpenSystemStore("MY")->Certificates().size(), 1u);
  EXPECT_EQ(OpenSystemStore("CA")->Certificates().size(), ca);
  EXPECT_EQ(OpenSystemStore("ROOT")->Certificates().size(), root);
}

TEST(CertNames, WindowsFormatting) {
  LoadProviders();
  auto cert_with = [](const testing::NameParts& subject) {
    CertTemplate tmpl{subject, "09"};
    return testing::IssueCert(tmpl, Key().key, {{"CN", "Issuer, Inc."}, {"C", "TW"}}, Key().key);
  };
  struct Case {
    const char* name;
    testing::NameParts subject;
    const char* x500;
    const char* display;
  } kCases[] = {
      {"plain", {{"C", "TW"}, {"O", "Exmpl"}, {"CN", "A1-01"}}, "C=TW, O=Exmpl, CN=A1-01", "A1-01"},
      {"comma quoted", {{"O", "Exmpl, Inc."}, {"CN", "A1"}}, "O=\"Exmpl, Inc.\", CN=A1", "A1"},
      {"inner quote doubled", {{"CN", "say \"hi\""}}, "CN=\"say \"\"hi\"\"\"", "say \"hi\""},
      {"leading space quoted", {{"CN", " A"}}, "CN=\" A\"", " A"},
      {"no CN uses OU", {{"O", "Org"}, {"OU", "Unit"}}, "O=Org, OU=Unit", "Unit"},
      {"state and locality", {{"ST", "Taipei"}, {"L", "Xinyi"}, {"CN", "Z"}}, "S=Taipei, L=Xinyi, CN=Z", "Z"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string der = cert_with(c.subject);
    EXPECT_EQ(CertX500NameText(der, CertName::kSubject), c.x500);
    EXPECT_EQ(CertSimpleDisplayName(der), c.display);
    EXPECT_EQ(CertX500NameText(der, CertName::kIssuer), "CN=\"Issuer, Inc.\", C=TW");
  }
  EXPECT_EQ(CertSubjectAttribute(cert_with({{"CN", "First"}, {"CN", "Second"}}), "2.5.4.3"), "First");
  EXPECT_EQ(CertSimpleDisplayName("junk"), "");
}

TEST(CertNames, DisplayNameFallsBackToTheFirstAttribute) {
  LoadProviders();
  CertTemplate tmpl{{{"serialNumber", "123"}}, "0A"};
  std::string der = testing::IssueCert(tmpl, Key().key, {{"CN", "Issuer"}}, Key().key);
  EXPECT_EQ(CertX500NameText(der, CertName::kSubject), "SERIALNUMBER=123");
  std::string display = CertSimpleDisplayName(der);
  if (testing::WineVersion() && display.empty())
    GTEST_SKIP() << "Wine " << testing::WineVersion()
                 << ": CertGetNameStringW(CERT_NAME_SIMPLE_DISPLAY_TYPE) has no fallback to the first attribute";
  EXPECT_EQ(display, "123");
}

// The key of the test certificate in a new container of its own.
KeyContainer NewTestContainer() {
  KeyContainer container;
  container.name = NewContainerName();
  PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(Key().key);
  unsigned char* out = nullptr;
  int n = i2d_PKCS8_PRIV_KEY_INFO(info, &out);
  container.private_key_der.assign(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  PKCS8_PRIV_KEY_INFO_free(info);
  EXPECT_TRUE(CreateKeyContainer(container)) << LastCertStoreErrorText();
  return container;
}

// A PKCS#12 file of `keyed` (bound to `container`, friendly name "K") and
// the test authority's intermediate.
std::optional<std::string> KeyedPfxWithIssuer(const std::string& keyed, const KeyContainer& container) {
  StoredCert c{keyed};
  c.key_prov = KeyProvInfo{container.name};
  c.friendly_name = "K";
  auto memory = OpenMemoryStore();
  memory->AddNewer(c);
  memory->AddNewer(StoredCert{testing::SharedCa().intermediate});
  return ExportPfx(*memory, "pw");
}

TEST(Pkcs12, ExportThenImportIntoANewContainer) {
  LoadProviders();
  testing::ScopedTestHome home;
  StoredCert c{testing::SharedCa().Issue(Key().key, "K", "0A")};
  KeyContainer container = NewTestContainer();
  auto bytes = KeyedPfxWithIssuer(c.der, container);
  ASSERT_TRUE(bytes);

  EXPECT_FALSE(ImportPfx(*bytes, "wrong", false));
  EXPECT_FALSE(LastCertStoreErrorText().empty());
  EXPECT_FALSE(ImportPfx("junk", "pw", false));
  EXPECT_FALSE(LastCertStoreErrorText().empty());
  auto imported = ImportPfx(*bytes, "pw", false);
  ASSERT_TRUE(imported);
  EXPECT_EQ(LastCertStoreErrorText(), "");
  auto certs = imported->Certificates();
  ASSERT_EQ(certs.size(), 2u);
  // In the file's order on Linux; Wine puts the issuer first.
  if (certs[1].der == c.der) std::swap(certs[0], certs[1]);
  EXPECT_EQ(certs[0].der, c.der);
  EXPECT_EQ(certs[1].der, testing::SharedCa().intermediate);
  ASSERT_TRUE(certs[0].key_prov);
  EXPECT_NE(certs[0].key_prov->container, container.name);  // a new container
  auto key = AcquireCertificatePrivateKey(certs[0]);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->private_key_der, container.private_key_der);

  // A certificate whose container is gone cannot be exported with its key.
  StoredCert orphan{Cert("L", "0C")};
  orphan.key_prov = KeyProvInfo{"NO-SUCH-CONTAINER"};
  auto broken = OpenMemoryStore();
  broken->AddNewer(orphan);
  EXPECT_FALSE(ExportPfx(*broken, "pw"));
}

TEST(Pkcs12, ImportBindsOnlyTheKeysCertificateWithItsBagsName) {
  LoadProviders();
  testing::ScopedTestHome home;
  std::string keyed = testing::SharedCa().Issue(Key().key, "K", "0B");
  auto bytes = KeyedPfxWithIssuer(keyed, NewTestContainer());
  ASSERT_TRUE(bytes);
  auto imported = ImportPfx(*bytes, "pw", false);
  ASSERT_TRUE(imported);
  std::string keyed_name;
  int bound = 0;
  for (const auto& c : imported->Certificates()) {
    bound += c.key_prov ? 1 : 0;
    if (c.der == keyed) keyed_name = c.friendly_name;
  }
  if (testing::WineVersion() && (bound != 1 || keyed_name.empty()))
    GTEST_SKIP() << "Wine " << testing::WineVersion() << ": PFXImportCertStore binds the key to " << bound
                 << " certificates and sets the friendly name \"" << keyed_name << "\"";
  EXPECT_EQ(bound, 1);
  EXPECT_EQ(keyed_name, "K");
}

TEST(Pkcs7, ReadsBundlesOnly) {
  std::string a = Cert("A", "0D"), b = Cert("B", "0E");
  auto certs = ReadPkcs7Certificates(testing::Pkcs7Bundle({a, b}));
  ASSERT_TRUE(certs);
  ASSERT_EQ(certs->size(), 2u);
  EXPECT_EQ((*certs)[0], a);
  EXPECT_EQ((*certs)[1], b);
  EXPECT_FALSE(ReadPkcs7Certificates(a));
  EXPECT_FALSE(ReadPkcs7Certificates(""));
}

}  // namespace
}  // namespace quil::platform
