// dlCert against the demo proxy: a certificate issued but never stored
// (its reply was lost) is fetched again and stored with the key this
// computer kept, in a file or in the stores.
#include <gtest/gtest.h>

#include <functional>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/cert_stores.h"
#include "cert/public_key_blob.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "platform/files.h"

namespace quil::testing {
namespace {

namespace dl {
inline constexpr char kStart[] = "開始憑證下載 ...";
inline constexpr char kFileSend[] = "送出憑證下載請求並等待回覆 ...";
inline constexpr char kFileSave[] = "正在儲存憑證檔 ...";
inline constexpr char kFileImport[] = "正在將憑證瀏覽器憑證儲存區 ...";
inline constexpr char kStoreSend[] = "送出憑證下載資訊並等待回覆 ...";
inline constexpr char kStoreInstall[] = "正在將憑證匯入瀏覽器憑證儲存區 ...";
inline constexpr char kStoreBackup[] = "正在備份憑證 ...";
inline constexpr char kReport[] = "回報憑證安裝狀態 ...";
inline constexpr char kDone[] = "憑證下載完成";
inline constexpr char kFailed[] = "憑證下載失敗";
}  // namespace dl

// An application whose reply never arrived: issued, not stored, the key
// kept on this computer.
void ApplicationReplyLost(DemoSession& s) {
  Fault(s, "applyCert", "lost,times:1");
  auto reply = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  EXPECT_NE(reply["errCode"], "0");
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno), "20001");
  s.ClearUi();
  s.bench().ClearCalls();
}

TEST(Download, LostApplicationReplyIsFetchedAgainAndSavedWithTheKeptKey) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  ApplicationReplyLost(s);
  ASSERT_EQ(KeyFilePaths(s).size(), 1u);
  // A folder that does not exist yet, written as the platform writes paths:
  // the save dialog is shown once.
  const std::string path = platform::WithPreferredSeparators(s.home.path() + "/again/cert.P12");
  s.AnswerSaveDialog(path, "pass99");
  EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(0, 0, dl::kStart), Step(1, 4, dl::kStart), Step(2, 4, dl::kFileSend), Step(3, 4, dl::kFileSave),
                   Step(4, 4, dl::kReport), Final(4, 4, dl::kDone)}));
  for (const auto& v : s.ui->progress) EXPECT_EQ(v.title, "憑證下載");
  EXPECT_EQ(s.ui->dialogs.size(), 1u) << "no agreement dialog";

  EXPECT_EQ(VerifyWithDemoAuthority(s, Pkcs12CertPem(path, "pass99")), "OK");
  EXPECT_EQ(Pkcs12PublicKey(path, "pass99"), KeyFilePublicKey(KeyFilePaths(s)[0]));
  auto cert = s.LatestCert();
  EXPECT_EQ(cert.state, "0");
  EXPECT_EQ(cert.act_flg, "Y");
  EXPECT_EQ(cert.cert_path, path);
  auto reports = s.bench().CallsOf("activeCert");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Field("certApplyId"), std::to_string(cert.cert_id));
  EXPECT_EQ(s.bench().CallsOf("dlCert")[0].Field("cn"), s.customer.cn);
}

TEST(Download, WindowsStoreInstallsWithTheKeptContainer) {
  DemoSession s("store");
  ASSERT_TRUE(s.logged_in);
  ApplicationReplyLost(s);
  EXPECT_TRUE(platform::OpenSystemStore("MY")->Certificates().empty());
  EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ProgressLines(s.ui.get()),
            (Lines{Step(0, 0, dl::kStart), Step(1, 4, dl::kStart), Step(2, 4, dl::kStoreSend),
                   Step(3, 4, dl::kStoreInstall), Step(4, 4, dl::kReport), Final(4, 4, dl::kDone)}));
  auto my = platform::OpenSystemStore("MY")->Certificates();
  ASSERT_EQ(my.size(), 1u);
  EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], s.LatestCert().serial);
  ASSERT_TRUE(my[0].key_prov.has_value()) << "bound to the kept key container";
  auto key = platform::AcquireCertificatePrivateKey(my[0]);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(PublicKeyBlobFromPrivateKey(key->private_key_der), PublicKeyBlobFromCert(my[0].der));
  EXPECT_EQ(s.LatestCert().state, "0");
  EXPECT_EQ(s.bench().CallsOf("activeCert")[0].Field("certPath"), "");
}

