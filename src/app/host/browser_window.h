#pragma once
// Opens the page in a window of its own: Chromium or Chrome in app mode
// with a profile folder of QUIL's (browser_profile.h), else the desktop's
// default browser.
#include <string>
#include <vector>

namespace quil::host {

// The browser's arguments for the app window on `url` with the profile
// folder `profile`, followed by the browser's own `browser_args`.
std::vector<std::string> AppWindowArguments(const std::string& url, const std::string& profile,
                                            const std::vector<std::string>& browser_args);

// True when a window was started on `url`; otherwise `problem` says why (no
// display, no browser). Every local user can read the command line of the
// browser: `url` must hold no secret.
bool OpenAppWindow(const std::string& url, std::string* problem);

}  // namespace quil::host
