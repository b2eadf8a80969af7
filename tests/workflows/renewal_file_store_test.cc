// replaceCert2 and replaceCert with the file store, against the demo proxy:
// the new request signed with the old certificate's key, the new
// certificate handed back or saved, the old file left alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "proxy/actions.h"

namespace quil::testing {
namespace {

namespace r = renew;

// The proof the proxy kept for the renewal: a PKCS#7 signature whose only
// possible signer is `old_cert_pem` and whose content is `csr`.
void ExpectProofByOldKey(DemoSession& s, const std::string& proof_base64, const std::string& old_cert_pem,
                         const std::string& csr) {
  const std::string dir = s.home.path() + "/proof";
  WriteFileForTest(dir + "/proof.b64", proof_base64);
  WriteFileForTest(dir + "/old.pem", old_cert_pem);
  std::string out;
  ASSERT_EQ(OpenSsl("base64 -d -A -in " + dir + "/proof.b64 -out " + dir + "/proof.der"), 0);
  EXPECT_EQ(OpenSsl("smime -verify -inform DER -in " + dir + "/proof.der -noverify -nointern -certfile " + dir +
                        "/old.pem -out " + dir + "/content",
                    &out),
            0)
      << out;
  EXPECT_EQ(ReadFileForTest(dir + "/content"), csr);
}

struct Held {
  std::string path, password, serial, cert_pem;
  std::string bytes;  // the file as it was before the renewal
};

Held HoldNearItsEnd(DemoSession& s) {
  Held h{s.home.path() + "/certs/old.P12", "abc123", "", "", ""};
  h.serial = HoldCertificateInFile(s, h.path, h.password);
  h.cert_pem = Pkcs12CertPem(h.path, h.password);
  h.bytes = ReadFileForTest(h.path);
  NearItsEnd(s);
  return h;
}

TEST(RenewFileStore, HandBackSignsWithTheOldKeyAndTheNewCertificateIsSavedAndVerifies) {
  for (bool remembered_path : {false, true}) {
    SCOPED_TRACE(remembered_path ? "empty path: the remembered file" : "path given");
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    Held old = HoldNearItsEnd(s);
    auto reply =
        ReplyFields(s.Call("replaceCert2", {s.customer.idno, remembered_path ? "" : old.path, old.password}));
    ASSERT_EQ(reply["errCode"], "0") << reply["errMsg"];
    EXPECT_EQ(reply["errMsg"], "");
    EXPECT_EQ(ProgressLines(s.ui.get()), (Lines{Step(1, 0, r::kStart), Step(2, 6, r::kStart), Step(3, 6, r::kRequest),
                                                Step(4, 6, r::kSign), Step(5, 6, r::kSend), Final(5, 6, r::kDone)}));
    for (const auto& v : s.ui->progress) EXPECT_EQ(v.title, "憑證更新");
    EXPECT_TRUE(s.ui->dialogs.empty());

    auto sent = s.bench().CallsOf("renewCert");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Field("hexSerial"), old.serial);
    auto renewed = s.LatestCert();
    EXPECT_EQ(reply["applyId"], std::to_string(renewed.cert_id));
    EXPECT_EQ(renewed.state, "10") << "not stored yet";
    EXPECT_EQ(renewed.replaces_serial, old.serial);
    EXPECT_EQ(renewed.renewal_proof, sent[0].Field("sign"));
    ExpectProofByOldKey(s, renewed.renewal_proof, old.cert_pem, sent[0].Field("csr"));

    // The page stores it as after an application.
    const std::string path = s.home.path() + "/certs/new.P12";
    ASSERT_EQ(s.Call("savePfx2", {reply["applyId"], reply["b64Cert"], path, "new789"}), "{'errCode':'0','errMsg':''}");
    std::string cert = Pkcs12CertPem(path, "new789");
    EXPECT_EQ(VerifyWithDemoAuthority(s, cert), "OK");
    auto keys = KeyFilePaths(s);
    ASSERT_EQ(keys.size(), 2u) << "the old key file and the renewal's";
    EXPECT_EQ(Pkcs12PublicKey(path, "new789"), KeyFilePublicKey(keys[1]));
    EXPECT_EQ(Pkcs12PublicKey(old.path, old.password), KeyFilePublicKey(keys[0]));
    EXPECT_EQ(ReadFileForTest(old.path), old.bytes) << "the old file is not touched";
    auto certs = s.ProxyCerts();
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_EQ(certs[0].state, "0");
    EXPECT_EQ(certs[1].state, "13") << "replaced";
    EXPECT_EQ(s.proxy().FnStatus(s.customer.idno).substr(0, 2), "00");
  }
}

TEST(RenewFileStore, LostReplyContinuesWithoutRequestOrSignatureAndTheKeptKeyStoresIt) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  Held old = HoldNearItsEnd(s);
  Fault(s, "renewCert", "lost,times:1");
  auto lost = ReplyFields(s.Call("replaceCert2", {s.customer.idno, old.path, old.password}));
  EXPECT_EQ(lost["errCode"], std::to_string(kRenewFileSendFailed));
  ASSERT_EQ(s.proxy().FnStatus(s.customer.idno).substr(0, 2), "02") << "issued, not stored";
  s.ClearUi();
  s.bench().ClearCalls();

