// deployCert and rmvBrowserCert against the demo proxy, with fake browsers
// on PATH: the dialog, the page, the browsers started, the logs, and what
// the browsers' NSS databases hold afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/base64.h"
#include "base/settings.h"
#include "browsers/edge_launcher_file.h"
#include "browsers/fake_desktop.h"
#include "cert/cert_info.h"
#include "deployment_world.h"
#include "browsers/trusted_sites.h"
#include "platform/registry.h"

namespace quil::testing {
namespace {

TEST(DeployCertTest, ChosenBrowsersGetThePageAndTheCertificate) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  const auto cert = d.s.LatestCert();
  d.ChooseBrowsers("Microsoft Edge,Chrome");

  EXPECT_EQ(d.Deploy(), kDeployOk);

  // The dialog: every browser preselected ("Microsoft Edge,Chrome,FireFox"
  // in mode "M"), no password part for a file.
  ASSERT_EQ(d.s.ui->dialogs.size(), 1u);
  const auto& dialog = d.s.ui->dialogs[0];
  EXPECT_EQ(dialog.dialog, "CQUILSelBrowserDlg");
  ASSERT_EQ(dialog.fields.size(), 1u);
  EXPECT_EQ(dialog.fields[0].kind, "browsers");
  EXPECT_EQ(dialog.fields[0].choices, (std::vector<std::string>{"Microsoft Edge", "Chrome", "FireFox"}));
  EXPECT_EQ(dialog.fields[0].value, "Microsoft Edge,Chrome,FireFox");
  EXPECT_FALSE(dialog.fields[0].single);

  // The page carries the file's PKCS#12 under its own password.
  auto values = d.PageValues();
  EXPECT_EQ(values["opType"], "deploy");
  EXPECT_EQ(values["cn"], d.s.customer.cn);
  EXPECT_EQ(values["serial"], cert.serial);
  EXPECT_EQ(values["issuer"], cert.issuer);
  EXPECT_EQ(values["notAfter"], cert.not_after);
  EXPECT_EQ(values["certfinger"], "");
  EXPECT_EQ(base64Decode(values["certb64"]), base64Decode(cert.der_base64));
  CertInfoResult in_page = certInfoFromPkcs12(base64Decode(values["b64P12Cert"]), kDeployPassword);
  ASSERT_EQ(in_page.code, 0);
  EXPECT_EQ(FieldOf(in_page.info, "serial"), cert.serial);

  // Edge after its trusted sites, then Chrome; FireFox was not chosen.
  EXPECT_EQ(d.started, (std::vector<std::string>{d.edge, d.chromium}));
  EXPECT_EQ(d.trusted_at_start, (std::vector<bool>{true, true}));
  const std::string address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.desktop.Starts("microsoft-edge"), (std::vector<std::string>{address}));
  EXPECT_EQ(d.desktop.Starts("chromium"), (std::vector<std::string>{address}));
  EXPECT_EQ(readRegistryString(RegistryRoot::kCurrentUser, std::string(kZoneMapRangesKey) + "\\Range1", ":Range"),
            "127.0.0.1");
  auto lockdown = platform::CurrentUserHive().QueryValue(kLockdownKey, "iexplore.exe");
  ASSERT_TRUE(lockdown);
  EXPECT_EQ(lockdown->dword, 0u);
  EXPECT_EQ(d.Memos(), (std::vector<std::string>{"7201"}));

  // Chromium's shared database now holds the certificate with its key,
  // and the customer is told so once the browsers are on their way.
  EXPECT_TRUE(HoldsCertAndKey(ChromiumDb(d), d.s.customer.cn)) << Certutil("-L -d sql:" + ChromiumDb(d));
  EXPECT_EQ(d.arguments, (std::vector<std::vector<std::string>>{{address}, {address}}));
  EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{"瀏覽器憑證匯入結果：\nMicrosoft Edge、Chrome：已匯入憑證"}));
}

