// crtNewCert and crtNewCert2 with the Windows store: key container, the
// issued chain in the stores, the backup as the second place.
#include <gtest/gtest.h>

#include <functional>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/cert_stores.h"
#include "cert/public_key_blob.h"
#include "demo_bench.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "workflow_test_util.h"

namespace quil::testing {
namespace {

std::string Reply(int code) { return "{'errCode':'" + std::to_string(code) + "','errMsg':'" + MakeErrorText(code) + "'}"; }

std::string Reply2(int code) {
  return "{'errCode':'" + std::to_string(code) + "','errMsg':'" + MakeErrorText(code) + "','b64Cert':'','applyId':'0'}";
}

// The customer's certificate in "MY", bound to its key container and
// pending key record, with its chain in "CA" and "ROOT".
void ExpectInstalledInStores(DemoSession& s) {
  auto my = platform::OpenSystemStore("MY")->Certificates();
  ASSERT_EQ(my.size(), 1u);
  EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], s.LatestCert().serial);
  ASSERT_TRUE(my[0].key_prov.has_value());
  auto key = platform::AcquireCertificatePrivateKey(my[0]);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(PublicKeyBlobFromPrivateKey(key->private_key_der), PublicKeyBlobFromCert(my[0].der));
  PendingKey pending = findPendingKey(PublicKeyBlobFromCert(my[0].der));
  EXPECT_TRUE(pending.found);
  EXPECT_EQ(pending.container, my[0].key_prov->container);
  EXPECT_FALSE(platform::OpenSystemStore("CA")->Certificates().empty());
  EXPECT_FALSE(platform::OpenSystemStore("ROOT")->Certificates().empty());
}

TEST(ApplyWindowsStore, HandBackFormCompletesTheWholeApplication) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(0));
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kRequest), Step(4, 6, kSend),
                   Step(5, 6, kSave), Step(6, 6, kReport), Final(6, 6, kDone)}));
  ExpectInstalledInStores(s);
  EXPECT_TRUE(s.KeyFiles().empty()) << "no key file with the Windows store";
  auto certs = s.ProxyCerts();
  ASSERT_EQ(certs.size(), 1u);
  EXPECT_EQ(certs[0].state, "0");
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  EXPECT_FALSE(applies[0].Field("csr").empty());
  EXPECT_FALSE(applies[0].Has("pwid"));
  auto reports = s.bench().CallsOf("activeCert");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Field("certApplyId"), std::to_string(certs[0].cert_id));
  EXPECT_TRUE(reports[0].Has("certPath"));
  EXPECT_EQ(reports[0].Field("certPath"), "");
}

TEST(ApplyWindowsStore, ContinuationAfterAFailedReportSendsAnEmptyCsr) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  Fault(s, "activeCert", "status:500");
  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(kActiveCertFailed));
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno)[0], '2');
  s.proxy().ClearFaults();
  s.ClearUi();
  s.bench().ClearCalls();

  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(0));
  EXPECT_EQ(ProgressLines(s.ui.get()), (Lines{Step(1, 0, kStart), Step(2, 5, kStart), Step(3, 5, kSend),
                                              Step(4, 5, kSave), Step(5, 5, kReport), Final(5, 5, kDone)}));
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  EXPECT_TRUE(applies[0].Has("csr"));
  EXPECT_EQ(applies[0].Field("csr"), "");
  ExpectInstalledInStores(s);
  EXPECT_EQ(s.LatestCert().state, "0");
}

// The copy to the file has a report of its own, at the last step: the
// totals stay 6 and, for a continuation, 5.
TEST(ApplyWindowsStore, AgreementFormBacksUpToAFileWithinTheStepTotal) {
  for (bool save_answered : {true, false}) {
    SCOPED_TRACE(save_answered ? "backup saved" : "backup cancelled");
    DemoSession s("store,pfx");
    ASSERT_TRUE(s.logged_in);
    const std::string path = s.home.path() + "/backup.P12";
    s.AcceptAgreement();
    if (save_answered) s.AnswerSaveDialog(path, "pass99");
    EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), Reply(0));
    EXPECT_EQ(ProgressLines(s.ui.get()),
              (Lines{Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kRequest), Step(4, 6, kSend),
                     Step(5, 6, kSave), Step(6, 6, kReport), Step(6, 6, kImport), Final(6, 6, kDone)}));
    ExpectInstalledInStores(s);
    ASSERT_EQ(s.ui->dialogs.size(), 2u);
    EXPECT_EQ(s.ui->dialogs[1].dialog, "CQUILSavePfxDlg");
    if (!save_answered) continue;
    auto bytes = ReadNonEmptyFile(path);
    ASSERT_TRUE(bytes);
    CertInfoResult info = certInfoFromPkcs12(*bytes, "pass99");
    ASSERT_EQ(info.code, 0);
    EXPECT_EQ(FieldOf(info.info, "serial"), s.LatestCert().serial);
  }
}

