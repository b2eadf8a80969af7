#pragma once
// Opens the page in a window of its own: Chromium or Chrome in app mode
// with a profile folder of QUIL's, else the desktop's default browser.
#include <string>

namespace quil::host {

// True when a window was started on `url`; otherwise `problem` says why (no
// display, no browser). Every local user can read the command line of the
// browser: `url` must hold no secret.
bool OpenAppWindow(const std::string& url, std::string* problem);

}  // namespace quil::host