TEST(DeployCertTest, ChromeAloneTrustsNoSite) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  d.ChooseBrowsers("Chrome");
  EXPECT_EQ(d.Deploy(), kDeployOk);
  EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium}));
  EXPECT_FALSE(platform::CurrentUserHive().KeyExists(kZoneMapRangesKey));
  EXPECT_FALSE(platform::CurrentUserHive().KeyExists(kZoneMapDomainsKey));
  EXPECT_FALSE(platform::CurrentUserHive().KeyExists(kLockdownKey));
}

TEST(DeployCertTest, ModeNAsksNothingAndOpensThePreselectedBrowsers) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  setSetting("depCert.mode", "N");
  setSetting("depCert.selectedBrowser", "FireFox");
  const std::string old_layout = AddFirefoxProfile(d, ".mozilla/firefox", "a1b2.default-esr");
  const std::string new_layout = AddFirefoxProfile(d, ".config/mozilla/firefox", "c3d4.default");

  EXPECT_EQ(d.Deploy(), kDeployOk);
  EXPECT_TRUE(d.s.ui->dialogs.empty());
  EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{"即將進行瀏覽器憑證安裝",
                                                        "瀏覽器憑證匯入結果："
                                                        "\nFireFox（設定檔 a1b2.default-esr）：已匯入憑證"
                                                        "\nFireFox（設定檔 c3d4.default）：已匯入憑證"}));
  EXPECT_EQ(d.started, (std::vector<std::string>{d.firefox}));
  EXPECT_EQ(d.Memos(), (std::vector<std::string>{"7201"}));
  EXPECT_TRUE(HoldsCertAndKey(old_layout, d.s.customer.cn));
  EXPECT_TRUE(HoldsCertAndKey(new_layout, d.s.customer.cn));
  EXPECT_FALSE(std::filesystem::exists(ChromiumDb(d))) << "Chrome was not chosen";
}

TEST(DeployCertTest, DialogChecksAndCancel) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  setSetting("depCert.mode", "S");
  setSetting("depCert.selectedBrowser", "FireFox,Chrome");
  d.ChooseBrowsers("");  // every cell cleared: asked again
  d.s.ui->dialog_answers.push_back(std::nullopt);  // then closed

  EXPECT_EQ(d.Deploy(), "{'errCode':'54801','errMsg':'<54801>使用者按下「取消」鍵或關閉視窗'}");
  EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{"請先選擇目的瀏覽器"}));
  ASSERT_EQ(d.s.ui->dialogs.size(), 2u);
  EXPECT_EQ(d.s.ui->dialogs[0].fields[0].value, "FireFox") << "single mode stops at the first selection";
  EXPECT_TRUE(d.s.ui->dialogs[0].fields[0].single);
  EXPECT_FALSE(d.s.ui->dialogs[0].fields[0].as_left);
  EXPECT_EQ(d.s.ui->dialogs[1].fields[0].value, "") << "shown again as the customer left it";
  EXPECT_TRUE(d.s.ui->dialogs[1].fields[0].as_left);
  EXPECT_TRUE(d.Pages().empty());
  EXPECT_TRUE(d.started.empty());
  EXPECT_TRUE(d.Memos().empty());
}

