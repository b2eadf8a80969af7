// deployCert and rmvBrowserCert against the demo proxy, with fake browsers
// on PATH and the browsers' NSS databases read back with certutil.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "base/base64.h"
#include "base/settings.h"
#include "browsers/browser_deployment.h"
#include "browsers/edge_launcher_file.h"
#include "browsers/fake_desktop.h"
#include "cert/cert_info.h"
#include "cert/test_pki.h"
#include "demo_bench.h"
#include "maintenance/trusted_sites.h"
#include "platform/registry.h"

namespace quil::testing {
namespace {

constexpr char kOk[] = "{'errCode':'0','errMsg':''}";
constexpr char kPassword[] = "abc123";

// A customer's certificate applied for and saved to `path` (with the
// store profile the application puts it into the store itself).
void IssueAndSave(DemoSession& s, const std::string& path) {
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  if (!issued["b64Cert"].empty()) {
    ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], path, kPassword}), kOk);
  }
  s.ClearUi();
}

// The world of one test: the demo proxy's customer with a saved
// certificate, and fake Edge, Chromium and Firefox.
struct Deployment {
  explicit Deployment(const std::string& profile = "pfx", bool native_browsers = true) : s(profile), desktop(s.home) {
    if (native_browsers) {
      chromium = desktop.AddProgram("chromium", "Chromium 156.0.8078.129 built on Debian GNU/Linux 12");
      firefox = desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
      edge = desktop.AddProgram("microsoft-edge", "Microsoft Edge 131.0.2903.99");
    }
    pfx = s.home.path() + "/QUIL/QUILCert.P12";
    SetStartObserverForTesting([this](const std::string& program, const std::vector<std::string>& args) {
      started.push_back(program);
      arguments.push_back(args);
      trusted_at_start.push_back(platform::CurrentUserHive().KeyExists(kZoneMapRangesKey));
    });
  }
  ~Deployment() { SetStartObserverForTesting(nullptr); }

  std::string Deploy() { return s.Call("deployCert", {s.customer.idno, s.customer.aid, pfx, kPassword}); }
  std::string Remove() { return s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}); }
  void ChooseBrowsers(const std::string& names) { s.ui->dialog_answers.push_back(ui::DialogValues{{"browsers", names}}); }

  // The memos logged for the customer, in order.
  std::vector<std::string> Memos() {
    std::vector<std::string> memos;
    for (const auto& r : s.proxy().AuditRecords())
      if (r.id == s.customer.idno && r.funcid == "7") memos.push_back(r.memo);
    return memos;
  }

  // The deployment pages in $HOME/mero.
  std::vector<std::string> Pages() {
    std::vector<std::string> pages;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(s.home.path() + "/mero", ec))
      pages.push_back(e.path().string());
    return pages;
  }

  // The certInfo values of the one deployment page.
  std::map<std::string, std::string> PageValues() {
    std::map<std::string, std::string> values;
    auto pages = Pages();
    EXPECT_EQ(pages.size(), 1u);
    if (pages.size() != 1) return values;
    std::string page = ReadFileForTest(pages[0]);
    static const std::regex kLine("\\n\"([A-Za-z0-9]+)\":\"([^\"]*)\"");
    for (std::sregex_iterator it(page.begin(), page.end(), kLine), end; it != end; ++it)
      values[(*it)[1]] = (*it)[2];
    return values;
  }

  DemoSession s;
  FakeDesktop desktop;
  std::string chromium, firefox, edge, pfx;
  std::vector<std::string> started;
  std::vector<std::vector<std::string>> arguments;
  std::vector<bool> trusted_at_start;
};

std::string Certutil(const std::string& args) {
  std::string out;
  RunCommand("/usr/bin/certutil " + args, &out);
  return out;
}

std::string ChromiumDb(const Deployment& d) { return d.s.home.path() + "/.local/share/pki/nssdb"; }

