// Renewal with the Windows store (R3): the old certificate looked up in
// "MY" first, the new key in a new container, the proof signed with the
// store's key, the new certificate installed with its chain.
#include <gtest/gtest.h>

#include <functional>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/cert_request.h"
#include "cert/cert_stores.h"
#include "cert/public_key_blob.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "platform/registry.h"

namespace quil::testing {
namespace {

namespace r = renew;

const std::string kEmptyHandBack = "{'errCode':'0','errMsg':'','b64Cert':'','applyId':'0'}";

std::string HandBackFor(int code) {
  return "{'errCode':'" + std::to_string(code) + "','errMsg':'" + MakeErrorText(code) + "','b64Cert':'','applyId':'0'}";
}

// The pending key records: one per key container made by a request.
int PendingKeyCount() {
  int n = 0;
  while (platform::CurrentUserHive().EnumKey(kPendingKeyRoot, n)) ++n;
  return n;
}

// The "MY" certificate with that serial, bound to a key that matches it.
bool InMyWithItsKey(const std::string& serial) {
  for (const auto& c : platform::OpenSystemStore("MY")->Certificates()) {
    if (certInfoFromContext(c.der)["serial"] != serial || !c.key_prov) continue;
    auto key = platform::AcquireCertificatePrivateKey(c);
    return key && PublicKeyBlobFromPrivateKey(key->private_key_der) == PublicKeyBlobFromCert(c.der);
  }
  return false;
}

TEST(RenewWindowsStore, SignsWithTheStoreKeyAndInstallsTheNewCertificate) {
  for (bool agreement_form : {false, true}) {
    SCOPED_TRACE(agreement_form ? "replaceCert" : "replaceCert2");
    DemoSession s("store");
    ASSERT_TRUE(s.logged_in);
    const std::string old_serial = HoldCertificateInStore(s);
    NearItsEnd(s);
    if (agreement_form) {
      s.AcceptAgreement();
      EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
    } else {
      EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "/ignored.P12", "ignored"}), kEmptyHandBack);
    }
    EXPECT_EQ(ProgressLines(s.ui.get()),
              (Lines{Step(1, 0, r::kStart), Step(2, 7, r::kStart), Step(3, 7, r::kFind), Step(4, 7, r::kRequest),
                     Step(5, 7, r::kStoreSign), Step(6, 7, r::kSend), Step(7, 7, r::kInstall), Step(8, 7, r::kReport),
                     Final(8, 7, r::kDone)}));
    EXPECT_EQ(s.ui->dialogs.size(), agreement_form ? 1u : 0u) << "the store signs without asking";

    auto certs = s.ProxyCerts();
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_EQ(certs[0].state, "0");
    EXPECT_EQ(certs[0].replaces_serial, old_serial);
    auto sent = s.bench().CallsOf("renewCert");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Field("hexSerial"), old_serial);
    EXPECT_EQ(certs[0].renewal_proof, sent[0].Field("sign"));
    EXPECT_TRUE(InMyWithItsKey(certs[0].serial));
    EXPECT_TRUE(InMyWithItsKey(old_serial)) << "the old certificate stays";
    EXPECT_EQ(PendingKeyCount(), 2);
    EXPECT_TRUE(s.KeyFiles().empty());
  }
}

TEST(RenewWindowsStore, OldCertificateMissingFromTheStoreFailsBeforeAKeyIsMade) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  HoldCertificateInStore(s);
  NearItsEnd(s);
  // This computer lost its store since.
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((platform::DataFolder() + "/certstore.db" + suffix).c_str());
  ASSERT_TRUE(platform::OpenSystemStore("MY")->Certificates().empty());
  const int keys_before = PendingKeyCount();
  EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), HandBackFor(kFindCertNoMatch));
  EXPECT_EQ(StepsBeforeFinal(s, r::kFailed), (Lines{Step(1, 0, r::kStart), Step(2, 7, r::kStart), Step(3, 7, r::kFind)}));
  EXPECT_EQ(PendingKeyCount(), keys_before) << "no key pair was made";
  EXPECT_TRUE(s.bench().CallsOf("renewCert").empty());
}

