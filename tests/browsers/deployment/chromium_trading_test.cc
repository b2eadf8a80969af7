// The real proof with Chromium: after deployCert, headless Chromium opens
// the demo trading page and is let in with the customer's certificate,
// picked without a prompt through the AutoSelectCertificateForUrls policy;
// after rmvBrowserCert it is refused. Chromium reads its managed policies
// from /etc/chromium/policies/managed, where the test puts a file of its
// own for the trading page's address only and removes it again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "browsers/browser_deployment.h"
#include "browsers/fake_desktop.h"
#include "demo_bench.h"

namespace quil::testing {
namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr char kPolicyFolder[] = "/etc/chromium/policies/managed";
constexpr char kPassword[] = "abc123";
constexpr char kOk[] = "{'errCode':'0','errMsg':''}";

// A managed policy file with a name no one else uses, removed when the
// test ends.
class PolicyFile {
 public:
  explicit PolicyFile(const std::string& json) {
    std::error_code ec;
    std::filesystem::create_directories(kPolicyFolder, ec);
    path_ = std::string(kPolicyFolder) + "/quil-test-client-certificate-" + std::to_string(getpid()) + "-" +
            std::to_string(std::random_device{}()) + ".json";
    std::ofstream out(path_);
    out << json;
    out.close();
    if (!out) {
      std::filesystem::remove(path_, ec);
      path_.clear();
    }
  }
  ~PolicyFile() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove(path_, ec);
  }
  bool written() const { return !path_.empty(); }

 private:
  std::string path_;
};

std::vector<devproxy::TradingVisit> WaitForVisits(devproxy::DevProxy& proxy, size_t count) {
  std::vector<devproxy::TradingVisit> visits;
  for (int i = 0; i < 300; ++i) {
    visits = proxy.TradingVisits();
    if (visits.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return visits;
}

// Headless Chromium with the test home as its home (so its NSS database is
// the one the deployment filled) and a profile of its own; it loads the
// page, prints it and ends.
void VisitWithChromium(const std::string& home, const std::string& url) {
  std::string out;
  RunCommand("(/usr/bin/env -u XDG_DATA_HOME -u XDG_CONFIG_HOME PATH=/usr/bin:/bin HOME=" + home +
                 " /usr/bin/timeout 120 " + kChromium +
                 " --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update"
                 " --no-first-run --disable-sync --disable-quic --user-data-dir=" +
                 home + "/chromium-profile --dump-dom " + url + " >/dev/null 2>&1)",
             &out);
}

std::string Certutil(const std::string& args) {
  std::string out;
  RunCommand("/usr/bin/certutil " + args, &out);
  return out;
}

TEST(ChromiumTradingTest, DeployedCertificateLetsTheCustomerInAndRemovalShutsTheDoor) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
  DemoSession s("pfx");
  FakeDesktop desktop(s.home);
  // The browser deployment starts is a fake; the test starts the real one.
  desktop.AddProgram("chromium", "Chromium 156.0.8078.129 built on Debian GNU/Linux 12");
  const std::string origin = s.proxy().trading_url().substr(0, s.proxy().trading_url().size() - 1);
  PolicyFile policy("{\"AutoSelectCertificateForUrls\": [\"{\\\"pattern\\\":\\\"" + origin +
                    "\\\",\\\"filter\\\":{}}\"]}\n");
  if (!policy.written()) GTEST_SKIP() << "cannot write a managed policy into " << kPolicyFolder;

  const std::string pfx = s.home.path() + "/QUIL/QUILCert.P12";
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], pfx, kPassword}), kOk);
  const std::string serial = s.LatestCert().serial;

  s.ui->dialog_answers.push_back(ui::DialogValues{{"browsers", "Chrome"}});
  ASSERT_EQ(s.Call("deployCert", {s.customer.idno, s.customer.aid, pfx, kPassword}), kOk);
  // Chromium trusts the demo authority for the page's own certificate as a
  // customer's would after importing the broker's root.
  const std::string db = s.home.path() + "/.local/share/pki/nssdb";
  ASSERT_NE(Certutil("-K -d sql:" + db + " -f /dev/null").find(s.customer.cn), std::string::npos);
  Certutil("-A -n \"QUIL Demo Root\" -t C,, -d sql:" + db + " -i " + s.proxy().root_cert_path());

  const size_t before = s.proxy().TradingVisits().size();
  VisitWithChromium(s.home.path(), s.proxy().trading_url());
  auto visits = WaitForVisits(s.proxy(), before + 1);
  ASSERT_GT(visits.size(), before) << "Chromium never reached the trading page";
  EXPECT_TRUE(visits.back().accepted) << visits.back().reason;
  EXPECT_EQ(visits.back().serial, serial);
  EXPECT_NE(visits.back().subject.find(s.customer.cn), std::string::npos) << visits.back().subject;

  ASSERT_EQ(s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}), kOk);
  EXPECT_EQ(Certutil("-K -d sql:" + db + " -f /dev/null").find(s.customer.cn), std::string::npos);
  const size_t after_removal = s.proxy().TradingVisits().size();
  VisitWithChromium(s.home.path(), s.proxy().trading_url());
  visits = WaitForVisits(s.proxy(), after_removal + 1);
  ASSERT_GT(visits.size(), after_removal) << "Chromium never reached the trading page";
  EXPECT_FALSE(visits.back().accepted);
  EXPECT_EQ(visits.back().serial, "");
}

