// crtNewCert2 and savePfx2 with the file store, against the demo proxy.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "demo_bench.h"
#include "platform/cert_store.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "workflow_test_util.h"

namespace quil::testing {
namespace {

struct HandBack {
  std::map<std::string, std::string> reply;
  std::string b64Cert;
  std::string applyId;
};

HandBack Apply(DemoSession& s, const std::string& pwid = "") {
  HandBack h;
  h.reply = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, pwid}));
  h.b64Cert = h.reply["b64Cert"];
  h.applyId = h.reply["applyId"];
  return h;
}

TEST(ApplyAndSavePfx, NewApplicationReportsFourOfSevenStepsThenSavesTheFile) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  HandBack h = Apply(s);
  EXPECT_EQ(h.reply["errCode"], "0");
  EXPECT_EQ(h.reply["errMsg"], "");
  EXPECT_EQ(ProgressLines(s.ui.get()), (Lines{Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest),
                                              Step(4, 7, kSend), Final(4, 7, kDone)}));
  for (const auto& v : s.ui->progress) EXPECT_EQ(v.title, "憑證申請");
  EXPECT_EQ(s.ui->hides, 1);

  // What went to the proxy: a request, the logged-in customer, no pwid.
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  EXPECT_FALSE(applies[0].Field("csr").empty());
  EXPECT_EQ(applies[0].Field("userId"), s.customer.idno);
  EXPECT_FALSE(applies[0].Has("pwid"));
  EXPECT_EQ(s.KeyFiles().size(), 1u);

  auto certs = s.ProxyCerts();
  ASSERT_EQ(certs.size(), 1u);
  EXPECT_EQ(h.applyId, std::to_string(certs[0].cert_id));
  EXPECT_EQ(certs[0].state, "10") << "issued, not installed yet";
  EXPECT_FALSE(h.b64Cert.empty());

  // The second half, into a folder that does not exist yet, written as the
  // platform writes paths.
  const std::string path = platform::WithPreferredSeparators(s.home.path() + "/certs/mine.P12");
  std::string saved = s.Call("savePfx2", {h.applyId, h.b64Cert, path, "abc123"});
  EXPECT_EQ(saved, "{'errCode':'0','errMsg':''}");
  EXPECT_TRUE(s.ui->progress.size() == 5u) << "savePfx2 shows no progress";
  auto bytes = ReadNonEmptyFile(path);
  ASSERT_TRUE(bytes);
  CertInfoResult info = certInfoFromPkcs12(*bytes, "abc123");
  ASSERT_EQ(info.code, 0);
  EXPECT_EQ(FieldOf(info.info, "cn"), s.customer.cn);
  certs = s.ProxyCerts();
  EXPECT_EQ(FieldOf(info.info, "serial"), certs[0].serial);
  EXPECT_EQ(certs[0].state, "0");
  EXPECT_EQ(certs[0].act_flg, "Y");
  EXPECT_EQ(certs[0].cert_path, path);
  EXPECT_EQ(getSetting("env.userPfxFilePath"), path);
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), "abc123");
  // No second place in this profile.
  EXPECT_TRUE(platform::OpenSystemStore("MY")->Certificates().empty());
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno)[0], '0');
}

TEST(ApplyAndSavePfx, PathIsAFileNameHereAndCodePage950ForTheProxy) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  HandBack h = Apply(s);
  ASSERT_EQ(h.reply["errCode"], "0");
  s.bench().ClearCalls();
  const std::string path = platform::WithPreferredSeparators(s.home.path() + "/我的憑證/王小明.P12");
  EXPECT_EQ(s.Call("savePfx2", {h.applyId, h.b64Cert, path, "abc123"}), "{'errCode':'0','errMsg':''}");
  EXPECT_TRUE(ReadNonEmptyFile(path).has_value());
  auto reports = s.bench().CallsOf("activeCert");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Field("certPath"), platform::ToNarrow(path));
}