  auto reply = ReplyFields(s.Call("replaceCert2", {s.customer.idno, old.path, "not used"}));
  ASSERT_EQ(reply["errCode"], "0") << reply["errMsg"];
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, r::kStart), Step(2, 5, r::kStart), Step(3, 5, r::kSend), Final(3, 5, r::kDone)}));
  auto sent = s.bench().CallsOf("renewCert");
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(sent[0].Has("csr") && sent[0].Has("sign"));
  EXPECT_EQ(sent[0].Field("csr"), "");
  EXPECT_EQ(sent[0].Field("sign"), "");
  EXPECT_EQ(sent[0].Field("hexSerial"), old.serial);
  EXPECT_EQ(KeyFilePaths(s).size(), 2u) << "no new key pair";

  const std::string path = s.home.path() + "/again.P12";
  ASSERT_EQ(s.Call("savePfx2", {reply["applyId"], reply["b64Cert"], path, "new789"}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(Pkcs12PublicKey(path, "new789"), KeyFilePublicKey(KeyFilePaths(s)[1]));
  EXPECT_EQ(s.LatestCert().state, "0");
}

TEST(RenewFileStore, FailuresGiveTheRenewalCodesAndSendNothingWithoutAProof) {
  const Lines to_status = {Step(1, 0, r::kStart)};
  const Lines to_current = {Step(1, 0, r::kStart), Step(2, 6, r::kStart)};
  const Lines to_sign = {Step(1, 0, r::kStart), Step(2, 6, r::kStart), Step(3, 6, r::kRequest), Step(4, 6, r::kSign)};
  Lines to_send = to_sign;
  to_send.push_back(Step(5, 6, r::kSend));
  struct Case {
    const char* name;
    std::function<void(DemoSession&, Held&)> arrange;  // may change the file or password used
    int code;
    Lines lines;  // progress before the final report
    bool sent;    // renewCert was sent
  } kCases[] = {
      {"no common name", [](DemoSession& s, Held&) { NoCommonName(s); }, kRenewNoCn, {}, false},
      {"status query fails", [](DemoSession& s, Held&) { Fault(s, "getFnStatus", "status:500"); },
       kRenewFileStatusFailed, to_status, false},
      {"status forbids", [](DemoSession& s, Held&) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>00111</fnStatus></result>");
       }, kRenewFileNotAllowed, to_status, false},
      {"revoked certificate", [](DemoSession& s, Held&) {
         ASSERT_EQ(proxy::revokeCert(s.customer.cn).fields["rvkCode"], "0");
       }, kRenewFileNotAllowed, to_status, false},
      {"no current certificate", [](DemoSession& s, Held&) {
         s.bench().Script("qryLastActiveCert", "<result><rtnCode>0</rtnCode></result>");
       }, kRenewFileNoCurrentCert, to_current, false},
      {"key file not written", [](DemoSession&, Held&) {
         const std::string folder = GetPathSetting("env.userPrivateKeyFolder");
         std::filesystem::remove_all(folder);
         BlockFolder(folder);
       }, kRenewFileRequestFailed, to_current, false},
      {"wrong file password", [](DemoSession&, Held& h) { h.password = "wrong1"; }, kPfxFileWrongPassword, to_sign, false},
      {"no such file", [](DemoSession& s, Held& h) { h.path = s.home.path() + "/none.P12"; }, kPfxFileLoadFailed,
       to_sign, false},
      {"file of another certificate", [](DemoSession& s, Held& h) {
         // An earlier certificate of the same customer, replaced since.
         h.path = s.home.path() + "/older.P12";
         WriteFileForTest(h.path, h.bytes);
         s.proxy().SetCertExpiryForTesting(s.customer.idno, 10);
         auto renewed = ReplyFields(s.Call("replaceCert2", {s.customer.idno, s.home.path() + "/certs/old.P12", h.password}));
         ASSERT_EQ(s.Call("savePfx2", {renewed["applyId"], renewed["b64Cert"], s.home.path() + "/n.P12", "abc123"}),
                   "{'errCode':'0','errMsg':''}");
         NearItsEnd(s);
         s.ClearUi();
         s.bench().ClearCalls();
       }, kCertFileWrongSerial, to_sign, false},
      {"proxy refuses the renewal", [](DemoSession& s, Held&) { Fault(s, "renewCert", "rtn:2105:bad"); },
       kRenewFileSendFailed, to_send, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    Held held = HoldNearItsEnd(s);
    c.arrange(s, held);
    auto reply = ReplyFields(s.Call("replaceCert2", {s.customer.idno, held.path, held.password}));
    EXPECT_EQ(reply["errCode"], std::to_string(c.code));
    EXPECT_EQ(reply["errMsg"], MakeErrorText(c.code));
    EXPECT_EQ(reply["b64Cert"], "");
    EXPECT_EQ(reply["applyId"], "0");
    EXPECT_EQ(StepsBeforeFinal(s, r::kFailed), c.lines);
    EXPECT_EQ(s.ui->hides, 1) << "one final report";
    EXPECT_EQ(s.bench().CallsOf("renewCert").size(), c.sent ? 1u : 0u);
  }
}

TEST(RenewFileStore, AgreementFormSignsThroughTheLoadDialogAndSavesThroughTheSaveDialog) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  Held old = HoldNearItsEnd(s);
  const std::string path = s.home.path() + "/renewed/new.P12";
  s.AcceptAgreement();
  s.AnswerLoadDialog(old.path, "wrong1");  // the dialog comes back until the file opens
  s.AnswerLoadDialog(old.path, old.password);
  s.AnswerSaveDialog(path, "new789");
  EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, r::kStart), Step(2, 6, r::kStart), Step(3, 6, r::kRequest), Step(4, 6, r::kSign), Step(5, 6, r::kSend),
                   Step(6, 6, r::kSave), Step(7, 6, r::kReport), Final(7, 6, r::kDone)}));
  ASSERT_EQ(s.ui->dialogs.size(), 4u);
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILAgmntDlg");
  EXPECT_EQ(s.ui->dialogs[0].fields[0].value, "agreement/apply.html") << "the application terms, also here";
  EXPECT_EQ(s.ui->dialogs[1].dialog, "CQUILLoadPfxDlg");
  EXPECT_EQ(s.ui->dialogs[2].dialog, "CQUILLoadPfxDlg");
  EXPECT_EQ(s.ui->dialogs[3].dialog, "CQUILSavePfxDlg");

  EXPECT_EQ(VerifyWithDemoAuthority(s, Pkcs12CertPem(path, "new789")), "OK");
  auto certs = s.ProxyCerts();
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(certs[0].state, "0");
  EXPECT_EQ(certs[0].cert_path, path);
  EXPECT_EQ(certs[1].state, "13");
  EXPECT_EQ(GetPathSetting("env.userPfxFilePath"), path);
}

