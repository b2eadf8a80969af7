#include "app/host/browser_window.h"

#include <unistd.h>

#include <vector>

#include "platform/environment.h"
#include "platform/process.h"

namespace quil::host {

bool OpenAppWindow(const std::string& url, std::string* problem) {
  if (platform::GetEnv("DISPLAY").empty() && platform::GetEnv("WAYLAND_DISPLAY").empty()) {
    *problem = "no graphical display (DISPLAY and WAYLAND_DISPLAY are unset)";
    return false;
  }
  const char* const kBrowsers[] = {"chromium", "chromium-browser", "google-chrome",
                                   "google-chrome-stable"};
  std::string profile = platform::StateFolder() + "/browser-profile";
  platform::MakeFolders(profile);
  for (const char* browser : kBrowsers) {
    if (!platform::HasProgram(browser)) continue;
    // The window around a 687 x 470 page.
    std::vector<std::string> args = {"--app=" + url, "--user-data-dir=" + profile,
                                     "--window-size=703,540", "--window-position=0,0",
                                     "--no-first-run", "--no-default-browser-check",
                                     "--disable-background-networking", "--disable-sync"};
    if (geteuid() == 0) args.push_back("--no-sandbox");
    if (platform::StartProcess(browser, args)) return true;
  }
  if (platform::ShellOpen(url)) return true;
  *problem = "no Chromium or Chrome found and xdg-open failed";
  return false;
}

}  // namespace quil::host
