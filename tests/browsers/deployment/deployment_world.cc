#include "deployment_world.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "browsers/browser_deployment.h"
#include "browsers/trusted_sites.h"
#include "platform/registry.h"

namespace quil::testing {

void IssueAndSave(DemoSession& s, const std::string& path) {
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  if (!issued["b64Cert"].empty()) {
    ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], path, kDeployPassword}), kDeployOk);
  }
  s.ClearUi();
}

Deployment::Deployment(const std::string& profile, bool native_browsers) : s(profile), desktop(s.home) {
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

Deployment::~Deployment() { SetStartObserverForTesting(nullptr); }

std::string Deployment::Deploy() {
  return s.Call("deployCert", {s.customer.idno, s.customer.aid, pfx, kDeployPassword});
}

std::string Deployment::Remove() { return s.Call("rmvBrowserCert", {s.customer.idno, s.customer.aid}); }

void Deployment::ChooseBrowsers(const std::string& names) {
  s.ui->dialog_answers.push_back(ui::DialogValues{{"browsers", names}});
}

std::vector<std::string> Deployment::Memos() {
  std::vector<std::string> memos;
  for (const auto& r : s.proxy().AuditRecords())
    if (r.id == s.customer.idno && r.funcid == "7") memos.push_back(r.memo);
  return memos;
}

std::vector<std::string> Deployment::Pages() {
  std::vector<std::string> pages;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(s.home.path() + "/mero", ec))
    pages.push_back(e.path().string());
  return pages;
}

std::map<std::string, std::string> Deployment::PageValues() {
  std::map<std::string, std::string> values;
  auto pages = Pages();
  EXPECT_EQ(pages.size(), 1u);
  if (pages.size() != 1) return values;
  std::string page = ReadFileForTest(pages[0]);
  static const std::regex kLine("\\n\"([A-Za-z0-9]+)\":\"([^\"]*)\"");
  for (std::sregex_iterator it(page.begin(), page.end(), kLine), end; it != end; ++it) values[(*it)[1]] = (*it)[2];
  return values;
}

std::string Certutil(const std::string& args) {
  std::string out;
  RunCommand("/usr/bin/certutil " + args, &out);
  return out;
}

std::string ChromiumDb(const Deployment& d) { return d.s.home.path() + "/.local/share/pki/nssdb"; }

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

bool HoldsCertAndKey(const std::string& db, const std::string& cn) {
  std::string certs = Certutil("-L -d sql:" + db);
  std::string keys = Certutil("-K -d sql:" + db + " -f /dev/null");
  return certs.find(cn) != std::string::npos && certs.find("u,u,u") != std::string::npos &&
         keys.find(cn) != std::string::npos;
}

}  // namespace quil::testing
