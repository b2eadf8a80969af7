// crtNewCert with the file store: the agreement dialog, then the whole
// application with the save dialog, against the demo proxy.
#include <gtest/gtest.h>

#include <functional>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "demo_bench.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "workflow_test_util.h"

namespace quil::testing {
namespace {

std::string Reply(int code) { return "{'errCode':'" + std::to_string(code) + "','errMsg':'" + MakeErrorText(code) + "'}"; }

TEST(ApplyWithAgreement, DecliningTheTermsEndsWith59101BeforeAnyOtherWork) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  ResetSettingsForTesting();  // a lookup now would load the settings from the proxy
  EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}),
            "{'errCode':'59101','errMsg':'<59101>您不同意憑證申請約定條款, 無法為您申請憑證'}");
  ASSERT_EQ(s.ui->dialogs.size(), 1u);
  const ui::DialogRequest& d = s.ui->dialogs[0];
  EXPECT_EQ(d.dialog, "CQUILAgmntDlg");
  EXPECT_EQ(d.caption, "QUIL 憑證中心用戶約定條款");
  EXPECT_EQ(d.ok_label, "");
  EXPECT_EQ(d.cancel_label, "關閉");
  ASSERT_EQ(d.fields.size(), 1u);
  EXPECT_EQ(d.fields[0].name, "agreement");
  EXPECT_EQ(d.fields[0].label, "");
  EXPECT_EQ(d.fields[0].kind, "page");
  EXPECT_EQ(d.fields[0].value, "agreement/apply.html");
  EXPECT_TRUE(s.bench().Calls().empty()) << "the proxy is not contacted";
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_EQ(s.ui->hides, 0);
  EXPECT_TRUE(s.ui->messages.empty());
}

TEST(ApplyWithAgreement, NewApplicationSavesTheFileAndReportsIt) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const std::string path = s.home.path() + "/QUIL/new.P12";
  s.AcceptAgreement();
  s.AnswerSaveDialog(path, "pass99");
  EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest), Step(4, 7, kSend),
                   Step(5, 7, kSave), Step(6, 7, kReport), Final(6, 7, kDone)}));
  ASSERT_EQ(s.ui->dialogs.size(), 2u);
  EXPECT_EQ(s.ui->dialogs[1].dialog, "CQUILSavePfxDlg");

  auto bytes = ReadNonEmptyFile(path);
  ASSERT_TRUE(bytes);
  CertInfoResult info = certInfoFromPkcs12(*bytes, "pass99");
  ASSERT_EQ(info.code, 0);
  auto certs = s.ProxyCerts();
  ASSERT_EQ(certs.size(), 1u);
  EXPECT_EQ(FieldOf(info.info, "serial"), certs[0].serial);
  EXPECT_EQ(certs[0].act_flg, "Y");
  auto reports = s.bench().CallsOf("activeCert");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Field("certApplyId"), std::to_string(certs[0].cert_id));
  EXPECT_EQ(reports[0].Field("certPath"), path);
  EXPECT_EQ(getSetting("env.userPfxFilePath"), path);
}

TEST(ApplyWithAgreement, SecondPlaceIsTheSeventhStepAndNeverFailsTheApplication) {
  for (bool store_broken : {false, true}) {
    SCOPED_TRACE(store_broken ? "store cannot be opened" : "store works");
    DemoSession s("pfx,store");
    ASSERT_TRUE(s.logged_in);
    if (store_broken) BlockFolder(platform::DataFolder() + "/certstore.db/x");
    s.AcceptAgreement();
    s.AnswerSaveDialog(s.home.path() + "/c.P12", "pass99");
    EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
    Lines lines = ProgressLines(s.ui.get());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], Step(7, 7, kImport));
    EXPECT_EQ(lines[7], Final(7, 7, kDone));
    if (store_broken) continue;
    auto my = platform::OpenSystemStore("MY")->Certificates();
    ASSERT_EQ(my.size(), 1u);
    EXPECT_TRUE(my[0].key_prov.has_value());
    EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], s.LatestCert().serial);
  }
}

