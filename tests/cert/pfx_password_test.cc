// A PKCS#12 file under a new password: the store's format afterwards, and
// a file that opens with the old password or the new one whatever happens.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "base/files.h"
#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "cert/pfx_password.h"
#include "cert/test_pki.h"
#include "cert_test_env.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

struct Env {
  Env() {
    testing::PrepareCertTests();
    testing::UseLocalSettingsOnly();
  }
  ~Env() { ResetSettingsForTesting(); }
  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
};

// A file written by the certificate engine (OpenSSL's layout) for a fresh
// user certificate with its chain.
std::string WriteUserFile(const std::string& path, const std::string& password) {
  static testing::TestKey* key = new testing::TestKey(testing::NewTestKey());
  const testing::TestCa& ca = testing::SharedCa();
  std::string der = testing::SharedCa().Issue(key->key, "A123456789-01", "5C0FFEE");
  std::string bundle = testing::Base64(testing::Pkcs7Bundle({ca.root, ca.intermediate, der}));
  EXPECT_EQ(makePfxFile(bundle, testing::KeyPem(key->key), path, password), 0);
  return testing::ReadFileForTest(path);
}

// Which of the passwords opens the file: "" for none.
std::string OpensWith(const std::string& path, const std::vector<std::string>& passwords) {
  for (const auto& p : passwords)
    if (checkPfxFile(path, p) == 0) return p;
  return "";
}

TEST(PfxPassword, RewritesUnderTheNewPasswordInTheStoresFormat) {
  Env env;
  const std::string path = env.home.path() + "/mine.P12";
  const std::string before = WriteUserFile(path, "old111");
  CertInfoResult old_record = certInfoFromPkcs12(before, "old111");
  ASSERT_EQ(old_record.code, 0);

  PfxRewriteResult r = RewritePfxWithPassword(path, before, "old111", "new222");
  ASSERT_EQ(r.code, 0) << r.reason;
  EXPECT_EQ(OpensWith(path, {"old111", "new222"}), "new222");
  std::string info;
  ASSERT_EQ(testing::RunCommand("openssl pkcs12 -info -legacy -noout -passin pass:new222 -in " + path, &info), 0) << info;
  EXPECT_NE(info.find("MAC: sha1, Iteration 1\n"), std::string::npos) << info;
  EXPECT_NE(info.find("PKCS7 Encrypted data: pbeWithSHA1And40BitRC2-CBC, Iteration 2048"), std::string::npos);
  EXPECT_NE(info.find("Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"), std::string::npos);
  CertInfoResult record = certInfoFromPkcs12(testing::ReadFileForTest(path), "new222");
  EXPECT_EQ(record.info, old_record.info) << "the same certificate";
  EXPECT_TRUE(env.ui->messages.empty());

  // A wrong current password changes nothing and says why.
  const std::string now = testing::ReadFileForTest(path);
  r = RewritePfxWithPassword(path, now, "old111", "x");
  EXPECT_EQ(r.code, kImportPfxRefused);
  EXPECT_FALSE(r.reason.empty());
  EXPECT_TRUE(testing::ReadFileForTest(path) == now);
  EXPECT_TRUE(env.ui->messages.empty());
}

// A PKCS#12 structure whose MAC verifies with `password` but whose one safe
// holds no safe contents.
std::string BrokenInsidePfx(const std::string& password) {
  ossl::Ptr<PKCS7> data(PKCS7_new());
  EXPECT_EQ(PKCS7_set_type(data.get(), NID_pkcs7_data), 1);
  EXPECT_EQ(ASN1_OCTET_STRING_set(data->d.data, reinterpret_cast<const unsigned char*>("garbage"), 7), 1);
  STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
  sk_PKCS7_push(safes, data.release());
  ossl::Ptr<PKCS12> p12(PKCS12_add_safes(safes, 0));
  sk_PKCS7_pop_free(safes, PKCS7_free);
  EXPECT_TRUE(p12);
  EXPECT_EQ(PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, 1, EVP_sha1()), 1);
  return ossl::ToDer(i2d_PKCS12, p12.get());
}