// The page as Chromium shows it: what was done and what to do next, the
// certificate's public data, never its key material.
std::string ShownBody(const std::string& home, const std::string& page) {
  std::string dom;
  RunCommand("(/usr/bin/env PATH=/usr/bin:/bin HOME=" + home + " /usr/bin/timeout 120 " + std::string(kChromium) +
                 " --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update"
                 " --no-first-run --disable-sync --disable-quic --user-data-dir=" +
                 home + "/chromium-page --dump-dom file://" + page + " 2>/dev/null)",
             &dom);
  size_t body = dom.find("<body");
  return body == std::string::npos ? std::string() : dom.substr(body);
}

std::string OnlyPage(const std::string& home) {
  std::vector<std::string> pages;
  for (const auto& e : std::filesystem::directory_iterator(home + "/mero")) pages.push_back(e.path().string());
  EXPECT_EQ(pages.size(), 1u);
  return pages.empty() ? std::string() : pages[0];
}

TEST(DemoDeploymentPageTest, TellsWhatWasDoneAndWhatToDoNextWithoutKeyMaterial) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
  DemoSession s("pfx");
  FakeDesktop desktop(s.home);
  desktop.AddProgram("chromium", "Chromium 156.0.8078.129 built on Debian GNU/Linux 12");
  const std::string pfx = s.home.path() + "/QUIL/QUILCert.P12";
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], pfx, kPassword}), kOk);
  s.ui->dialog_answers.push_back(ui::DialogValues{{"browsers", "Chrome"}});
  ASSERT_EQ(s.Call("deployCert", {s.customer.idno, s.customer.aid, pfx, kPassword}), kOk);

  std::string page = OnlyPage(s.home.path());
  const std::string source = ReadFileForTest(page);
  std::smatch key;
  ASSERT_TRUE(std::regex_search(source, key, std::regex("\"b64P12Cert\":\"([A-Za-z0-9+/=]{40})")));
  std::string body = ShownBody(s.home.path(), page);
  EXPECT_NE(body.find("<h1 id=\"heading\">瀏覽器憑證安裝完成</h1>"), std::string::npos) << body;
  EXPECT_NE(body.find(s.customer.cn), std::string::npos) << body;
  EXPECT_NE(body.find(s.LatestCert().serial), std::string::npos) << body;
  EXPECT_NE(body.find("前往示範網路下單"), std::string::npos) << body;
  EXPECT_NE(body.find("請選擇名稱為「" + s.customer.cn + "」的憑證"), std::string::npos) << body;
  EXPECT_EQ(body.find(key[1].str()), std::string::npos) << "the PKCS#12 is never shown";
  EXPECT_EQ(body.find("b64P12Cert"), std::string::npos) << body;
  EXPECT_EQ(body.find("certb64"), std::string::npos) << body;

  ASSERT_EQ(s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}), kOk);
  body = ShownBody(s.home.path(), OnlyPage(s.home.path()));
  EXPECT_NE(body.find("<h1 id=\"heading\">瀏覽器憑證已移除</h1>"), std::string::npos) << body;
  EXPECT_NE(body.find("請關閉這個瀏覽器的所有視窗"), std::string::npos) << body;
  EXPECT_NE(body.find("id=\"trading\" hidden"), std::string::npos) << "no way to the trading page after removal";
}

}  // namespace
}  // namespace quil::testing