// A Firefox profile listed in profiles.ini of `base` (relative to home).
std::string AddFirefoxProfile(const Deployment& d, const std::string& base, const std::string& name) {
  const std::string folder = d.s.home.path() + "/" + base;
  std::filesystem::create_directories(folder + "/" + name);
  std::ifstream in(folder + "/profiles.ini");
  std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int n = 0;
  for (size_t at = 0; (at = ini.find("[Profile", at)) != std::string::npos; ++at) ++n;
  ini += "[Profile" + std::to_string(n) + "]\nName=" + name + "\nIsRelative=1\nPath=" + name + "\n\n";
  std::ofstream(folder + "/profiles.ini") << ini;
  return folder + "/" + name;
}

// Whether the database lists the certificate named `cn` with its key.
bool HoldsCertAndKey(const std::string& db, const std::string& cn) {
  std::string certs = Certutil("-L -d sql:" + db);
  std::string keys = Certutil("-K -d sql:" + db + " -f /dev/null");
  return certs.find(cn) != std::string::npos && certs.find("u,u,u") != std::string::npos &&
         keys.find(cn) != std::string::npos;
}

TEST(DeployCertTest, ChosenBrowsersGetThePageAndTheCertificate) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  const auto cert = d.s.LatestCert();
  d.ChooseBrowsers("Microsoft Edge,Chrome");

  EXPECT_EQ(d.Deploy(), kOk);

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
  CertInfoResult in_page = certInfoFromPkcs12(base64Decode(values["b64P12Cert"]), kPassword);
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
  EXPECT_EQ(d.Deploy(), kOk);
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

  EXPECT_EQ(d.Deploy(), kOk);
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

  EXPECT_EQ(d.Deploy(), kOk);
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

  EXPECT_EQ(d.Deploy(), kOk);
  // One message box: each profile, what it holds now, what to do where the
  // certificate could not go.
  ASSERT_EQ(d.s.ui->messages.size(), 1u);
  const std::string& told = d.s.ui->messages[0];
  EXPECT_EQ(told.rfind("瀏覽器憑證匯入結果：\nFireFox（設定檔 locked）：未匯入，憑證資料庫設有主控密碼", 0), 0u) << told;
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
  ASSERT_EQ(d.Deploy(), kOk);
  ASSERT_TRUE(HoldsCertAndKey(ChromiumDb(d), d.s.customer.cn));
  ASSERT_TRUE(HoldsCertAndKey(profile, d.s.customer.cn));
  d.started.clear();
  const auto cert = d.s.LatestCert();

  d.s.ClearUi();
  EXPECT_EQ(d.Remove(), kOk);
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
  EXPECT_EQ(d.Remove(), kOk);
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


// --- the customer's other certificates ---------------------------------------

constexpr char kOtherLogin[] = "Other Bank Login";
constexpr char kCompanyRoot[] = "Company Root CA";
constexpr char kNothingRemoved[] =
    "憑證中心的憑證資料缺少序號或發行者，無法確認要移除哪一張憑證，因此未自任何瀏覽器移除憑證。"
    "如需移除，請在瀏覽器的憑證管理員中自行刪除。";

// The attributes of the issuer name of a certificate (DER).
NameParts IssuerParts(const std::string& der) {
  NameParts parts;
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (!cert) return parts;
  X509_NAME* name = X509_get_issuer_name(cert);
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(e);
    parts.emplace_back(OBJ_nid2sn(OBJ_obj2nid(X509_NAME_ENTRY_get_object(e))),
                       std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                   static_cast<size_t>(ASN1_STRING_length(value))));
  }
  X509_free(cert);
  return parts;
}

