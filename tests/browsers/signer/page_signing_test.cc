// A page's signature as the signing host makes it: with the customer's
// file and store certificates, only after a confirmation, and each way of
// getting none.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pkcs7.h>

#include <ctime>
#include <filesystem>

#include "base/base64.h"
#include "browsers/sign_refusals.h"
#include "browsers/signer/page_signing.h"
#include "browsers/signer/signer_messages.h"
#include "browsers/signer/signer_session.h"
#include "browsers/signer_settings.h"
#include "cert/cert_info.h"
#include "cert/cert_test_env.h"
#include "cert/held_certificate.h"
#include "cert/pfx_file.h"
#include "cert/pfx_import.h"
#include "cert/test_pki.h"
#include "platform/registry.h"
#include "base/settings.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

using testing::SharedCa;

constexpr char kSite[] = "https://trade.example.com.tw";
constexpr char kOrder[] = "委託單\n買進 2330 台積電 1000 股，限價 600.00";

// QUIL's screen, answered as the test says; remembers what it was asked.
struct ScriptedConfirmer : signer::Confirmer {
  Confirmation answer;
  std::vector<ConfirmationRequest> asked;
  std::vector<std::string> reports;
  Confirmation Ask(const ConfirmationRequest& request) override {
    asked.push_back(request);
    return answer;
  }
  void Report(const std::string& result) override { reports.push_back(result); }
};

Confirmation Answer(Decision d, const std::string& password = "") {
  Confirmation c;
  c.decision = d;
  c.password = password;
  return c;
}

// A customer holding the certificate A123456789-01 (serial 5C) in a file
// with the password "pw", on a site of the operator's list.
struct SignerEnv {
  SignerEnv() {
    testing::PrepareCertTests();
    testing::UseLocalSettingsOnly();
    pfx = home.path() + "/QUIL/QUILCert.P12";
    std::filesystem::create_directories(home.path() + "/QUIL");
    std::string bundle = testing::Base64(testing::Pkcs7Bundle({SharedCa().root, SharedCa().intermediate, cert}));
    EXPECT_EQ(makePfxFile(bundle, testing::KeyPem(key.key), pfx, "pw"), 0);
    record = certInfoFromPkcs12(testing::ReadFileForTest(pfx), "pw").info;
    RememberHeldCertificate(record, InPfxFile(pfx));
    RememberSigningOrigins({{"depCert.targetUrl", std::string(kSite) + "/order/"}},
                           "https://proxy.example.com.tw/PELIProxy/proxy/");
  }
  ~SignerEnv() { ResetSettingsForTesting(); }

  signer::PageSignature Sign(const std::string& origin = kSite, const std::string& text = kOrder) {
    return signer::SignForPage(origin, text, "req-1", confirmer, std::time(nullptr));
  }

  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  testing::TestKey key = testing::NewTestKey();
  std::string cert = SharedCa().Issue(key.key, "A123456789-01", "5C");
  std::string pfx;
  CertInfo record;
  ScriptedConfirmer confirmer;
};

struct Verified {
  bool ok = false;
  std::string content;
  std::string signer_serial;
};

// Checks the signature (not the chain: the test authority is not trusted)
// and reads what it carries.
Verified Verify(const std::string& signature) {
  Verified v;
  auto der = base64Decode(signature);
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  if (!p7) return v;
  BIO* out = BIO_new(BIO_s_mem());
  v.ok = PKCS7_verify(p7, nullptr, nullptr, nullptr, out, PKCS7_NOVERIFY) == 1;
  char* data = nullptr;
  long n = BIO_get_mem_data(out, &data);
  v.content.assign(data, static_cast<size_t>(n > 0 ? n : 0));
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7, nullptr, 0);
  if (signers && sk_X509_num(signers) == 1) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(sk_X509_value(signers, 0)), nullptr);
    char* hex = BN_bn2hex(bn);
    v.signer_serial = hex;
    OPENSSL_free(hex);
    BN_free(bn);
  }
  sk_X509_free(signers);
  BIO_free(out);
  PKCS7_free(p7);
  return v;
}