TEST(RenewWindowsStore, ContinuationAfterAFailedReportInstallsWithTheKeptContainer) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  HoldCertificateInStore(s);
  NearItsEnd(s);
  Fault(s, "activeCert", "status:500");
  EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), HandBackFor(kActiveCertFailed));
  ASSERT_EQ(s.proxy().FnStatus(s.customer.idno).substr(0, 2), "02");
  s.proxy().ClearFaults();
  s.ClearUi();
  s.bench().ClearCalls();

  EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), kEmptyHandBack);
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, r::kStart), Step(2, 5, r::kStart), Step(3, 5, r::kFind), Step(4, 5, r::kSend), Step(5, 5, r::kInstall),
                   Step(6, 5, r::kReport), Final(6, 5, r::kDone)}));
  auto sent = s.bench().CallsOf("renewCert");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Field("csr"), "");
  EXPECT_EQ(sent[0].Field("sign"), "");
  EXPECT_EQ(PendingKeyCount(), 2) << "no third key";
  EXPECT_TRUE(InMyWithItsKey(s.LatestCert().serial));
  EXPECT_EQ(s.LatestCert().state, "0");
}

TEST(RenewWindowsStore, FailuresPassTheStepCodesOn) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int code;
    Lines lines;  // progress before the final report
  } kCases[] = {
      {"no common name", NoCommonName, kRenewStoreNoCn, {}},
      {"status exchange fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, kFnStatusCallFailed,
       {Step(1, 0, r::kStart)}},
      {"status forbids", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>00111</fnStatus></result>");
       }, kRenewStoreNotAllowed, {Step(1, 0, r::kStart)}},
      {"no current certificate", [](DemoSession& s) {
         s.bench().Script("qryLastActiveCert", "<result><rtnCode>0</rtnCode></result>");
       }, kRenewStoreNoCurrentCert, {Step(1, 0, r::kStart), Step(2, 7, r::kStart)}},
      {"proxy refuses", [](DemoSession& s) { Fault(s, "renewCert", "rtn:2105:bad"); }, kRenewCertRefused,
       {Step(1, 0, r::kStart), Step(2, 7, r::kStart), Step(3, 7, r::kFind), Step(4, 7, r::kRequest), Step(5, 7, r::kStoreSign),
        Step(6, 7, r::kSend)}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("store");
    ASSERT_TRUE(s.logged_in);
    HoldCertificateInStore(s);
    NearItsEnd(s);
    c.arrange(s);
    EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), HandBackFor(c.code));
    EXPECT_EQ(StepsBeforeFinal(s, r::kFailed), c.lines);
    EXPECT_EQ(s.ui->hides, 1) << "one final report";
  }
}

TEST(RenewWindowsStore, BackupToAFileIsTheLastStepAndNeverFailsTheRenewal) {
  for (bool save_answered : {true, false}) {
    SCOPED_TRACE(save_answered ? "backup saved" : "backup cancelled");
    DemoSession s("store,pfx");
    ASSERT_TRUE(s.logged_in);
    HoldCertificateInStore(s);
    s.ClearUi();
    NearItsEnd(s);
    const std::string path = s.home.path() + "/backup.P12";
    if (save_answered) s.AnswerSaveDialog(path, "pass99");
    EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), kEmptyHandBack);
    Lines lines = StepsBeforeFinal(s, r::kDone);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Step(9, 7, r::kBackup));
    if (save_answered) {
      EXPECT_EQ(certInfoFromPkcs12(ReadFileForTest(path), "pass99").info["serial"], s.LatestCert().serial);
    }
  }
}

}  // namespace
}  // namespace quil::testing
