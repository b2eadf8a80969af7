// The real proof: after deployCert, Firefox ESR (headless, on a profile
// that picks the client certificate by itself) opens the demo trading page
// and is let in with the customer's certificate; after rmvBrowserCert it is
// refused. Chromium's shared database is read with certutil.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "browsers/browser_deployment.h"
#include "cert/test_pki.h"
#include "demo_bench.h"
#include "browsers/fake_desktop.h"

namespace quil::testing {
namespace {

constexpr char kFirefox[] = "/usr/bin/firefox-esr";
constexpr char kPassword[] = "abc123";
constexpr char kOk[] = "{'errCode':'0','errMsg':''}";

// Firefox started by the test in a process group of its own; ended, with
// every process of that group, when it goes out of scope.
class FirefoxRun {
 public:
  FirefoxRun(const std::string& profile, const std::string& url) {
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      setenv("MOZ_HEADLESS", "1", 1);
      setenv("PATH", "/usr/bin:/bin", 1);
      execl(kFirefox, kFirefox, "--headless", "--no-remote", "--profile", profile.c_str(), url.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ > 0) setpgid(pid_, pid_);
  }
  ~FirefoxRun() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (i == 99) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    // Content processes of the group that outlive the parent.
    kill(-pid_, SIGKILL);
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// Waits until the trading page has seen `count` visits.
std::vector<devproxy::TradingVisit> WaitForVisits(devproxy::DevProxy& proxy, size_t count) {
  std::vector<devproxy::TradingVisit> visits;
  for (int i = 0; i < 900; ++i) {
    visits = proxy.TradingVisits();
    if (visits.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return visits;
}

std::string Certutil(const std::string& args) {
  std::string out;
  RunCommand("/usr/bin/certutil " + args, &out);
  return out;
}

// A Firefox profile listed in ~/.mozilla/firefox/profiles.ini that trusts
// the demo authority for web sites and chooses client certificates by
// itself, as a customer's would after answering the certificate question.
std::string MakeProfile(const std::string& home, const std::string& root_cert) {
  const std::string base = home + "/.mozilla/firefox";
  const std::string profile = base + "/quil.default-esr";
  std::filesystem::create_directories(profile);
  std::ofstream(base + "/profiles.ini")
      << "[Profile0]\nName=default-esr\nIsRelative=1\nPath=quil.default-esr\nDefault=1\n\n"
      << "[General]\nStartWithLastProfile=1\nVersion=2\n";
  std::ofstream(profile + "/user.js")
      << "user_pref(\"security.default_personal_cert\", \"Select Automatically\");\n"
      << "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
      << "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
      << "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
      << "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
      << "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
      << "user_pref(\"app.update.disabledForTesting\", true);\n"
      << "user_pref(\"network.connectivity-service.enabled\", false);\n"
      << "user_pref(\"network.captive-portal-service.enabled\", false);\n"
      << "user_pref(\"browser.safebrowsing.update.enabled\", false);\n"
      << "user_pref(\"security.OCSP.enabled\", 0);\n"
      << "user_pref(\"network.proxy.type\", 0);\n";
  Certutil("-A -n \"QUIL Demo Root\" -t C,, -d sql:" + profile + " -i " + root_cert);
  return profile;
}

TEST(FirefoxTradingTest, DeployedCertificateLetsTheCustomerInAndRemovalShutsTheDoor) {
  if (access(kFirefox, X_OK) != 0) GTEST_SKIP() << "firefox-esr is not installed";
  DemoSession s("pfx");
  FakeDesktop desktop(s.home);
  // The browsers deployment starts are fakes; the test starts the real one.
  desktop.AddProgram("firefox", "Mozilla Firefox 115.9.1esr");
  desktop.AddProgram("chromium", "Chromium 156.0.8078.129 built on Debian GNU/Linux 12");
  const std::string pfx = s.home.path() + "/QUIL/QUILCert.P12";
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], pfx, kPassword}), kOk);
  const std::string serial = s.LatestCert().serial;
  const std::string profile = MakeProfile(s.home.path(), s.proxy().root_cert_path());
  const size_t before = s.proxy().TradingVisits().size();

  s.ui->dialog_answers.push_back(ui::DialogValues{{"browsers", "Chrome,FireFox"}});
  ASSERT_EQ(s.Call("deployCert", {s.customer.idno, s.customer.aid, pfx, kPassword}), kOk);
  const std::string chromium_db = s.home.path() + "/.local/share/pki/nssdb";
  EXPECT_NE(Certutil("-L -d sql:" + chromium_db).find(s.customer.cn), std::string::npos);
  EXPECT_NE(Certutil("-K -d sql:" + chromium_db + " -f /dev/null").find(s.customer.cn), std::string::npos);

  {
    FirefoxRun firefox(profile, s.proxy().trading_url());
    ASSERT_TRUE(firefox.started());
    auto visits = WaitForVisits(s.proxy(), before + 1);
    ASSERT_GT(visits.size(), before) << "Firefox never reached the trading page";
    EXPECT_TRUE(visits[before].accepted) << visits[before].reason;
    EXPECT_EQ(visits[before].serial, serial);
    EXPECT_NE(visits[before].subject.find(s.customer.cn), std::string::npos) << visits[before].subject;
  }

  ASSERT_EQ(s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}), kOk);
  EXPECT_EQ(Certutil("-L -d sql:" + chromium_db).find(s.customer.cn), std::string::npos);
  EXPECT_EQ(Certutil("-K -d sql:" + profile + " -f /dev/null").find(s.customer.cn), std::string::npos);
  const size_t after_removal = s.proxy().TradingVisits().size();
  {
    FirefoxRun firefox(profile, s.proxy().trading_url());
    auto visits = WaitForVisits(s.proxy(), after_removal + 1);
    ASSERT_GT(visits.size(), after_removal) << "Firefox never reached the trading page";
    EXPECT_FALSE(visits[after_removal].accepted);
    EXPECT_EQ(visits[after_removal].serial, "");
  }
}

}  // namespace
}  // namespace quil::testing