TEST(SignForPage, SignsTheExactTextWithTheFileCertificateOnceConfirmed) {
  SignerEnv env;
  env.confirmer.answer = Answer(Decision::kConfirmed, "pw");
  signer::PageSignature s = env.Sign();
  ASSERT_EQ(s.refusal, "");
  Verified v = Verify(s.signature);
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.content, kOrder);
  EXPECT_EQ(v.signer_serial, "5C");
  EXPECT_EQ(s.cn, "A123456789-01");
  EXPECT_EQ(s.serial, "5C");
  ASSERT_EQ(env.confirmer.asked.size(), 1u);
  const ConfirmationRequest& q = env.confirmer.asked[0];
  EXPECT_EQ(q.origin, kSite);
  EXPECT_EQ(q.text, kOrder);
  EXPECT_EQ(q.request_id, "req-1");
  EXPECT_EQ(q.cn, "A123456789-01");
  EXPECT_EQ(q.serial, "5C");
  EXPECT_EQ(q.not_after, FieldOf(env.record, "notAfter"));
  EXPECT_EQ(q.store, "pfx");
  EXPECT_EQ(env.confirmer.reports, std::vector<std::string>{"signed"});
}

TEST(SignForPage, EachAnswerOfTheScreenButAConfirmationSignsNothing) {
  struct Case {
    Confirmation answer;
    const char* refusal;
    std::vector<std::string> reports;
  } cases[] = {
      {Answer(Decision::kConfirmed, "wrong"), refusal::kWrongPassword, {refusal::kWrongPassword}},
      {Answer(Decision::kConfirmed, ""), refusal::kWrongPassword, {refusal::kWrongPassword}},
      {Answer(Decision::kCancelled), refusal::kCancelled, {}},
      {Answer(Decision::kTimedOut), refusal::kTimedOut, {}},
      {Answer(Decision::kBusy), refusal::kBusy, {}},
      {Answer(Decision::kUnavailable), refusal::kQuilUnavailable, {}},
  };
  SignerEnv env;
  for (const auto& c : cases) {
    env.confirmer.answer = c.answer;
    env.confirmer.reports.clear();
    signer::PageSignature s = env.Sign();
    EXPECT_EQ(s.refusal, c.refusal);
    EXPECT_EQ(s.signature, "") << c.refusal;
    EXPECT_EQ(env.confirmer.reports, c.reports) << c.refusal;
  }
}

TEST(SignForPage, RefusesWithoutAScreenWhatCannotBeSigned) {
  struct Case {
    const char* name;
    std::function<void(SignerEnv&)> arrange;
    std::string origin;
    std::string text;
    const char* refusal;
  } cases[] = {
      {"an origin off the list", [](SignerEnv&) {}, "https://evil.example.com", kOrder, refusal::kOriginNotAllowed},
      {"plain http", [](SignerEnv&) {}, "http://trade.example.com.tw", kOrder, refusal::kOriginNotAllowed},
      {"a hidden character", [](SignerEnv&) {}, kSite, "買進\u202E00.006", refusal::kTextNotDisplayable},
      {"a text too long", [](SignerEnv&) {}, kSite, std::string(signer::kMaxSignTextBytes + 1, 'a'),
       refusal::kTextTooLong},
      {"a revoked certificate",
       [](SignerEnv&) { RememberRevokedCertificate("A123456789-01", "20250101120000"); }, kSite, kOrder,
       refusal::kCertificateRevoked},
      {"an expired certificate",
       [](SignerEnv& e) {
         CertInfo old = e.record;
         old["notAfter"] = "20200101000000";
         RememberHeldCertificate(old, InPfxFile(e.pfx));
       },
       kSite, kOrder, refusal::kCertificateExpired},
      {"a file that is gone", [](SignerEnv& e) { std::filesystem::remove(e.pfx); }, kSite, kOrder,
       refusal::kCertificateUnavailable},
      {"nothing held",
       [](SignerEnv&) {
         (void)platform::CurrentUserHive().DeleteKey("Software\\MERO\\QUILReminder\\HeldCertificates");
       },
       kSite, kOrder, refusal::kNoCertificate},
      {"two held, none put into the browsers",
       [](SignerEnv& e) {
         CertInfo other = e.record;
         other["cn"] = "B223456789-01";
         RememberHeldCertificate(other, InPfxFile(e.pfx));
       },
       kSite, kOrder, refusal::kNoCertificate},
  };
  for (const auto& c : cases) {
    SignerEnv env;
    env.confirmer.answer = Answer(Decision::kConfirmed, "pw");
    c.arrange(env);
    signer::PageSignature s = env.Sign(c.origin, c.text);
    EXPECT_EQ(s.refusal, c.refusal) << c.name;
    EXPECT_TRUE(env.confirmer.asked.empty()) << c.name;
  }
}