TEST(DeployCertTest, StoreCopyIsProtectedByThePasswordOfTheDialog) {
  Deployment d("store");
  IssueAndSave(d.s, d.pfx);
  d.s.ui->dialog_answers.push_back(
      ui::DialogValues{{"browsers", "Chrome"}, {"password", "pw1234"}, {"passwordConfirm", "pw1235"}});
  d.s.ui->dialog_answers.push_back(
      ui::DialogValues{{"browsers", "Chrome"}, {"password", "pw1234"}, {"passwordConfirm", "pw1234"}});

  EXPECT_EQ(d.Deploy(), kDeployOk);
  EXPECT_EQ(d.s.ui->messages,
            (std::vector<std::string>{"密碼與密碼確認值不符", "瀏覽器憑證匯入結果：\nChrome：已匯入憑證"}));
  ASSERT_EQ(d.s.ui->dialogs.size(), 2u);
  std::vector<std::string> kinds;
  for (const auto& f : d.s.ui->dialogs[0].fields) kinds.push_back(f.name + ":" + f.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"browsers:browsers", "passwordHeading:static", "password:password",
                                             "passwordConfirm:password"}));
  auto values = d.PageValues();
  CertInfoResult in_page = certInfoFromPkcs12(base64Decode(values["b64P12Cert"]), "pw1234");
  ASSERT_EQ(in_page.code, 0);
  EXPECT_EQ(FieldOf(in_page.info, "serial"), d.s.LatestCert().serial);
  EXPECT_TRUE(HoldsCertAndKey(ChromiumDb(d), d.s.customer.cn));
}

TEST(DeployCertTest, Failures) {
  {
    SCOPED_TRACE("no current certificate");
    Deployment d;
    EXPECT_EQ(d.Deploy(), "{'errCode':'54603','errMsg':'<54603>取得最新一張憑證資訊失敗'}");
    EXPECT_TRUE(d.s.ui->dialogs.empty());
  }
  {
    SCOPED_TRACE("the template cannot be fetched");
    Deployment d;
    IssueAndSave(d.s, d.pfx);
    setSetting("depCert.templateUrl", d.s.proxy().origin() + "/depCert/missing.htm");
    d.ChooseBrowsers("Chrome");
    EXPECT_EQ(d.Deploy(), "{'errCode':'1','errMsg':'<1>不明的錯誤'}");
    EXPECT_TRUE(d.Pages().empty());
    EXPECT_TRUE(d.started.empty());
    EXPECT_FALSE(std::filesystem::exists(ChromiumDb(d)));
  }
}

TEST(DeployCertTest, DatabasesThatCannotBeUsedAreSkippedWithAMessage) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  const std::string locked = AddFirefoxProfile(d, ".mozilla/firefox", "locked");
  const std::string broken = AddFirefoxProfile(d, ".mozilla/firefox", "broken");
  const std::string good = AddFirefoxProfile(d, ".mozilla/firefox", "good");
  WriteFileForTest(d.s.home.path() + "/pw", "secret99\n");
  ASSERT_NE(Certutil("-N -d sql:" + locked + " -f " + d.s.home.path() + "/pw").find(""), std::string::npos);
  WriteFileForTest(broken + "/cert9.db", "not a database");
  WriteFileForTest(broken + "/key4.db", "not a database");
  d.ChooseBrowsers("FireFox");

  EXPECT_EQ(d.Deploy(), kDeployOk);
  // One message box: each profile, what it holds now, what to do where the
  // certificate could not go.
  ASSERT_EQ(d.s.ui->messages.size(), 1u);
  const std::string& told = d.s.ui->messages[0];
  EXPECT_EQ(told.rfind("瀏覽器憑證匯入結果：\nFireFox（設定檔 locked）：未匯入，憑證資料庫設有主控密碼", 0), 0u)
      << told;
  EXPECT_NE(told.find("請在瀏覽器的憑證管理員中自行匯入憑證檔。\nFireFox（設定檔 broken）：未匯入，憑證資料庫無法開啟"),
            std::string::npos)
      << told;
  EXPECT_NE(told.find("請關閉 Firefox 後再試一次。\nFireFox（設定檔 good）：已匯入憑證"), std::string::npos) << told;
  EXPECT_TRUE(HoldsCertAndKey(good, d.s.customer.cn));
  EXPECT_EQ(Certutil("-L -d sql:" + locked).find(d.s.customer.cn), std::string::npos);
  EXPECT_EQ(d.started, (std::vector<std::string>{d.firefox}));
}