TEST(Download, FailuresStopAtTheirStep) {
  const std::string short_status = "<result><rtnCode>0</rtnCode><fnStatus>2000</fnStatus></result>";
  const std::string no_download = "<result><rtnCode>0</rtnCode><fnStatus>20000</fnStatus></result>";
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int file_code, store_code;
    int reports;  // step reports before the final one
  } kCases[] = {
      {"no common name", NoCommonName, quil::kFailed, kApplyNoCn, 0},
      {"status exchange fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, kFnStatusCallFailed,
       kFnStatusCallFailed, 1},
      {"a proxy without download", [&](DemoSession& s) { s.bench().Script("getFnStatus", short_status); },
       kDownloadNotOffered, kDownloadStoreNotOffered, 1},
      {"download not allowed", [&](DemoSession& s) { s.bench().Script("getFnStatus", no_download); },
       kDownloadNotAllowed, kDownloadStoreNotAllowed, 1},
      {"proxy refuses", [](DemoSession& s) { Fault(s, "dlCert", "rtn:2201:none"); }, kDlCertRefused, kDlCertRefused, 3},
      {"exchange fails", [](DemoSession& s) { Fault(s, "dlCert", "status:500"); }, kDlCertCallFailed,
       kDlCertCallFailed, 3},
      {"report fails", [](DemoSession& s) {
         s.AnswerSaveDialog(s.home.path() + "/c.P12", "pass99");
         Fault(s, "activeCert", "status:500");
       }, kActiveCertFailed, kActiveCertFailed, 5},
  };
  for (const char* profile : {"pfx", "store"}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(profile) + ": " + c.name);
      DemoSession s(profile);
      ASSERT_TRUE(s.logged_in);
      ApplicationReplyLost(s);
      c.arrange(s);
      const int code = std::string(profile) == "pfx" ? c.file_code : c.store_code;
      EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), PlainReplyFor(code));
      EXPECT_EQ(StepsBeforeFinal(s, dl::kFailed).size(), static_cast<size_t>(c.reports));
      EXPECT_EQ(s.ui->hides, 1) << "one final report";
      if (code != kActiveCertFailed) {
        EXPECT_TRUE(s.bench().CallsOf("activeCert").empty());
      }
    }
  }
}

TEST(Download, CancelledSaveDialogStoresNothingAndTheCertificateWaits) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  ApplicationReplyLost(s);
  EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), PlainReplyFor(kCancelled));
  EXPECT_EQ(StepsBeforeFinal(s, dl::kFailed).size(), 4u);
  EXPECT_TRUE(s.bench().CallsOf("activeCert").empty());
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno), "20001");
}

// With the Windows store as well, the downloaded file goes into the store
// as a fifth step of four, and a backup copy is offered after it.
TEST(Download, SecondPlaceIsAFifthStepAndNeverFailsTheDownload) {
  DemoSession s("pfx,store");
  ASSERT_TRUE(s.logged_in);
  ApplicationReplyLost(s);
  s.AnswerSaveDialog(s.home.path() + "/c.P12", "pass99");
  EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  Lines lines = StepsBeforeFinal(s, dl::kDone);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[5], Step(5, 4, dl::kFileImport));
  ASSERT_EQ(s.ui->dialogs.size(), 2u) << "the backup's save dialog, cancelled here";
  EXPECT_EQ(s.ui->dialogs[1].dialog, "CQUILSavePfxDlg");
  auto my = platform::OpenSystemStore("MY")->Certificates();
  ASSERT_EQ(my.size(), 1u);
  EXPECT_EQ(certInfoFromContext(my[0].der)["serial"], s.LatestCert().serial);
}

TEST(UnknownStoreSetting, RenewalAndDownloadAnswerOneWithoutMessageAndDoNothing) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  setSetting("env.write.primaryCertStore", "");
  EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'1','errMsg':''}");
  EXPECT_EQ(s.Call("replaceCert2", {s.customer.idno, "", ""}), "{'errCode':'1','errMsg':'','b64Cert':'','applyId':'0'}");
  s.AcceptAgreement();
  EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'1','errMsg':''}");
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_TRUE(s.bench().CallsOf("getFnStatus").empty());
}

}  // namespace
}  // namespace quil::testing