// A database that already holds what a customer's browser often holds:
// another login with its key, issued under the very issuer name of the
// customer's certificate (only the serial differs), and a company root
// trusted for web sites that has the customer certificate's serial.
void AddUnrelatedCertificates(const std::string& db, const std::string& customer_der, const std::string& serial,
                              const std::string& scratch) {
  std::filesystem::create_directories(db);
  RunCommand("/usr/bin/certutil -N -d sql:" + db + " --empty-password", nullptr);
  TestKey login_key = NewTestKey();
  CertTemplate login{{{"CN", kOtherLogin}, {"O", "Other Bank"}}, "77AA55", Constraints::kEndEntity};
  std::string login_der = IssueCert(login, login_key.key, IssuerParts(customer_der), login_key.key);
  const auto* p = reinterpret_cast<const unsigned char*>(login_der.data());
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(login_der.size()));
  PKCS12* p12 = PKCS12_create("other", kOtherLogin, login_key.key, cert, nullptr, 0, 0, 0, 0, 0);
  unsigned char* out = nullptr;
  int n = i2d_PKCS12(p12, &out);
  WriteFileForTest(scratch + "/other.p12", std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)));
  OPENSSL_free(out);
  PKCS12_free(p12);
  X509_free(cert);
  std::string log;
  EXPECT_EQ(RunCommand("/usr/bin/pk12util -i " + scratch + "/other.p12 -d sql:" + db + " -W other -k /dev/null", &log), 0)
      << log;
  TestKey root_key = NewTestKey();
  CertTemplate root{{{"CN", kCompanyRoot}, {"O", "Company"}}, serial, Constraints::kAuthority};
  WriteFileForTest(scratch + "/root.der", IssueCert(root, root_key.key, {}, root_key.key));
  EXPECT_EQ(RunCommand("/usr/bin/certutil -A -d sql:" + db + " -n '" + kCompanyRoot + "' -t C,, -i " + scratch +
                           "/root.der",
                       &log),
            0)
      << log;
}

// Everything of the unrelated certificates a browser relies on: both
// certificates, their trust, the login's key entry and the key itself.
std::string UnrelatedSnapshot(const std::string& db, const std::string& scratch) {
  std::string snapshot;
  for (const char* nick : {kOtherLogin, kCompanyRoot})
    snapshot += Certutil("-L -d sql:" + db + " -n '" + nick + "' -a");
  std::istringstream list(Certutil("-L -d sql:" + db) + Certutil("-K -d sql:" + db + " -f /dev/null"));
  for (std::string line; std::getline(list, line);)
    if (line.find(kOtherLogin) != std::string::npos || line.find(kCompanyRoot) != std::string::npos)
      snapshot += line + "\n";
  std::filesystem::remove(scratch + "/export.p12");
  std::string log, key;
  RunCommand("/usr/bin/pk12util -o " + scratch + "/export.p12 -n '" + std::string(kOtherLogin) + "' -d sql:" + db +
                 " -W x -k /dev/null",
             &log);
  RunCommand("/usr/bin/openssl pkcs12 -in " + scratch +
                 "/export.p12 -nocerts -nodes -passin pass:x | /usr/bin/openssl pkey",
             &key);
  EXPECT_NE(key.find("PRIVATE KEY"), std::string::npos) << "the other login's key is there: " << log << key;
  return snapshot + key;
}

