// The certificate in the browsers' own NSS databases as customers' desktops
// have them: beside other certificates that must stay as they are, in the
// databases of snap and Flatpak browsers, where a browser has none yet, and
// with a Firefox that is running.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "base/base64.h"
#include "cert/test_pki.h"
#include "deployment_world.h"

namespace quil::testing {
namespace {

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
  EXPECT_EQ(RunCommand("/usr/bin/pk12util -i " + scratch + "/other.p12 -d sql:" + db + " -W other -k /dev/null", &log),
            0)
      << log;
  TestKey root_key = NewTestKey();
  CertTemplate root{{{"CN", kCompanyRoot}, {"O", "Company"}}, serial, Constraints::kAuthority};
  WriteFileForTest(scratch + "/root.der", IssueCert(root, root_key.key, {}, root_key.key));
  EXPECT_EQ(
      RunCommand("/usr/bin/certutil -A -d sql:" + db + " -n '" + kCompanyRoot + "' -t C,, -i " + scratch + "/root.der",
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
  RunCommand(
      "/usr/bin/openssl pkcs12 -in " + scratch + "/export.p12 -nocerts -nodes -passin pass:x | /usr/bin/openssl pkey",
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
  ASSERT_EQ(d.Deploy(), kDeployOk);
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
      {"only the common name",
       "<result><rtnCode>0</rtnCode><rtnMsg/><cn>" + d.s.customer.cn + "</cn></result>",
       kDeployOk,
       {kNothingRemoved},
       true},
      {"a serial without an issuer",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><serial>" + cert.serial + "</serial></result>",
       kDeployOk,
       {kNothingRemoved},
       true},
      {"an issuer without a serial",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><issuer>" + cert.issuer + "</issuer></result>",
       kDeployOk,
       {kNothingRemoved},
       true},
      {"the serial under another issuer",
       "<result><rtnCode>0</rtnCode><cn>" + d.s.customer.cn + "</cn><serial>" + cert.serial +
           "</serial><issuer>CN=Another CA, O=Elsewhere, C=TW</issuer></result>",
       kDeployOk,
       {"瀏覽器憑證移除結果：\nMicrosoft Edge、Chrome：未持有此憑證\nFireFox（設定檔 p.default）：未持有此憑證"},
       true},
      {"a refusal naming the common name",
       "<result><rtnCode>1</rtnCode><rtnMsg>no current certificate</rtnMsg><cn>" + d.s.customer.cn + "</cn></result>",
       "{'errCode':'55707','errMsg':'<55707>無有效憑證不需進行瀏覽器憑證移除'}",
       {},
       false},
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
  ASSERT_EQ(d.Remove(), kDeployOk);
  for (const auto& db : {ChromiumDb(d), profile}) {
    SCOPED_TRACE(db);
    EXPECT_EQ(Certutil("-L -d sql:" + db).find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(Certutil("-K -d sql:" + db + " -f /dev/null").find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(UnrelatedSnapshot(db, scratch), before[db]);
  }
}

// --- browsers as Linux customers install them ----------------------------------

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
         d.chromium =
             d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/chromium", "Chromium 130.0.6723.58 snap");
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
                            d.chromium +
                                " run --branch=stable --arch=x86_64 --command=/app/bin/chromium "
                                "--file-forwarding org.chromium.Chromium @@u %U @@");
         d.desktop.AddEntry(exports, "org.mozilla.firefox.desktop",
                            d.firefox +
                                " run --branch=stable --arch=x86_64 --command=firefox --file-forwarding "
                                "org.mozilla.firefox @@u %u @@");
       },
       ".var/app/org.chromium.Chromium/data/pki/nssdb", ".var/app/org.mozilla.firefox/.mozilla/firefox", "（Flatpak）"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Deployment d("pfx", /*native_browsers=*/false);
    c.install(d);
    IssueAndSave(d.s, d.pfx);
    const std::string chromium_db = d.s.home.path() + "/" + c.chromium_db;
    const std::string profile = AddFirefoxProfile(d, c.firefox_base, "packaged");
    d.ChooseBrowsers("Chrome,FireFox");

    ASSERT_EQ(d.Deploy(), kDeployOk);
    EXPECT_TRUE(HoldsCertAndKey(chromium_db, d.s.customer.cn));
    EXPECT_TRUE(HoldsCertAndKey(profile, d.s.customer.cn));
    EXPECT_EQ(d.s.ui->messages,
              (std::vector<std::string>{std::string("瀏覽器憑證匯入結果：\nChrome") + c.package +
                                        "：已匯入憑證\nFireFox" + c.package + "（設定檔 packaged）：已匯入憑證"}));
    // Started as the package starts them: the snap's program, Flatpak's
    // "flatpak run" with the page forwarded into the sandbox.
    const std::string address = "file://" + d.Pages()[0];
    EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox}));
    if (std::string(c.name) == "snap") {
      EXPECT_EQ(d.arguments, (std::vector<std::vector<std::string>>{{address}, {address}}));
    } else {
      EXPECT_EQ(d.arguments, (std::vector<std::vector<std::string>>{
                                 {"run", "--branch=stable", "--arch=x86_64", "--command=/app/bin/chromium",
                                  "--file-forwarding", "org.chromium.Chromium", "@@u", address, "@@"},
                                 {"run", "--branch=stable", "--arch=x86_64", "--command=firefox", "--file-forwarding",
                                  "org.mozilla.firefox", "@@u", address, "@@"}}));
    }