TEST(RenewFileStore, DecliningTheTermsEndsWith59201BeforeAnyOtherWork) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  ResetSettingsForTesting();  // a lookup now would load the settings from the proxy
  EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}),
            "{'errCode':'59201','errMsg':'<59201>您不同意憑證更新約定條款, 無法為您更新憑證'}");
  ASSERT_EQ(s.ui->dialogs.size(), 1u);
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILAgmntDlg");
  EXPECT_TRUE(s.bench().Calls().empty()) << "the proxy is not contacted";
  EXPECT_TRUE(s.ui->progress.empty());
}

// A second place: the Windows store, filled from the new file; or the
// certificate written straight into the store when this computer reads it
// from there.
TEST(RenewFileStore, AgreementFormWithTheWindowsStoreAsWell) {
  for (bool read_from_store : {false, true}) {
    SCOPED_TRACE(read_from_store ? "installed through a temporary file" : "saved, then imported");
    DemoSession s("pfx,store");
    ASSERT_TRUE(s.logged_in);
    Held old = HoldNearItsEnd(s);
    if (read_from_store) setSetting("env.read.primaryCertStore", "ieCertStore");
    const std::string path = s.home.path() + "/new.P12";
    s.AcceptAgreement();
    s.AnswerLoadDialog(old.path, old.password);
    if (!read_from_store) s.AnswerSaveDialog(path, "new789");
    EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
    Lines lines = StepsBeforeFinal(s, r::kDone);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[5], Step(6, 6, r::kSave));
    EXPECT_EQ(lines[7], Step(8, 6, r::kImport));
    const std::string serial = s.LatestCert().serial;
    bool in_my = false;
    for (const auto& c : platform::OpenSystemStore("MY")->Certificates())
      in_my |= certInfoFromContext(c.der)["serial"] == serial && c.key_prov.has_value();
    EXPECT_TRUE(in_my) << "the new certificate with its key in \"MY\"";
    auto report = s.bench().CallsOf("activeCert");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].Field("certPath"), read_from_store ? "" : path);
    if (read_from_store) {
      EXPECT_EQ(GetPathSetting("env.userPfxFilePath"), old.path) << "still the customer's file";
    }
  }
}

}  // namespace
}  // namespace quil::testing