TEST(BrowserCertificatesTest, OnlyTheCustomersCertificateComesAndGoes) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  const auto cert = d.s.LatestCert();
  const std::string der = base64Decode(cert.der_base64);
  const std::string scratch = d.s.home.path() + "/scratch";
  std::filesystem::create_directories(scratch);
  const std::string profile = AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
  std::map<std::string, std::string> before;
  for (const auto& db : {ChromiumDb(d), profile}) {
    AddUnrelatedCertificates(db, der, cert.serial, scratch);
    before[db] = UnrelatedSnapshot(db, scratch);
  }

  d.ChooseBrowsers("Chrome,FireFox");
  ASSERT_EQ(d.Deploy(), kOk);
  for (const auto& db : {ChromiumDb(d), profile}) {
    SCOPED_TRACE(db);
    EXPECT_TRUE(HoldsCertAndKey(db, d.s.customer.cn));
    EXPECT_EQ(UnrelatedSnapshot(db, scratch), before[db]);
  }

  // Records that do not name one certificate remove nothing anywhere; the
  // customer hears it once, and the removal otherwise goes as always.
  struct Case {
    const char* name;
    std::string record;  // the proxy's qryLastActiveCert reply
    std::string reply;
    std::vector<std::string> messages;
    bool starts;
  } cases[] = {
      {"only the common name", "<result><rtnCode>0</rtnCode><rtnMsg/><cn>" + d.s.customer.cn + "</cn></result>", kOk,
       {kNothingRemoved}, true},
      {"a serial without an issuer",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><serial>" + cert.serial + "</serial></result>",
       kOk, {kNothingRemoved}, true},
      {"an issuer without a serial",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><issuer>" + cert.issuer + "</issuer></result>",
       kOk, {kNothingRemoved}, true},
      {"the serial under another issuer",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><serial>" + cert.serial +
           "</serial><issuer>CN=Another CA, O=Elsewhere, C=TW</issuer></result>",
       kOk,
       {"瀏覽器憑證移除結果：\nMicrosoft Edge、Chrome：未持有此憑證\nFireFox（設定檔 p.default）：未持有此憑證"}, true},
      {"a refusal naming the common name",
       "<result><rtnCode>1</rtnCode><rtnMsg>no current certificate</rtnMsg><cn>" + d.s.customer.cn + "</cn></result>",
       "{'errCode':'55707','errMsg':'<55707>無有效憑證不需進行瀏覽器憑證移除'}", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.s.bench().Script("qryLastActiveCert", c.record);
    d.s.ClearUi();
    d.started.clear();
    EXPECT_EQ(d.Remove(), c.reply);
    EXPECT_EQ(d.s.ui->messages, c.messages);
    EXPECT_EQ(!d.started.empty(), c.starts);
    for (const auto& db : {ChromiumDb(d), profile}) {
      EXPECT_TRUE(HoldsCertAndKey(db, d.s.customer.cn)) << db;
      EXPECT_EQ(UnrelatedSnapshot(db, scratch), before[db]) << db;
    }
  }
  d.s.bench().ClearScripts();

  // The record of the current certificate: it goes with its key, nothing
  // else does.
  d.s.ClearUi();
  ASSERT_EQ(d.Remove(), kOk);
  for (const auto& db : {ChromiumDb(d), profile}) {
    SCOPED_TRACE(db);
    EXPECT_EQ(Certutil("-L -d sql:" + db).find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(Certutil("-K -d sql:" + db + " -f /dev/null").find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(UnrelatedSnapshot(db, scratch), before[db]);
  }
}

// --- browsers as Linux customers install them ----------------------------------

// A Firefox profile listed in profiles.ini under `base` (relative to home).
std::string Profile(const Deployment& d, const std::string& base, const std::string& name) {
  return AddFirefoxProfile(d, base, name);
}

TEST(BrowserCertificatesTest, SnapAndFlatpakBrowsersGetTheCertificateAndLoseItAgain) {
  struct Case {
    const char* name;
    std::function<void(Deployment&)> install;
    std::string chromium_db;  // relative to home
    std::string firefox_base;
    const char* package;  // as the message names it
  } cases[] = {
      {"snap",
       [](Deployment& d) {
         d.chromium = d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/chromium", "Chromium 130.0.6723.58 snap");
         d.firefox = d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/firefox", "Mozilla Firefox 128.0.3");
         // The snap's data folder of the installed revision.
         std::filesystem::create_directories(d.s.home.path() + "/snap/chromium/2497");
         std::filesystem::create_directory_symlink("2497", d.s.home.path() + "/snap/chromium/current");
       },
       "snap/chromium/current/.local/share/pki/nssdb", "snap/firefox/common/.mozilla/firefox", "（snap）"},
      {"Flatpak",
       [](Deployment& d) {
         d.chromium = d.firefox = d.desktop.AddProgram("flatpak", "Flatpak application 130.0.1");
         // The application's own folder, which Flatpak makes when it first runs.
         std::filesystem::create_directories(d.s.home.path() + "/.var/app/org.chromium.Chromium");
         const std::string exports = d.desktop.user_data() + "/flatpak/exports/share";
         d.desktop.AddEntry(exports, "org.chromium.Chromium.desktop",
                            d.chromium + " run --branch=stable --arch=x86_64 --command=/app/bin/chromium "
                                         "--file-forwarding org.chromium.Chromium @@u %U @@");
         d.desktop.AddEntry(exports, "org.mozilla.firefox.desktop",
                            d.firefox + " run --branch=stable --arch=x86_64 --command=firefox --file-forwarding "
                                        "org.mozilla.firefox @@u %u @@");
       },
       ".var/app/org.chromium.Chromium/data/pki/nssdb", ".var/app/org.mozilla.firefox/.mozilla/firefox",
       "（Flatpak）"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Deployment d("pfx", /*native_browsers=*/false);
    c.install(d);
    IssueAndSave(d.s, d.pfx);
    const std::string chromium_db = d.s.home.path() + "/" + c.chromium_db;
    const std::string profile = Profile(d, c.firefox_base, "packaged");
    d.ChooseBrowsers("Chrome,FireFox");

    ASSERT_EQ(d.Deploy(), kOk);
    EXPECT_TRUE(HoldsCertAndKey(chromium_db, d.s.customer.cn));
    EXPECT_TRUE(HoldsCertAndKey(profile, d.s.customer.cn));
    EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{std::string("瀏覽器憑證匯入結果：\nChrome") + c.package +
                                                          "：已匯入憑證\nFireFox" + c.package +
                                                          "（設定檔 packaged）：已匯入憑證"}));
    // Started as the package starts them: the snap's program, Flatpak's
    // "flatpak run" with the page forwarded into the sandbox.
    const std::string address = "file://" + d.Pages()[0];
    EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox}));
    if (std::string(c.name) == "snap") {
      EXPECT_EQ(d.arguments, (std::vector<std::vector<std::string>>{{address}, {address}}));
    } else {
      EXPECT_EQ(d.arguments,
                (std::vector<std::vector<std::string>>{
                    {"run", "--branch=stable", "--arch=x86_64", "--command=/app/bin/chromium", "--file-forwarding",
                     "org.chromium.Chromium", "@@u", address, "@@"},
                    {"run", "--branch=stable", "--arch=x86_64", "--command=firefox", "--file-forwarding",
                     "org.mozilla.firefox", "@@u", address, "@@"}}));
    }

    d.s.ClearUi();
    ASSERT_EQ(d.Remove(), kOk);
    EXPECT_FALSE(HoldsCertAndKey(chromium_db, d.s.customer.cn));
    EXPECT_EQ(Certutil("-K -d sql:" + profile + " -f /dev/null").find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{std::string("瀏覽器憑證移除結果：\nChrome") + c.package +
                                                          "：已移除憑證\nFireFox" + c.package +
                                                          "（設定檔 packaged）：已移除憑證"}));
  }
}

