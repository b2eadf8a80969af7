#include "app/host/browser_window.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/host/browser_profile.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quil::host {
namespace {

// The page's own size; the page itself then fits the window to the page at
// its zoom, within the screen, frame and bars included.
constexpr int kPageWidth = 687;
constexpr int kPageHeight = 470;
// The bar Chromium shows over the page for --no-sandbox.
constexpr int kFlagBarHeight = 56;

}  // namespace

std::vector<std::string> AppWindowArguments(const std::string& url, const std::string& profile,
                                            const std::vector<std::string>& browser_args) {
  bool flag_bar = std::find(browser_args.begin(), browser_args.end(), "--no-sandbox") != browser_args.end();
  int height = kPageHeight + (flag_bar ? kFlagBarHeight : 0);
  std::vector<std::string> args = {
      "--app=" + url, "--user-data-dir=" + profile,
      "--window-size=" + std::to_string(kPageWidth) + "," + std::to_string(height), "--window-position=0,0",
      "--no-first-run", "--no-default-browser-check", "--disable-background-networking", "--disable-sync",
      // No keyring question on the first start: the profile keeps no secret.
      "--password-store=basic"};
  args.insert(args.end(), browser_args.begin(), browser_args.end());
  return args;
}

bool OpenAppWindow(const std::string& url, std::string* problem) {
  std::string no_display = platform::NoDisplayReason();
  if (!no_display.empty()) {
    *problem = no_display;
    return false;
  }
  std::string profile = platform::StateFolder() + "/browser-profile";
  std::string profile_problem;
  if (!PrepareWindowProfile(profile, &profile_problem))
    std::fprintf(stderr, "quil: the window's browser profile: %s\n", profile_problem.c_str());
  for (const auto& browser : platform::FindAppModeBrowsers()) {
    if (platform::StartProcess(browser.program, AppWindowArguments(url, profile, browser.extra_args))) return true;
  }
  if (platform::ShellOpen(url)) return true;
  *problem = "no Chromium, Chrome or Edge found and the default browser could not be opened";
  return false;
}

}  // namespace quil::host
