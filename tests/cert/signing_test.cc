// PKCS#7 signatures, checked by openssl cms, and the choice of places.
#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_stores.h"
#include "cert/pfx_file.h"
#include "cert/pfx_import.h"
#include "cert/signing.h"
#include "cert/test_pki.h"
#include "cert_test_env.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

using testing::SharedCa;

struct SignEnv {
  SignEnv() {
    testing::PrepareCertTests();
    testing::UseLocalSettingsOnly();
    pfx = home.path() + "/user.p12";
    std::string bundle = testing::Base64(testing::Pkcs7Bundle({SharedCa().root, SharedCa().intermediate, cert}));
    EXPECT_EQ(makePfxFile(bundle, testing::KeyPem(key.key), pfx, "pw"), 0);
  }
  ~SignEnv() { ResetSettingsForTesting(); }
  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  testing::TestKey key = testing::NewTestKey();
  std::string cert = SharedCa().Issue(key.key, "A123456789-01", "5C");
  std::string pfx;
};

// Verifies the DER message with openssl cms (signature only: the test CA is
// not trusted) and returns the content it carries.
std::string VerifiedContent(const std::string& dir, const std::string& der) {
  testing::WriteFileForTest(dir + "/sig.der", der);
  std::string out;
  EXPECT_EQ(testing::RunCommand("openssl cms -verify -noverify -inform DER -in " + dir + "/sig.der -out " + dir +
                                    "/content.bin",
                                &out),
            0)
      << out;
  std::string print;
  EXPECT_EQ(testing::RunCommand("openssl cms -cmsout -print -inform DER -in " + dir + "/sig.der", &print), 0);
  EXPECT_NE(print.find("signedAttrs:\n          <ABSENT>"), std::string::npos) << print;
  EXPECT_NE(print.find("unsignedAttrs:\n          <ABSENT>"), std::string::npos);
  EXPECT_NE(print.find("algorithm: sha1 (1.3.14.3.2.26)"), std::string::npos);
  EXPECT_EQ(print.find("subject: CN=Root CA 1"), std::string::npos);  // signer certificate only
  return testing::ReadFileForTest(dir + "/content.bin");
}

std::string Unbase64(const std::string& text) {
  std::string out(text.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  size_t pad = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : (!text.empty() && text.back() == '=' ? 1 : 0);
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

TEST(SignPkcs7WithPfx, VerifiesWithTheContentInside) {
  SignEnv env;
  std::string pkcs12 = testing::ReadFileForTest(env.pfx);
  Pkcs7Result r = signPkcs7WithPfx(pkcs12, "pw", "qmrd5170");
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(VerifiedContent(env.home.path(), r.der), "qmrd5170");
  EXPECT_EQ(signPkcs7WithPfx(pkcs12, "wrong", "x").code, kSignPfxParseFailed);
  EXPECT_EQ(signPkcs7WithPfx("junk", "pw", "x").code, kSignPfxParseFailed);
}

TEST(SignPkcs7WithStore, VerifiesLikeTheFileWay) {
  SignEnv env;
  ASSERT_EQ(importPfxIntoStores(env.pfx, "pw"), 0);
  SignResult r = signPkcs7WithStore("MIIBtext", testing::kIssuerText, "5C");
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.signature.find('\n'), std::string::npos);
  EXPECT_EQ(VerifiedContent(env.home.path(), Unbase64(r.signature)), "MIIBtext");
}

TEST(SignWithCurrentCertificate, PlacesInOrder) {
  SignEnv env;
  setSetting("env.userPfxFilePath", env.pfx);

  setSetting("cert.readOrder", "");
  EXPECT_EQ(signWithCurrentCertificate("t", "", "pw", testing::kIssuerText, "5C", false).code, 1);
  setSetting("cert.readOrder", "usb,,other");
  EXPECT_EQ(signWithCurrentCertificate("t", "", "pw", testing::kIssuerText, "5C", false).code, 1);

  setSetting("cert.readOrder", "pfx");
  SignResult silent = signWithCurrentCertificate("t", "", "pw", testing::kIssuerText, "5C", false);
  ASSERT_EQ(silent.code, 0);
  EXPECT_EQ(VerifiedContent(env.home.path(), Unbase64(silent.signature)), "t");
  EXPECT_EQ(signWithCurrentCertificate("t", "", "bad", testing::kIssuerText, "5C", false).code, kPfxFileWrongPassword);

  // Interactive: the load dialog until the right password, then signs.
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", env.pfx}, {"password", "bad"}});
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", env.pfx}, {"password", "pw"}});
  EXPECT_EQ(signWithCurrentCertificate("t", "", "", testing::kIssuerText, "5C", true).code, 0);
  EXPECT_EQ(env.ui->dialogs.size(), 2u);

  // pfx first and cancelled: the store is not tried.
  setSetting("cert.readOrder", "pfx,ieCertStore");
  EXPECT_EQ(signWithCurrentCertificate("t", "", "", testing::kIssuerText, "5C", true).code, kCancelled);

  // Store first without the certificate: the file is tried next.
  setSetting("cert.readOrder", "ieCertStore,pfx");
  EXPECT_EQ(signWithCurrentCertificate("t", env.pfx, "pw", testing::kIssuerText, "5C", false).code, 0);
  // Store only: its failure is the answer.
  setSetting("cert.readOrder", "ieCertStore");
  EXPECT_EQ(signWithCurrentCertificate("t", "", "pw", testing::kIssuerText, "5C", false).code, kFindCertNoMatch);
}

}  // namespace
}  // namespace quil