// A packaged browser that never ran has no database yet, and its package's
// own folders are its package manager's to make (snapd makes
// ~/snap/chromium/current a link to the revision's folder): nothing is
// created there, and the customer is told what to do.
TEST(BrowserCertificatesTest, AChosenBrowserWithoutADatabaseIsNamedWithWhatToDo) {
  const char kOpenFirefoxOnce[] = "找不到 Firefox 的設定檔，未匯入憑證。請先開啟並關閉 Firefox 一次，再重新匯入。";
  const char kOpenChromiumOnce[] = "找不到 Chromium 的憑證資料庫，未匯入憑證。請先開啟並關閉 Chromium 一次，再重新匯入。";
  struct Case {
    const char* name;
    std::function<void(Deployment&)> install;
    std::string told;
    std::string told_on_removal;
    const char* untouched;  // relative to home: a folder that must not come to be
  } cases[] = {
      {"a snap Firefox without a profile",
       [](Deployment& d) {
         d.firefox = d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/firefox", "Mozilla Firefox 128.0.3");
         d.chromium = d.desktop.AddProgram("chromium", "Chromium 156.0.8078.129");
       },
       std::string("瀏覽器憑證匯入結果：\nChrome：已匯入憑證\nFireFox（snap）：") + kOpenFirefoxOnce,
       "瀏覽器憑證移除結果：\nChrome：已移除憑證\nFireFox（snap）：未持有此憑證", "snap/firefox"},
      {"a snap Chromium that never ran",
       [](Deployment& d) {
         d.chromium = d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/chromium", "Chromium 130.0.6723.58 snap");
         d.firefox = d.desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
         AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
       },
       std::string("瀏覽器憑證匯入結果：\nFireFox（設定檔 p.default）：已匯入憑證\nChrome（snap）：") + kOpenChromiumOnce,
       "瀏覽器憑證移除結果：\nFireFox（設定檔 p.default）：已移除憑證\nChrome（snap）：未持有此憑證", "snap/chromium"},
      {"a Flatpak Chromium that never ran",
       [](Deployment& d) {
         d.chromium = d.desktop.AddProgram("flatpak", "Flatpak application 130.0.1");
         d.desktop.AddEntry(d.desktop.user_data() + "/flatpak/exports/share", "org.chromium.Chromium.desktop",
                            d.chromium + " run --branch=stable --arch=x86_64 --command=/app/bin/chromium "
                                         "--file-forwarding org.chromium.Chromium @@u %U @@");
         d.firefox = d.desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
         AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
       },
       std::string("瀏覽器憑證匯入結果：\nFireFox（設定檔 p.default）：已匯入憑證\nChrome（Flatpak）：") + kOpenChromiumOnce,
       "瀏覽器憑證移除結果：\nFireFox（設定檔 p.default）：已移除憑證\nChrome（Flatpak）：未持有此憑證",
       ".var/app/org.chromium.Chromium"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Deployment d("pfx", /*native_browsers=*/false);
    c.install(d);
    IssueAndSave(d.s, d.pfx);
    d.ChooseBrowsers("Chrome,FireFox");
    ASSERT_EQ(d.Deploy(), kOk);
    EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{c.told}));
    EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox})) << "the page still opens in both";
    EXPECT_FALSE(std::filesystem::exists(d.s.home.path() + "/" + c.untouched));

    d.s.ClearUi();
    ASSERT_EQ(d.Remove(), kOk);
    EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{c.told_on_removal}));
    EXPECT_FALSE(std::filesystem::exists(d.s.home.path() + "/" + c.untouched));
  }
}

