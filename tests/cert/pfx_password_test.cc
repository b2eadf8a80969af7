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

// A child process changes the password back and forth and is killed at a
// random moment, again and again: the file must open with one of the two
// passwords every time.
TEST(PfxPassword, AKillAtAnyMomentLeavesAFileThatOpens) {
  Env env;
  const std::string path = env.home.path() + "/mine.P12";
  WriteUserFile(path, "aaa111");
  const std::vector<std::string> passwords = {"aaa111", "bbb222"};

  // One change, timed, so the kills spread over whole changes here.
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RewritePfxWithPassword(path, testing::ReadFileForTest(path), "aaa111", "bbb222").code, 0);
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