TEST(ApplyWindowsStore, ContinuationBacksUpToAFileWithinTheStepTotal) {
  DemoSession s("store,pfx");
  ASSERT_TRUE(s.logged_in);
  Fault(s, "activeCert", "status:500");
  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(kActiveCertFailed));
  s.proxy().ClearFaults();
  s.ClearUi();
  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(0));
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, kStart), Step(2, 5, kStart), Step(3, 5, kSend), Step(4, 5, kSave),
                   Step(5, 5, kReport), Step(5, 5, kImport), Final(5, 5, kDone)}));
}

TEST(ApplyWindowsStore, FailuresPassTheStepCodesOn) {
  const Lines to_send = {Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kRequest), Step(4, 6, kSend)};
  Lines to_save = to_send;
  to_save.push_back(Step(5, 6, kSave));
  Lines to_report = to_save;
  to_report.push_back(Step(6, 6, kReport));
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int code;
    Lines lines;  // progress before the final report
  } kCases[] = {
      {"no common name", [](DemoSession& s) { s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>"); },
       kApplyNoCn, {}},
      {"status exchange fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, kFnStatusCallFailed,
       {Step(1, 0, kStart)}},
      {"status unreadable", [](DemoSession& s) { Fault(s, "getFnStatus", "malformed"); }, kFnStatusReplyUnreadable,
       {Step(1, 0, kStart)}},
      {"status forbids", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>01111</fnStatus></result>");
       }, kApplyStoreNotAllowed, {Step(1, 0, kStart)}},
      {"key container not created", [](DemoSession&) { BlockFolder(platform::DataFolder() + "/certstore.db/x"); },
       kContainerCreateFailed, {Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kRequest)}},
      {"application refused", [](DemoSession& s) { Fault(s, "applyCert", "rtn:2001:no"); }, kApplyCertRefused, to_send},
      {"certificate not base64", [](DemoSession& s) {
         s.bench().Script("applyCert", "<result><rtnCode>0</rtnCode><cert>@@@@</cert>"
                                       "<certInfo><certId>7</certId></certInfo></result>");
       }, kInstallChainBase64Failed, to_save},
      {"certificate not a bundle", [](DemoSession& s) {
         s.bench().Script("applyCert", "<result><rtnCode>0</rtnCode><cert>QUJDRA==</cert>"
                                       "<certInfo><certId>7</certId></certInfo></result>");
       }, kInstallChainCountFailed, to_save},
      {"installation report fails", [](DemoSession& s) { Fault(s, "activeCert", "status:500"); }, kActiveCertFailed,
       to_report},
  };
  for (bool agreement_form : {false, true}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(agreement_form ? "crtNewCert: " : "crtNewCert2: ") + c.name);
      DemoSession s("store");
      ASSERT_TRUE(s.logged_in);
      c.arrange(s);
      std::string reply;
      if (agreement_form) {
        s.AcceptAgreement();
        EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), Reply(c.code));
      } else {
        EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), Reply2(c.code));
      }
      Lines lines = ProgressLines(s.ui.get());
      if (!c.lines.empty()) {
        ASSERT_EQ(lines.size(), c.lines.size() + 1);
        EXPECT_EQ(lines.back().substr(lines.back().find(' ') + 1), kFailed);
        lines.pop_back();
      }
      EXPECT_EQ(lines, c.lines);
      EXPECT_EQ(s.ui->hides, 1) << "one final report";
    }
  }
}

}  // namespace
}  // namespace quil::testing