// Holds a profile's lock as a running Firefox does, from a process of its
// own (a process never conflicts with its own locks).
class ProfileLock {
 public:
  explicit ProfileLock(const std::string& profile) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open((profile + "/.parentlock").c_str(), O_RDWR | O_CREAT, 0600);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      char ok = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    if (pid_ > 0 && read(ready[0], &ok, 1) == 1) held_ = ok == 1;
    close(ready[0]);
  }
  ~ProfileLock() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool held() const { return held_; }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

TEST(BrowserCertificatesTest, ARunningFirefoxIsAskedForANewTab) {
  Deployment d;
  IssueAndSave(d.s, d.pfx);
  const std::string profile = AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
  d.ChooseBrowsers("Chrome,FireFox");
  {
    ProfileLock running(profile);
    ASSERT_TRUE(running.held());
    ASSERT_EQ(d.Deploy(), kOk);
  }
  std::string address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox}));
  EXPECT_EQ(d.arguments, (std::vector<std::vector<std::string>>{{address}, {"--new-tab", address}}));
  EXPECT_TRUE(HoldsCertAndKey(profile, d.s.customer.cn)) << "its database takes the certificate all the same";

  // The "lock" link of a Firefox that ended names a process that is gone.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(gone), profile + "/lock");
  d.started.clear();
  d.arguments.clear();
  ASSERT_EQ(d.Remove(), kOk);
  address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.arguments.back(), (std::vector<std::string>{address})) << "Firefox is not running: started anew";

  // A link naming a live process: running.
  std::filesystem::remove(profile + "/lock");
  std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(getpid()), profile + "/lock");
  d.arguments.clear();
  ASSERT_EQ(d.Remove(), kOk);
  address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.arguments.back(), (std::vector<std::string>{"--new-tab", address}));
}

}  // namespace
}  // namespace quil::testing