TEST(SignForPage, OfSeveralHeldTheOnePutIntoTheBrowsersSigns) {
  SignerEnv env;
  CertInfo other = env.record;
  other["cn"] = "B223456789-01";
  other["serial"] = "77";
  RememberHeldCertificate(other, InPfxFile(env.home.path() + "/other.p12"));
  RememberSigningCertificate("A123456789-01");
  env.confirmer.answer = Answer(Decision::kConfirmed, "pw");
  signer::PageSignature s = env.Sign();
  ASSERT_EQ(s.refusal, "");
  EXPECT_EQ(Verify(s.signature).signer_serial, "5C");
}

TEST(SignForPage, SignsWithTheStoreCertificateWithoutAPassword) {
  SignerEnv env;
  ASSERT_EQ(importPfxIntoStores(env.pfx, "pw"), 0);
  std::filesystem::remove(env.pfx);
  RememberHeldCertificate(env.record, InMyStore());
  env.confirmer.answer = Answer(Decision::kConfirmed);
  signer::PageSignature s = env.Sign();
  ASSERT_EQ(s.refusal, "");
  Verified v = Verify(s.signature);
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.content, kOrder);
  EXPECT_EQ(v.signer_serial, "5C");
  ASSERT_EQ(env.confirmer.asked.size(), 1u);
  EXPECT_EQ(env.confirmer.asked[0].store, "ieCertStore");

  // A record naming a certificate the store no longer has asks nothing.
  CertInfo gone = env.record;
  gone["serial"] = "5D";
  RememberHeldCertificate(gone, InMyStore());
  EXPECT_EQ(env.Sign().refusal, refusal::kCertificateUnavailable);
  EXPECT_EQ(env.confirmer.asked.size(), 1u);
}

TEST(SignerSession, HoldsConfirmationsToARate) {
  SignerEnv env;
  env.confirmer.answer = Answer(Decision::kCancelled);
  signer::SignerSession session(&env.confirmer);
  const std::string request = R"({"type":"Sign","id":"9","text":"buy","origin":"https://trade.example.com.tw"})";
  const std::string elsewhere = R"({"type":"Sign","id":"8","text":"buy","origin":"https://evil.example.com"})";
  for (int i = 0; i < signer::kSignRequestsPerMinute; ++i) {
    EXPECT_NE(session.Answer(request).find("\"reason\":\"cancelled\""), std::string::npos);
    // What the rules refuse asks nothing and takes no turn.
    EXPECT_NE(session.Answer(elsewhere).find("\"reason\":\"origin-not-allowed\""), std::string::npos);
  }
  EXPECT_EQ(session.Answer(request), R"({"id":"9","reason":"rate-limited","type":"refused"})");
  EXPECT_EQ(env.confirmer.asked.size(), static_cast<size_t>(signer::kSignRequestsPerMinute));
  // Other requests are not held back.
  EXPECT_EQ(session.Answer(R"({"type":"GetOrigins","id":"x"})"),
            R"({"id":"x","origins":["https://proxy.example.com.tw","https://trade.example.com.tw"],"type":"origins"})");
}

}  // namespace
}  // namespace quil
