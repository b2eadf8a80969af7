#pragma once
// The world of a deployment test: the demo proxy's customer with a saved
// certificate, fake browsers on PATH (browsers/fake_desktop.h), what
// deployCert and rmvBrowserCert started, and the browsers' NSS databases
// read back with certutil.
#include <map>
#include <string>
#include <vector>

#include "browsers/fake_desktop.h"
#include "demo_bench.h"

namespace quil::testing {

inline constexpr char kDeployOk[] = "{'errCode':'0','errMsg':''}";
inline constexpr char kDeployPassword[] = "abc123";

// A customer's certificate applied for and saved to `path` (with the
// store profile the application puts it into the store itself).
void IssueAndSave(DemoSession& s, const std::string& path);

struct Deployment {
  // With fake Edge, Chromium and Firefox on PATH unless `native_browsers`
  // is false (the test installs its own).
  explicit Deployment(const std::string& profile = "pfx", bool native_browsers = true);
  ~Deployment();

  std::string Deploy();
  std::string Remove();
  void ChooseBrowsers(const std::string& names);
  // The memos logged for the customer, in order.
  std::vector<std::string> Memos();
  // The deployment pages in $HOME/mero.
  std::vector<std::string> Pages();
  // The certInfo values of the one deployment page.
  std::map<std::string, std::string> PageValues();

  DemoSession s;
  FakeDesktop desktop;
  std::string chromium, firefox, edge, pfx;
  // Each program started on the page, its arguments, and whether the
  // trusted sites were there at that moment.
  std::vector<std::string> started;
  std::vector<std::vector<std::string>> arguments;
  std::vector<bool> trusted_at_start;
};

// certutil with these arguments; its output.
std::string Certutil(const std::string& args);

// Chromium's shared database of the native install in the test home.
std::string ChromiumDb(const Deployment& d);

// A Firefox profile `name` listed in profiles.ini of `base` (relative to
// home); its folder.
std::string AddFirefoxProfile(const Deployment& d, const std::string& base, const std::string& name);

// Whether the database lists the certificate named `cn` with its key.
bool HoldsCertAndKey(const std::string& db, const std::string& cn);

}  // namespace quil::testing
