// The certificate store component on every platform: add semantics for
// every kind of store, properties, Windows name texts, PKCS#12 export and
// import, PKCS#7 bundles.
#include <gtest/gtest.h>

#include <memory>

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

TEST_P(CertStoreTest, AddReplacesOnlyByANewerOne) {
  auto store = GetParam().open();
  ASSERT_TRUE(store);
  StoredCert older{Cert("A", "01", "250101000000Z")};
  StoredCert same_again{older.der};
  StoredCert newer{Cert("A", "01", "260101000000Z")};
  StoredCert other_serial{Cert("A", "02", "240101000000Z")};
  struct Step {
    const char* name;
    const StoredCert* cert;
    AddResult want;
    size_t count_after;
  } kSteps[] = {
      {"first", &older, AddResult::kAdded, 1},
      {"equal", &same_again, AddResult::kExists, 1},
      {"newer replaces", &newer, AddResult::kReplaced, 1},
      {"older again refused", &older, AddResult::kExists, 1},
      {"other serial added", &other_serial, AddResult::kAdded, 2},
  };
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(store->AddNewer(*s.cert), s.want);
    EXPECT_EQ(store->Certificates().size(), s.count_after);
  }
  EXPECT_EQ(store->Certificates()[0].der, newer.der);
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
      {"only other attribute", {{"serialNumber", "123"}}, "SERIALNUMBER=123", "123"},
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

TEST(Pkcs12, ExportThenImportIntoANewContainer) {
  LoadProviders();
  testing::ScopedTestHome home;
  // Export a store holding a keyed certificate, then import it again.
  StoredCert c{Cert("K", "0A")};
  KeyContainer container;
  container.name = NewContainerName();
  {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(Key().key);
    unsigned char* out = nullptr;
    int n = i2d_PKCS8_PRIV_KEY_INFO(info, &out);
    container.private_key_der.assign(reinterpret_cast<char*>(out), static_cast<size_t>(n));
    OPENSSL_free(out);
    PKCS8_PRIV_KEY_INFO_free(info);
  }
  ASSERT_TRUE(CreateKeyContainer(container));
  c.key_prov = KeyProvInfo{container.name};
  c.friendly_name = "K";
  auto memory = OpenMemoryStore();
  memory->AddNewer(c);
  memory->AddNewer(StoredCert{Cert("Other", "0B")});
  auto bytes = ExportPfx(*memory, "pw");
  ASSERT_TRUE(bytes);

  EXPECT_FALSE(ImportPfx(*bytes, "wrong", true));
  EXPECT_FALSE(LastCertStoreErrorText().empty());
  EXPECT_FALSE(ImportPfx("junk", "pw", true));
  EXPECT_FALSE(LastCertStoreErrorText().empty());
  auto imported = ImportPfx(*bytes, "pw", true);
  ASSERT_TRUE(imported);
  EXPECT_EQ(LastCertStoreErrorText(), "");
  auto certs = imported->Certificates();
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(certs[0].der, c.der);
  ASSERT_TRUE(certs[0].key_prov);
  EXPECT_NE(certs[0].key_prov->container, container.name);  // a new container
  EXPECT_EQ(certs[0].friendly_name, "K");
  EXPECT_FALSE(certs[1].key_prov);
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