    d.s.ClearUi();
    ASSERT_EQ(d.Remove(), kDeployOk);
    EXPECT_FALSE(HoldsCertAndKey(chromium_db, d.s.customer.cn));
    EXPECT_EQ(Certutil("-K -d sql:" + profile + " -f /dev/null").find(d.s.customer.cn), std::string::npos);
    EXPECT_EQ(d.s.ui->messages,
              (std::vector<std::string>{std::string("瀏覽器憑證移除結果：\nChrome") + c.package +
                                        "：已移除憑證\nFireFox" + c.package + "（設定檔 packaged）：已移除憑證"}));
  }
}

// A packaged browser that never ran has no database yet, and its package's
// own folders are its package manager's to make (snapd makes
// ~/snap/chromium/current a link to the revision's folder): nothing is
// created there, and the customer is told what to do.
TEST(BrowserCertificatesTest, AChosenBrowserWithoutADatabaseIsNamedWithWhatToDo) {
  const char kOpenFirefoxOnce[] = "找不到 Firefox 的設定檔，未匯入憑證。請先開啟並關閉 Firefox 一次，再重新匯入。";
  const char kOpenChromiumOnce[] =
      "找不到 Chromium 的憑證資料庫，未匯入憑證。請先開啟並關閉 Chromium 一次，再重新匯入。";
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
         d.chromium =
             d.desktop.AddProgramAt(d.desktop.install_root() + "/snap/bin/chromium", "Chromium 130.0.6723.58 snap");
         d.firefox = d.desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
         AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
       },
       std::string("瀏覽器憑證匯入結果：\nFireFox（設定檔 p.default）：已匯入憑證\nChrome（snap）：") +
           kOpenChromiumOnce,
       "瀏覽器憑證移除結果：\nFireFox（設定檔 p.default）：已移除憑證\nChrome（snap）：未持有此憑證", "snap/chromium"},
      {"a Flatpak Chromium that never ran",
       [](Deployment& d) {
         d.chromium = d.desktop.AddProgram("flatpak", "Flatpak application 130.0.1");
         d.desktop.AddEntry(d.desktop.user_data() + "/flatpak/exports/share", "org.chromium.Chromium.desktop",
                            d.chromium +
                                " run --branch=stable --arch=x86_64 --command=/app/bin/chromium "
                                "--file-forwarding org.chromium.Chromium @@u %U @@");
         d.firefox = d.desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
         AddFirefoxProfile(d, ".mozilla/firefox", "p.default");
       },
       std::string("瀏覽器憑證匯入結果：\nFireFox（設定檔 p.default）：已匯入憑證\nChrome（Flatpak）：") +
           kOpenChromiumOnce,
       "瀏覽器憑證移除結果：\nFireFox（設定檔 p.default）：已移除憑證\nChrome（Flatpak）：未持有此憑證",
       ".var/app/org.chromium.Chromium"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Deployment d("pfx", /*native_browsers=*/false);
    c.install(d);
    IssueAndSave(d.s, d.pfx);
    d.ChooseBrowsers("Chrome,FireFox");
    ASSERT_EQ(d.Deploy(), kDeployOk);
    EXPECT_EQ(d.s.ui->messages, (std::vector<std::string>{c.told}));
    EXPECT_EQ(d.started, (std::vector<std::string>{d.chromium, d.firefox})) << "the page still opens in both";
    EXPECT_FALSE(std::filesystem::exists(d.s.home.path() + "/" + c.untouched));

    d.s.ClearUi();
    ASSERT_EQ(d.Remove(), kDeployOk);
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
    ASSERT_EQ(d.Deploy(), kDeployOk);
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
  ASSERT_EQ(d.Remove(), kDeployOk);
  address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.arguments.back(), (std::vector<std::string>{address})) << "Firefox is not running: started anew";

  // A link naming a live process: running.
  std::filesystem::remove(profile + "/lock");
  std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(getpid()), profile + "/lock");
  d.arguments.clear();
  ASSERT_EQ(d.Remove(), kDeployOk);
  address = "file://" + d.Pages()[0];
  EXPECT_EQ(d.arguments.back(), (std::vector<std::string>{"--new-tab", address}));
}

}  // namespace
}  // namespace quil::testing