TEST(ApplyAndSavePfx, ContinuationSendsAnEmptyCsrInSixStepsAndKeepsTheKey) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  HandBack first = Apply(s);
  ASSERT_EQ(first.reply["errCode"], "0");
  ASSERT_EQ(s.proxy().FnStatus(s.customer.idno)[0], '2');
  s.ClearUi();
  s.bench().ClearCalls();

  HandBack again = Apply(s);
  EXPECT_EQ(again.reply["errCode"], "0");
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(1, 0, kStart), Step(2, 6, kStart), Step(3, 6, kSend), Final(3, 6, kDone)}));
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  ASSERT_TRUE(applies[0].Has("csr"));
  EXPECT_EQ(applies[0].Field("csr"), "");
  EXPECT_EQ(again.applyId, first.applyId);
  EXPECT_EQ(s.KeyFiles().size(), 1u) << "no new key pair";

  // The kept key still completes the certificate file.
  const std::string path = s.home.path() + "/again.P12";
  EXPECT_EQ(s.Call("savePfx2", {again.applyId, again.b64Cert, path, "abc123"}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(s.LatestCert().state, "0");
}

TEST(ApplyAndSavePfx, OnlineCodeIdIsSentWithTheApplication) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const Customer& c = s.customer;
  auto asked = ReplyFields(s.Call("getOnlinePw", {c.idno, c.aid, "0", "", "19800101", "new"}));
  ASSERT_EQ(asked["rtnCode"], "0") << asked["rtnMsg"];
  std::string code;
  for (const auto& m : s.proxy().Mailbox())
    if (m.idno == c.idno) code = m.code;
  auto verified = ReplyFields(s.Call("verifyOnlinePw", {c.idno, c.aid, code, "new"}));
  ASSERT_EQ(verified["rtnCode"], "0") << verified["rtnMsg"];
  s.bench().ClearCalls();

  HandBack h = Apply(s, verified["pwid"]);
  EXPECT_EQ(h.reply["errCode"], "0");
  auto applies = s.bench().CallsOf("applyCert");
  ASSERT_EQ(applies.size(), 1u);
  EXPECT_EQ(applies[0].Field("pwid"), verified["pwid"]);
}

TEST(ApplyAndSavePfx, FailuresReplaceTheCodesOfTheSteps) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    std::string pwid;
    int code;
    Lines lines;  // progress, without the final report
  } kCases[] = {
      {"no common name", [](DemoSession& s) { s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>"); },
       "", 1, {}},
      {"status query fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, "", kApplyFileStatusFailed,
       {Step(1, 0, kStart)}},
      {"status unreadable", [](DemoSession& s) { Fault(s, "getFnStatus", "malformed"); }, "", kApplyFileStatusFailed,
       {Step(1, 0, kStart)}},
      {"status forbids", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>01111</fnStatus></result>");
       }, "", kApplyFileNotAllowed, {Step(1, 0, kStart)}},
      {"key file not written", [](DemoSession& s) { BlockFolder(getSetting("env.userPrivateKeyFolder")); }, "",
       kApplyFileRequestFailed, {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest)}},
      {"application refused", [](DemoSession& s) { Fault(s, "applyCert", "rtn:2001:no"); }, "", kApplyFileSendFailed,
       {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest), Step(4, 7, kSend)}},
      // "3" counts a request step but makes none; the demo proxy wants one.
      {"status 3", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>0</rtnCode><fnStatus>30000</fnStatus></result>");
       }, "", kApplyFileSendFailed, {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kSend)}},
      {"unknown pwid", [](DemoSession&) {}, "NOSUCHPWID", kApplyFileSendFailed,
       {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest), Step(4, 7, kSend)}},
      {"no application id", [](DemoSession& s) {
         s.bench().Script("applyCert", "<result><rtnCode>0</rtnCode><cert>MIIB</cert></result>");
       }, "", kApplyFileSendFailed, {Step(1, 0, kStart), Step(2, 7, kStart), Step(3, 7, kRequest), Step(4, 7, kSend)}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    c.arrange(s);
    auto reply = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, c.pwid}));
    EXPECT_EQ(reply["errCode"], std::to_string(c.code));
    EXPECT_EQ(reply["errMsg"], MakeErrorText(c.code));
    EXPECT_EQ(reply["b64Cert"], "");
    EXPECT_EQ(reply["applyId"], "0");
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