TEST(ApplyWithAgreement, CancelledSaveLeavesTheKeyAndTheContinuationStoresIt) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  s.AcceptAgreement();  // and no answer for the save dialog: cancelled
  EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), Reply(kCancelled));
  EXPECT_EQ(ProgressLines(s.ui.get()), (Lines{Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest),
                                              Step(4, 7, kSend), Step(5, 7, kSave), Final(5, 7, kFailed)}));
  EXPECT_EQ(s.KeyFiles().size(), 1u);
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno)[0], '2');

  s.ClearUi();
  s.bench().ClearCalls();
  const std::string path = s.home.path() + "/later.P12";
  s.AcceptAgreement();
  s.AnswerSaveDialog(path, "pass99");
  EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ProgressLines(s.ui.get()), (Lines{Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kSend),
                                              Step(4, 6, kSave), Step(5, 6, kReport), Final(5, 6, kDone)}));
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  EXPECT_TRUE(applies[0].Has("csr"));
  EXPECT_EQ(applies[0].Field("csr"), "");
  EXPECT_EQ(s.KeyFiles().size(), 1u);
  EXPECT_TRUE(ReadNonEmptyFile(path).has_value());
  EXPECT_EQ(s.LatestCert().state, "0");
}

TEST(ApplyWithAgreement, FailuresPassTheStepCodesOn) {
  const Lines to_send = {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest), Step(4, 7, kSend)};
  Lines to_report = to_send;
  to_report.push_back(Step(5, 7, kSave));
  to_report.push_back(Step(6, 7, kReport));
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int code;
    Lines lines;  // progress before the final report
  } kCases[] = {
      {"no common name", [](DemoSession& s) { s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>"); },
       1, {}},
      {"status exchange fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, kFnStatusCallFailed,
       {Step(1, 0, kStart)}},
      {"status unreadable", [](DemoSession& s) { Fault(s, "getFnStatus", "malformed"); }, kFnStatusReplyUnreadable,
       {Step(1, 0, kStart)}},
      {"status refused", [](DemoSession& s) { Fault(s, "getFnStatus", "rtn:9002:no"); }, kFnStatusReplyUnreadable,
       {Step(1, 0, kStart)}},
      {"status forbids", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>01111</fnStatus></result>");
       }, kApplyNotAllowed, {Step(1, 0, kStart)}},
      {"key file not written", [](DemoSession& s) { BlockFolder(getSetting("env.userPrivateKeyFolder")); },
       kWriteFileOpenFailed, {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest)}},
      {"application exchange fails", [](DemoSession& s) { Fault(s, "applyCert", "status:500"); },
       kApplyCertCallFailed, to_send},
      {"application unreadable", [](DemoSession& s) { Fault(s, "applyCert", "malformed"); }, kCertReplyUnreadable,
       to_send},
      {"application refused", [](DemoSession& s) { Fault(s, "applyCert", "rtn:2001:no"); }, kApplyCertRefused, to_send},
      {"no application id", [](DemoSession& s) {
         s.bench().Script("applyCert", "<result><rtnCode>0</rtnCode><cert>MIIB</cert></result>");
       }, kApplyCertNoId, to_send},
      {"no certificate", [](DemoSession& s) {
         s.bench().Script("applyCert",
                          "<result><rtnCode>0</rtnCode><certInfo><certId>7</certId></certInfo></result>");
       }, kApplyCertNoCert, to_send},
      {"installation report fails", [](DemoSession& s) { Fault(s, "activeCert", "status:500"); }, kActiveCertFailed,
       to_report},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    c.arrange(s);
    s.AcceptAgreement();
    s.AnswerSaveDialog(s.home.path() + "/f.P12", "pass99");
    EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), Reply(c.code));
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

TEST(ApplyWithAgreement, UnknownStoreSettingAnswersOneWithoutMessage) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  setSetting("env.write.primaryCertStore", "floppy");
  s.AcceptAgreement();
  EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), "{'errCode':'1','errMsg':''}");
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_TRUE(s.bench().Calls().empty());
}

}  // namespace
}  // namespace quil::testing