// A file that does not open is refused in the customer's terms, with the
// store's own words kept beside them; the file is left as it was.
TEST(PfxPassword, RefusalsSayWhyInTheCustomersTerms) {
  Env env;
  const std::string path = env.home.path() + "/mine.P12";
  const std::string good = WriteUserFile(path, "old111");
  struct Case {
    const char* name;
    std::string bytes;
    PfxRefusal refusal;
    const char* text;
  } kCases[] = {
      {"wrong password", good, PfxRefusal::kWrongPassword, "憑證檔密碼錯誤"},
      {"a text file", "-----BEGIN CERTIFICATE-----\nMIIB\n", PfxRefusal::kNotPkcs12, "檔案不是 PKCS#12 憑證檔"},
      {"a picture", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), PfxRefusal::kNotPkcs12,
       "檔案不是 PKCS#12 憑證檔"},
      {"cut short", good.substr(0, good.size() / 2), PfxRefusal::kDamaged, "憑證檔已損毀"},
      {"broken inside", BrokenInsidePfx("wrong1"), PfxRefusal::kDamaged, "憑證檔已損毀"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WhyPfxRefused(c.bytes, "wrong1"), c.refusal);
    EXPECT_EQ(PfxRefusalText(c.refusal), c.text);
    testing::WriteFileForTest(path, c.bytes);
    PfxRewriteResult r = RewritePfxWithPassword(path, c.bytes, "wrong1", "new222");
    EXPECT_EQ(r.code, kImportPfxRefused);
    EXPECT_EQ(r.refusal, c.refusal);
    EXPECT_FALSE(r.reason.empty()) << "the store's own words are kept";
    EXPECT_TRUE(testing::ReadFileForTest(path) == c.bytes);
  }
  EXPECT_EQ(WhyPfxRefused(good, "old111"), PfxRefusal::kNone);
  EXPECT_EQ(PfxRefusalText(PfxRefusal::kNone), "");
}

// A child process changes the password back and forth and is killed at a
// random moment, again and again: the file must open with one of the two
// passwords every time.
TEST(PfxPassword, AKillAtAnyMomentLeavesAFileThatOpens) {
  Env env;
  const std::string path = env.home.path() + "/mine.P12";
  WriteUserFile(path, "aaa111");
  const std::vector<std::string> passwords = {"aaa111", "bbb222"};

  // One change and one refusal, timed, as the child's slowest round takes
  // both, so the kills spread over whole changes here.
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RewritePfxWithPassword(path, testing::ReadFileForTest(path), "aaa111", "bbb222").code, 0);
  ASSERT_EQ(RewritePfxWithPassword(path, testing::ReadFileForTest(path), "aaa111", "bbb222").code, kImportPfxRefused);
  const auto one_change = std::chrono::steady_clock::now() - started;
  const int spread_us =
      static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(one_change).count()) * 3 + 1000;

  std::mt19937 random(20261210);
  std::set<std::string> seen;
  for (int round = 0; round < 60 && (round < 20 || seen.size() < 2); ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        auto bytes = ReadNonEmptyFile(path);
        if (!bytes) _exit(3);
        if (RewritePfxWithPassword(path, *bytes, "aaa111", "bbb222").code != 0 &&
            RewritePfxWithPassword(path, *bytes, "bbb222", "aaa111").code != 0)
          _exit(4);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % spread_us));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << WEXITSTATUS(status);
    std::string opens = OpensWith(path, passwords);
    ASSERT_NE(opens, "") << "round " << round << ": the file opens with neither password";
    seen.insert(opens);
  }
  EXPECT_EQ(seen.size(), 2u) << "the changes completed between kills";
}

}  // namespace
}  // namespace quil