TEST(ApplyAndSavePfx, UnknownStoreSettingAnswersOneAndDoesNothing) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  setSetting("env.write.primaryCertStore", "");
  EXPECT_EQ(s.Call("crtNewCert2", {s.customer.idno, ""}), "{'errCode':'1','errMsg':'','b64Cert':'','applyId':'0'}");
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_EQ(s.ui->hides, 0);
  EXPECT_TRUE(s.bench().CallsOf("getFnStatus").empty());
  EXPECT_TRUE(s.bench().CallsOf("applyCert").empty());
}

TEST(ApplyAndSavePfx, SaveFailuresAndTheApplyIdText) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&, HandBack&, std::string&)> arrange;  // may change the applyId text or path
    int code;
    bool file_written;
    bool reported;
  } kCases[] = {
      {"no key file fits", [](DemoSession& s, HandBack&, std::string&) {
         for (const auto& f : s.KeyFiles()) std::remove((getSetting("env.userPrivateKeyFolder") + "/" + f).c_str());
       }, kSavePfxWriteFailed, false, false},
      {"no path", [](DemoSession&, HandBack&, std::string& path) { path.clear(); }, kSavePfxWriteFailed, false, false},
      {"report fails", [](DemoSession& s, HandBack&, std::string&) { Fault(s, "activeCert", "status:500"); },
       kSavePfxReportFailed, true, true},
      {"applyId read as atoi reads it", [](DemoSession&, HandBack& h, std::string&) { h.applyId = " +" + h.applyId + "ab"; },
       0, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    HandBack h = Apply(s);
    ASSERT_EQ(h.reply["errCode"], "0");
    const std::string applyId = h.applyId;
    std::string path = s.home.path() + "/out/cert.P12";
    c.arrange(s, h, path);
    s.bench().ClearCalls();
    s.ClearUi();
    std::string reply = s.Call("savePfx2", {h.applyId, h.b64Cert, path, "abc123"});
    EXPECT_EQ(reply, "{'errCode':'" + std::to_string(c.code) + "','errMsg':'" + MakeErrorText(c.code) + "'}");
    EXPECT_EQ(ReadNonEmptyFile(s.home.path() + "/out/cert.P12").has_value(), c.file_written);
    auto reports = s.bench().CallsOf("activeCert");
    ASSERT_EQ(reports.size(), c.reported ? 1u : 0u);
    if (c.reported) {
      EXPECT_EQ(reports[0].Field("certApplyId"), applyId);
      EXPECT_EQ(reports[0].Field("certPath"), path);
    }
    EXPECT_TRUE(s.ui->progress.empty());
  }
}

// The second place: the Windows store, filled from the file just written.
TEST(ApplyAndSavePfx, SecondPlaceGetsTheCertificateAndNeverFailsTheSave) {
  for (bool store_broken : {false, true}) {
    SCOPED_TRACE(store_broken ? "store cannot be opened" : "store works");
    DemoSession s("pfx,store");
    ASSERT_TRUE(s.logged_in);
    HandBack h = Apply(s);
    ASSERT_EQ(h.reply["errCode"], "0");
    if (store_broken) BlockFolder(platform::DataFolder() + "/certstore.db/x");
    const std::string path = s.home.path() + "/cert.P12";
    EXPECT_EQ(s.Call("savePfx2", {h.applyId, h.b64Cert, path, "abc123"}), "{'errCode':'0','errMsg':''}");
    EXPECT_EQ(s.LatestCert().act_flg, "Y");
    if (store_broken) {
      EXPECT_EQ(platform::OpenSystemStore("MY"), nullptr);
      continue;
    }
    auto my = platform::OpenSystemStore("MY")->Certificates();
    ASSERT_EQ(my.size(), 1u);
    EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], s.LatestCert().serial);
    ASSERT_TRUE(my[0].key_prov.has_value());
    EXPECT_TRUE(platform::AcquireCertificatePrivateKey(my[0]).has_value());
    EXPECT_FALSE(platform::OpenSystemStore("CA")->Certificates().empty());
    EXPECT_FALSE(platform::OpenSystemStore("ROOT")->Certificates().empty());
  }
}

}  // namespace
}  // namespace quil::testing
