#include "browsers/browser_start.h"

#include <algorithm>

#include "platform/browser_cert_db.h"

namespace quil {

std::vector<std::string> BrowserArguments(const InstalledBrowser& browser, const std::string& address,
                                          const std::string& option) {
  std::vector<std::string> args;
  bool placed = false;
  for (const auto& a : browser.args) {
    if (a != platform::kAddressArgument) args.push_back(a);
    else if (!placed) args.push_back(address);  // the entry's other field codes stand for nothing here
    placed = placed || a == platform::kAddressArgument;
  }
  if (!placed) args.push_back(address);
  if (option.empty()) return args;
  auto before = std::find(args.begin(), args.end(), address);
  if (before != args.begin() && (*(before - 1) == "@@u" || *(before - 1) == "@@")) --before;
  args.insert(before, option);
  return args;
}

bool IsRunningWithItsProfile(const InstalledBrowser& browser) {
  if (browser.id != kFirefoxId) return false;
  const auto profiles = platform::FirefoxCertDbs(browser.package);
  return std::any_of(profiles.begin(), profiles.end(),
                     [](const platform::BrowserCertDb& db) { return platform::CertDbInUse(db); });
}

std::vector<std::string> ArgumentsToOpen(const InstalledBrowser& browser, const std::string& address) {
  return BrowserArguments(browser, address, IsRunningWithItsProfile(browser) ? "--new-tab" : "");
}

}  // namespace quil
