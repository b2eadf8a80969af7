// bakUserCert, impUserCert, changePfxPwd and changePfxPwd2 against the
// demo proxy, with the files checked by the openssl command line.
#include <gtest/gtest.h>

#include <functional>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/cert_stores.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "platform/diagnostic_log.h"

namespace quil::testing {
namespace {

// openssl's account of a PKCS#12 file's algorithms.
std::string Pkcs12Info(const std::string& path, const std::string& password) {
  std::string out;
  EXPECT_EQ(OpenSsl("pkcs12 -info -legacy -noout -in '" + path + "' -passin pass:" + password, &out), 0) << out;
  return out;
}

void ExpectLegacyAlgorithms(const std::string& path, const std::string& password) {
  std::string info = Pkcs12Info(path, password);
  EXPECT_NE(info.find("MAC: sha1, Iteration 1\n"), std::string::npos) << info;
  EXPECT_NE(info.find("PKCS7 Encrypted data: pbeWithSHA1And40BitRC2-CBC, Iteration 2048"), std::string::npos) << info;
  EXPECT_NE(info.find("Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"), std::string::npos) << info;
}

TEST(BackupUserCert, StoreCertificateWithChainAndKeyGoesToTheChosenFile) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  const std::string serial = HoldCertificateInStore(s);
  const std::string path = s.home.path() + "/backup/mine.P12";
  s.AnswerSaveDialog(path, "back99");
  EXPECT_EQ(s.Call("bakUserCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  ASSERT_EQ(s.ui->dialogs.size(), 1u);
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILSavePfxDlg");
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_EQ(VerifyWithDemoAuthority(s, Pkcs12CertPem(path, "back99")), "OK");
  EXPECT_EQ(certInfoFromPkcs12(ReadFileForTest(path), "back99").info["serial"], serial);
  EXPECT_FALSE(Pkcs12PublicKey(path, "back99").empty()) << "the private key is in the file";
  std::string certs;
  OpenSsl("pkcs12 -legacy -nokeys -in '" + path + "' -passin pass:back99", &certs);
  size_t count = 0;
  for (size_t at = certs.find("BEGIN CERTIFICATE"); at != std::string::npos; at = certs.find("BEGIN CERTIFICATE", at + 1))
    ++count;
  EXPECT_EQ(count, 3u) << "the certificate, its issuer and the root";
  EXPECT_EQ(GetPathSetting("env.userPfxFilePath"), path);
}

TEST(BackupUserCert, FailuresBeforeAndAtTheDialog) {
  struct Case {
    const char* name;
    const char* profile;
    std::function<void(DemoSession&)> arrange;
    int code;
    size_t dialogs;
  } kCases[] = {
      {"no common name", "store", NoCommonName, kBackupNoCn, 0},
      {"the proxy knows no certificate", "store", [](DemoSession& s) {
         s.bench().Script("qryCert", "<result><rtnCode>0</rtnCode></result>");
       }, kBackupNoCert, 0},
      {"not in the store", "pfx", [](DemoSession&) {}, kMyStoreNoMatch, 0},
      {"dialog cancelled", "store", [](DemoSession&) {}, kCancelled, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s(c.profile);
    ASSERT_TRUE(s.logged_in);
    if (std::string(c.profile) == "pfx") HoldCertificateInFile(s, s.home.path() + "/c.P12", "abc123");
    else HoldCertificateInStore(s);
    c.arrange(s);
    EXPECT_EQ(s.Call("bakUserCert", {s.customer.idno}), PlainReplyFor(c.code));
    EXPECT_EQ(s.ui->dialogs.size(), c.dialogs);
  }
}

TEST(ImportUserCert, FileWithAPasswordIsChosenInTheLoadDialogAndLandsInTheStores) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const std::string path = s.home.path() + "/c.P12";
  const std::string serial = HoldCertificateInFile(s, path, "abc123");
  EXPECT_EQ(s.Call("impUserCert", {"ignored"}), PlainReplyFor(kCancelled)) << "the remembered file needs its password";
  ASSERT_EQ(s.ui->dialogs.size(), 1u);
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILLoadPfxDlg");
  EXPECT_EQ(s.ui->dialogs[0].fields[0].value, path);
  EXPECT_TRUE(platform::OpenSystemStore("MY")->Certificates().empty());

  s.AnswerLoadDialog(path, "abc123");
  EXPECT_EQ(s.Call("impUserCert", {""}), "{'errCode':'0','errMsg':''}");
  auto my = platform::OpenSystemStore("MY")->Certificates();
  ASSERT_EQ(my.size(), 1u);
  EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], serial);
  EXPECT_TRUE(platform::AcquireCertificatePrivateKey(my[0]).has_value());
  EXPECT_EQ(platform::OpenSystemStore("CA")->Certificates().size(), 1u);
  if (WineVersion() && platform::OpenSystemStore("ROOT")->Certificates().empty())
    GTEST_SKIP() << "Wine " << WineVersion()
                 << ": PFXImportCertStore returns two of the file's three certificates (it drops the root), "
                    "so ROOT stays empty";
  EXPECT_EQ(platform::OpenSystemStore("ROOT")->Certificates().size(), 1u);
}

struct PasswordChangeCase {
  std::string path;
  std::string bytes;  // before
};

PasswordChangeCase HeldFile(DemoSession& s) {
  PasswordChangeCase h{s.home.path() + "/certs/mine.P12", ""};
  HoldCertificateInFile(s, h.path, "abc123");
  h.bytes = ReadFileForTest(h.path);
  return h;
}

TEST(ChangePfxPassword, VerifiedChangeRewritesTheFileUnderTheNewPasswordOnly) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  PasswordChangeCase held = HeldFile(s);
  const std::string serial = s.LatestCert().serial;
  EXPECT_EQ(s.Call("changePfxPwd2", {s.customer.idno, held.path, "abc123", "new456"}), "{'errCode':'0','errMsg':''}");
  EXPECT_TRUE(s.ui->messages.empty());
  EXPECT_TRUE(Pkcs12Opens(held.path, "new456"));
  EXPECT_FALSE(Pkcs12Opens(held.path, "abc123"));
  ExpectLegacyAlgorithms(held.path, "new456");
  EXPECT_EQ(certInfoFromPkcs12(ReadFileForTest(held.path), "new456").info["serial"], serial);
  EXPECT_EQ(Pkcs12PublicKey(held.path, "new456"), KeyFilePublicKey(KeyFilePaths(s)[0]));
  auto proofs = s.bench().CallsOf("changePfxPwVerifyP7");
  ASSERT_EQ(proofs.size(), 1u);
  EXPECT_FALSE(proofs[0].Field("sign").empty());
  EXPECT_NE(proofs[0].reply.find("<rtnCode>0</rtnCode>"), std::string::npos) << "the proxy verified it";
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), "abc123") << "the signature step remembered the password it opened";
}