TEST(RmvBrowserCertTest, EveryBrowserGetsTheRemovalPageAndTheCertificateGoes) {
  Deployment d;
  const std::string chrome64 = d.desktop.AddProgram("google-chrome-unstable", "Google Chrome 131.0.1.1 unstable");
  IssueAndSave(d.s, d.pfx);
  const std::string profile = AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
  d.ChooseBrowsers("Chrome,FireFox");
  ASSERT_EQ(d.Deploy(), kDeployOk);
  ASSERT_TRUE(HoldsCertAndKey(ChromiumDb(d), d.s.customer.cn));
  ASSERT_TRUE(HoldsCertAndKey(profile, d.s.customer.cn));
  d.started.clear();
  const auto cert = d.s.LatestCert();

  d.s.ClearUi();
  EXPECT_EQ(d.Remove(), kDeployOk);
  EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{"瀏覽器憑證移除結果："
                                                        "\nMicrosoft Edge、Chrome、Chrome 64：已移除憑證"
                                                        "\nFireFox（設定檔 p.default）：已移除憑證"}));
  auto values = d.PageValues();
  EXPECT_EQ(values["opType"], "remove");
  EXPECT_EQ(values["cn"], d.s.customer.cn);
  EXPECT_EQ(values["serial"], cert.serial);
  EXPECT_EQ(values["subject"], cert.subject);
  EXPECT_EQ(values["certfinger"], cert.cert_hash);
  EXPECT_EQ(values["b64P12Cert"], "");
  EXPECT_EQ(values["certb64"], "");

  // Edge through the launcher, the others directly; Chrome 64 logs nothing.
  const std::string launcher = d.s.home.path() + "/tmp/EDGELAUNCHER.exe";
  EXPECT_EQ(d.started, (std::vector<std::string>{launcher, d.chromium, chrome64, d.firefox}));
  EXPECT_EQ(d.Memos(), (std::vector<std::string>{"7201", "7201", "7213", "7211", "7212"}));
  const std::string address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.desktop.Starts("microsoft-edge"), (std::vector<std::string>{address})) << "started by the launcher";
  struct stat st;
  ASSERT_EQ(stat(launcher.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(ReadFileForTest(launcher), std::string(EdgeLauncherProgram()));

  EXPECT_FALSE(HoldsCertAndKey(ChromiumDb(d), d.s.customer.cn));
  EXPECT_EQ(Certutil("-L -d sql:" + ChromiumDb(d)).find(d.s.customer.cn), std::string::npos);
  EXPECT_EQ(Certutil("-K -d sql:" + profile + " -f /dev/null").find(d.s.customer.cn), std::string::npos);
}

TEST(RmvBrowserCertTest, LauncherThatCannotBeWrittenStillLogsEdge) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  WriteFileForTest(d.s.home.path() + "/blocked", "a file");
  setenv("TMPDIR", (d.s.home.path() + "/blocked/tmp").c_str(), 1);
  EXPECT_EQ(d.Remove(), kDeployOk);
  EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox}));
  EXPECT_EQ(d.Memos(), (std::vector<std::string>{"7213", "7211", "7212"}));
}

TEST(RmvBrowserCertTest, Failures) {
  {
    SCOPED_TRACE("no supported browser");
    DemoSession s;
    FakeDesktop desktop(s.home);
    desktop.AddProgram("google-chrome", "Google Chrome 42.0.2311.135");
    EXPECT_EQ(s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}),
              "{'errCode':'55705','errMsg':'<55705>用戶端尚未安裝任何符合系統版本要求的瀏覽器'}");
  }
  {
    SCOPED_TRACE("no current certificate");
    Deployment d;
    EXPECT_EQ(d.Remove(), "{'errCode':'55707','errMsg':'<55707>無有效憑證不需進行瀏覽器憑證移除'}");
    EXPECT_TRUE(d.started.empty());
    EXPECT_TRUE(d.Pages().empty());
  }
}

}  // namespace
}  // namespace quil::testing
