#include "app/host/browser_window.h"

#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quil::host {

bool OpenAppWindow(const std::string& url, std::string* problem) {
  std::string no_display = platform::NoDisplayReason();
  if (!no_display.empty()) {
    *problem = no_display;
    return false;
  }
  std::string profile = platform::StateFolder() + "/browser-profile";
  platform::MakeFolders(profile);
  for (const auto& browser : platform::FindAppModeBrowsers()) {
    // The window around a 687 x 470 page.
    std::vector<std::string> args = {"--app=" + url, "--user-data-dir=" + profile,
                                     "--window-size=703,540", "--window-position=0,0",
                                     "--no-first-run", "--no-default-browser-check",
                                     "--disable-background-networking", "--disable-sync"};
    args.insert(args.end(), browser.extra_args.begin(), browser.extra_args.end());
    if (platform::StartProcess(browser.program, args)) return true;
  }
  if (platform::ShellOpen(url)) return true;
  *problem = "no Chromium, Chrome or Edge found and the default browser could not be opened";
  return false;
}

}  // namespace quil::host