TEST(ChangePfxPassword, VerifiedChangeFailuresLeaveTheFileAsItWas) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&, std::string& path, std::string& current)> arrange;
    int code;
    bool proof_sent;
    std::vector<std::string> messages;
  } kCases[] = {
      {"no such file", [](DemoSession& s, std::string& path, std::string&) { path = s.home.path() + "/none.P12"; },
       kPfxFileLoadFailed, false, {}},
      {"no current certificate", [](DemoSession& s, std::string&, std::string&) {
         s.bench().Script("qryLastActiveCert", "<result><rtnCode>0</rtnCode></result>");
       }, kNoCurrentCertInfo, false, {}},
      {"wrong current password", [](DemoSession&, std::string&, std::string& current) { current = "wrong1"; },
       kPfxFileWrongPassword, false, {}},
      {"a file of an earlier certificate", [](DemoSession& s, std::string&, std::string&) {
         NearItsEnd(s);
         auto renewed = ReplyFields(s.Call("replaceCert2", {s.customer.idno, "", "abc123"}));
         ASSERT_EQ(s.Call("savePfx2", {renewed["applyId"], renewed["b64Cert"], s.home.path() + "/n.P12", "new456"}),
                   "{'errCode':'0','errMsg':''}");
         s.bench().ClearCalls();
       }, kCertFileWrongSerial, false, {}},
      {"proxy refuses the proof", [](DemoSession& s, std::string&, std::string&) {
         Fault(s, "changePfxPwVerifyP7", "rtn:2502:bad");
       }, kVerifyP7Refused, true, {"驗章失敗[<57005>]"}},
      {"signature from the store, file refuses the password", [](DemoSession& s, std::string&, std::string& current) {
         s.AnswerLoadDialog(s.home.path() + "/certs/mine.P12", "abc123");
         ASSERT_EQ(s.Call("impUserCert", {""}), "{'errCode':'0','errMsg':''}");
         setSetting("cert.readOrder", "ieCertStore");
         current = "wrong1";
       }, kPfxFileWrongPassword, true,
       {"讀取憑證失敗[憑證檔密碼錯誤]"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    PasswordChangeCase held = HeldFile(s);
    std::string path = held.path, current = "abc123";
    c.arrange(s, path, current);
    s.ClearUi();
    EXPECT_EQ(s.Call("changePfxPwd2", {s.customer.idno, path, current, "new456"}), PlainReplyFor(c.code));
    EXPECT_EQ(s.bench().CallsOf("changePfxPwVerifyP7").size(), c.proof_sent ? 1u : 0u);
    EXPECT_EQ(s.ui->messages, c.messages);
    EXPECT_TRUE(ReadFileForTest(held.path) == held.bytes) << "the file is as it was";
  }
}

TEST(ChangePfxPassword, DialogFormAsksAgainUntilTheFileOpensOrTheCustomerCancels) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  PasswordChangeCase held = HeldFile(s);
  auto change = [&](const std::string& path, const std::string& current) {
    s.ui->dialog_answers.push_back(ui::DialogValues{
        {"path", path}, {"currentPassword", current}, {"newPassword", "new456"}, {"confirm", "new456"}});
  };
  const std::string notes = s.home.path() + "/notes.P12";
  WriteFileForTest(notes, "not a certificate file\n");
  change(held.path, "wrong1");
  change(s.home.path() + "/none.P12", "abc123");
  change(notes, "abc123");
  change(held.path, "abc123");
  // No journal at this path: the log goes to standard error, read here.
  platform::SetJournalSocketForTesting(s.home.path() + "/no-journal");
  platform::SetLogLevel(platform::LogLevel::kError);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(s.Call("changePfxPwd", {"ignored"}), "{'errCode':'0','errMsg':''}");
  const std::string log = ::testing::internal::GetCapturedStderr();
  // The library's own words for each refusal go to the log, no password.
  EXPECT_NE(log.find("layer=workflows operation=changePfxPwd result=kImportPfxRefused"), std::string::npos) << log;
  for (const char* secret : {"wrong1", "abc123", "new456"}) EXPECT_EQ(log.find(secret), std::string::npos) << log;
  ASSERT_EQ(s.ui->dialogs.size(), 4u);
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILChgPfxPwdDlg");
  EXPECT_EQ(s.ui->dialogs[0].fields[0].value, held.path) << "preset with the remembered file";
  // After each failure: the path kept, both passwords emptied.
  for (size_t i : {1u, 2u, 3u}) {
    EXPECT_EQ(s.ui->dialogs[i].fields[2].name, "currentPassword");
    EXPECT_EQ(s.ui->dialogs[i].fields[2].value, "");
    EXPECT_EQ(s.ui->dialogs[i].fields[3].value, "");
  }
  EXPECT_EQ(s.ui->dialogs[1].fields[0].value, held.path);
  EXPECT_EQ(s.ui->dialogs[2].fields[0].value, s.home.path() + "/none.P12");
  EXPECT_EQ(s.ui->dialogs[3].fields[0].value, notes);
  // Why a file did not open, in the customer's terms; an unreadable file
  // only shows the dialog again.
  EXPECT_EQ(s.ui->messages,
            (std::vector<std::string>{"讀取憑證失敗[憑證檔密碼錯誤]", "讀取憑證失敗[檔案不是 PKCS#12 憑證檔]"}));
  EXPECT_TRUE(Pkcs12Opens(held.path, "new456"));
  ExpectLegacyAlgorithms(held.path, "new456");
  EXPECT_TRUE(s.bench().CallsOf("changePfxPwVerifyP7").empty()) << "no proof with the dialog";
  EXPECT_EQ(GetPathSetting("env.userPfxFilePath"), held.path);
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), "abc123") << "the settings are not changed";

  s.ClearUi();
  EXPECT_EQ(s.Call("changePfxPwd", {""}), PlainReplyFor(kDialogCancelled));
  EXPECT_TRUE(Pkcs12Opens(held.path, "new456"));
}

}  // namespace
}  // namespace quil::testing
